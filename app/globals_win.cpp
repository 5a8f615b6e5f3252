#include "app/launcher.h"

char g_clientPath[MAX_PATH];
