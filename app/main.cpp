// vexlo.exe: the Windows GUI entry point hands over to the launcher's start-up.
#include <windows.h>

#include "launcher/Launcher.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return vexlo::launcherMain(); }
