#include <windows.h>

#include <algorithm>
#include <array>
#include <utility>

#include "injector/memory.h"

namespace __gnu_cxx {
// The C++ runtime's release of its emergency exception pool (about 19 KiB taken at start-up),
// which a static runtime in a DLL never frees by itself.
void __freeres();
}  // namespace __gnu_cxx

// The C runtime's own entry, which runs static initialisation, DllMain and the exit list.
extern "C" BOOL WINAPI DllMainCRTStartup(HANDLE instance, DWORD reason, LPVOID reserved);

namespace {

using CreateSemaphoreFunction = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LONG, LONG, LPCWSTR);
using CloseHandleFunction = BOOL(WINAPI*)(HANDLE);

// This library's import slots for the two functions: every call the library makes to them,
// the statically linked runtime's included, goes through these.
extern "C" CreateSemaphoreFunction createSemaphoreImport asm("__imp__CreateSemaphoreW@16");
extern "C" CloseHandleFunction closeHandleImport asm("__imp__CloseHandle@4");

// Points one import slot at `replacement` while it lives. Should the slot's page refuse to
// become writable, calls go on as they were.
template <class Function>
class ImportRedirect {
public:
    ImportRedirect(Function& slot, Function replacement) : slot_(slot), original_(slot) { write(replacement); }
    ~ImportRedirect() { write(original_); }
    ImportRedirect(const ImportRedirect&) = delete;
    ImportRedirect& operator=(const ImportRedirect&) = delete;

private:
    void write(Function function) {
        // The slot is data: writable for the moment, never executable.
        const injector::protection_guard guard{&slot_, sizeof function, true, injector::lifted_access::data};
        if (guard.lifted()) slot_ = function;
    }

    Function& slot_;
    Function original_;
};

// The semaphores the runtime creates for its own locks while the library starts (the
// exception frame registry's, the one-time initialisation of statics') and never closes.
// Left open, each load and unload of the library would leave them in the host. The loader
// runs start-up and unload one library at a time, so the record needs no lock.
// Eight slots are more than the runtime's few, with room to spare; a semaphore that finds
// no free slot is simply not recorded and stays open, as it would without this record.
std::array<HANDLE, 8> runtimeSemaphores{};
CreateSemaphoreFunction createSemaphore;
CloseHandleFunction closeHandle;

HANDLE WINAPI RecordSemaphore(LPSECURITY_ATTRIBUTES attributes, LONG initial, LONG maximum, LPCWSTR name) {
    const HANDLE semaphore = createSemaphore(attributes, initial, maximum, name);
    if (const auto free = std::find(runtimeSemaphores.begin(), runtimeSemaphores.end(), nullptr);
        semaphore && free != runtimeSemaphores.end()) {
        *free = semaphore;
    }
    return semaphore;
}

// The runtime closes some of its semaphores itself at unload; those are no longer ours to close.
BOOL WINAPI ForgetClosedHandle(HANDLE handle) {
    std::replace(runtimeSemaphores.begin(), runtimeSemaphores.end(), handle, HANDLE{});
    return closeHandle(handle);
}

}  // namespace

// The library's entry point, around the C runtime's. When FreeLibrary unloads the library
// (no reserved pointer), it also gives back what the runtime would leave behind; when the
// process ends, everything goes with it.
extern "C" BOOL WINAPI GlimmerwardEntry(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        createSemaphore = createSemaphoreImport;
        const ImportRedirect redirect(createSemaphoreImport, &RecordSemaphore);
        return DllMainCRTStartup(instance, reason, reserved);
    }
    if (reason != DLL_PROCESS_DETACH || reserved != nullptr) return DllMainCRTStartup(instance, reason, reserved);
    BOOL result;
    {
        closeHandle = closeHandleImport;
        const ImportRedirect redirect(closeHandleImport, &ForgetClosedHandle);
        result = DllMainCRTStartup(instance, reason, reserved);
    }
    __gnu_cxx::__freeres();
    for (HANDLE& semaphore : runtimeSemaphores) {
        if (semaphore) CloseHandle(std::exchange(semaphore, nullptr));
    }
    return result;
}

// All the library's work happens in the runtime's static initialisation and exit list.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
