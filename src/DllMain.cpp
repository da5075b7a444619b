#include <windows.h>

namespace __gnu_cxx {
// The C++ runtime's own release of its emergency exception pool (about 19 KiB taken at
// start-up). A static runtime in a DLL never frees it by itself, so every unload would
// leave it behind in the host's heap.
void __freeres();
}  // namespace __gnu_cxx

// All the library's work happens in the runtime's static initialisation and exit list,
// which run around this entry. The only notification it needs is an unload by FreeLibrary
// (no reserved pointer); when the process ends, its memory goes with it.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) __gnu_cxx::__freeres();
    return TRUE;
}
