#include "PublishUtils.h"
