#include "ImageUtils.h"
