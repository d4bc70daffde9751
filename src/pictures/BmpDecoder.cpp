#include "BmpDecoder.h"
