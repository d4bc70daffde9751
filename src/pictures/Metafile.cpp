#include "Metafile.h"
