#include "settings/ApplyPickupSettings.h"

#include <cstdint>
#include <cstring>

#include "settings/PickupSettings.h"

void ApplyPickupSettings(const char* settingsPath) {
    // Plain stores: the targets are the host's own writable data.
    WritePickupSettings(ReadSettingsFile(settingsPath), [](HostAddress address, const void* bytes, std::size_t size) {
        std::memcpy(reinterpret_cast<void*>(static_cast<std::uintptr_t>(address)), bytes, size);
    });
}
