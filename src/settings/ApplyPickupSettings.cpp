#include "src/settings/ApplyPickupSettings.h"

#include <cstring>

#include "injector/memory.h"
#include "src/settings/PickupSettings.h"

void ApplyPickupSettings(const char* settingsPath) {
    // Plain stores into the host's own writable data, which moves with the host's image
    // like its code does.
    WritePickupSettings(ReadPickupSettingValues(settingsPath), [](HostAddress address, const void* bytes, std::size_t size) {
        std::memcpy(injector::host_ptr(address), bytes, size);
    });
}
