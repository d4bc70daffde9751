#include "JpegCodec.h"
