// wineremedy.dll: the tests' remedy of wineserial.h for a program the test did not build with it,
// such as VantrelVComService.exe run by Wine's service manager. Loaded into that process before it
// opens its first port (a test starts a thread there that loads it), it puts the remedy in place in
// the Qt Core that process runs; under Windows it changes nothing.
#include "wineserial.h"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        WineSerial::install();
    return TRUE;
}
