#include "app/launcher.h"

char g_clientPath[MAX_PATH];
HWND g_hClient;
int g_refreshMinutes;
int g_itemDelaySeconds;
