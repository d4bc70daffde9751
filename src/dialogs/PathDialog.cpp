#include "PathDialog.h"
