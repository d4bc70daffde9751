#include "RegLib.h"
