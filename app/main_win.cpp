#include "app/launcher.h"

// Placeholder entry until start-up is built.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return 0; }
