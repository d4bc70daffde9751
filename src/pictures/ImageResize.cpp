#include "ImageResize.h"
