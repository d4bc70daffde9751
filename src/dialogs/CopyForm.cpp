#include "CopyForm.h"
