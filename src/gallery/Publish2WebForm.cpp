#include "Publish2WebForm.h"
