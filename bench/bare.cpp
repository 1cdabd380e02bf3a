// The smallest Windows program: what starting any process costs here, the baseline of the start-up figures.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return 0; }
