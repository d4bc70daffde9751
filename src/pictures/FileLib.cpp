#include "FileLib.h"
