#include "refresh/settings.h"

HWND g_hClient;
int g_refreshMinutes;
int g_itemDelaySeconds;
