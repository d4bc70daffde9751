#include "EditLib.h"
