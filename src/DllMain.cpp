#include <windows.h>

// All the library's work happens in the runtime's static initialisation and exit list,
// which run around this entry; the notifications themselves need nothing.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
