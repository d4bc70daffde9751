#include "MsgUtils.h"
