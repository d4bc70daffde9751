#include "SettingsForm.h"
