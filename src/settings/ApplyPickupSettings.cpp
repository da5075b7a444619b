#include "src/settings/ApplyPickupSettings.h"

#include <windows.h>

#include <cstring>

#include "injector/memory.h"
#include "src/settings/PickupSettings.h"

namespace {

// Closes the file however the reading ends.
struct FileHandle {
    HANDLE handle;
    ~FileHandle() { CloseHandle(handle); }
};

// The file is opened sharing deletion too. A program that saves it safely renames a new
// version over it, and right after that rename its own handle, which may delete, still holds
// the file for a moment: an open that does not share deletion (as fopen's does not) fails
// then, and that call would write every default into the game for one frame.
PickupReading ReadSettingsSharingDeletion(const char* settingsPath) {
    const HANDLE opened = CreateFileA(settingsPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE) return DefaultPickupReading();
    const FileHandle file{opened};
    return ReadPickupSettings([&file](char* buffer, std::size_t capacity) -> std::size_t {
        DWORD got = 0;
        return ReadFile(file.handle, buffer, static_cast<DWORD>(capacity), &got, nullptr) ? got : 0;  // 0 at the end or on an error
    });
}

}  // namespace

void ApplyPickupSettings(const char* settingsPath) {
    // The values are taken straight from the pieces as the file is read, without building the
    // file's map and looking each key up in it. That is on purpose: the map costs heap and time
    // on every hooked call, and taking the entries in order (the last one wins) gives the same
    // values bit for bit, which the tests and the fuzzer check.
    // Plain stores into the host's own writable data, which moves with the host's image like
    // its code does.
    WritePickupSettings(ReadSettingsSharingDeletion(settingsPath).values,
                        [](HostAddress address, const void* bytes, std::size_t size) {
                            std::memcpy(injector::host_ptr(address), bytes, size);
                        });
}
