#include "ProgressDlg.h"
