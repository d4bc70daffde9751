#include "ShellOps.h"
