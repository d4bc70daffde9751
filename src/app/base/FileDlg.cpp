#include "FileDlg.h"
