// The smallest GUI-subsystem program: the start-up cost of any program
// under the same Wine, to set the update's own time against.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return 0; }
