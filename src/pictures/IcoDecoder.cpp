#include "IcoDecoder.h"
