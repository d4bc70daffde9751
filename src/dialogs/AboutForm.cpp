#include "AboutForm.h"
