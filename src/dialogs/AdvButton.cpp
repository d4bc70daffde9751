#include "AdvButton.h"
