#include "src/settings/ApplyPickupSettings.h"

#include <cstring>

#include "injector/memory.h"
#include "src/settings/PickupSettings.h"

void ApplyPickupSettings(const char* settingsPath) {
    // The values are taken straight from the pieces as the file is read, without building the
    // file's map and looking each key up in it. That is on purpose: the map costs heap and time
    // on every hooked call, and taking the entries in order (the last one wins) gives the same
    // values bit for bit, which the tests and the fuzzer check.
    // Plain stores into the host's own writable data, which moves with the host's image like
    // its code does.
    WritePickupSettings(ReadPickupSettingsFile(settingsPath).values,
                        [](HostAddress address, const void* bytes, std::size_t size) {
                            std::memcpy(injector::host_ptr(address), bytes, size);
                        });
}
