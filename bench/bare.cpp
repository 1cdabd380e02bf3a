// The smallest Windows program: what starting any process costs here, the baseline of the start-up figures.
// With an argument it stays until it is ended, the baseline of the memory figures.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR arguments, int) {
    if (arguments && *arguments) Sleep(INFINITE);
    return 0;
}
