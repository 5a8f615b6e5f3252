// The repair job: warning, file selection and the report dialog.
#pragma once

#include <windows.h>

// Thread entry started by command IDC_REPAIR of the setup dialog.
DWORD WINAPI RepairJob(LPVOID parameter);
