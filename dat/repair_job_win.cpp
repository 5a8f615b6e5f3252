#include "dat/repair_job.h"

// Placeholder until the repair job is built: the command starts a thread
// that ends at once.
DWORD WINAPI RepairJob(LPVOID) { return 0; }
