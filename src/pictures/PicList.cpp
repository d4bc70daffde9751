#include "PicList.h"
