#include "src/Lustrebay.h"

#include <functional>

#include "plugin/CallSiteEvent.h"
#include "src/settings/ApplyPickupSettings.h"

Lustrebay::Lustrebay() {
    try {
        LocateSettingsFile(settingsPath);
        // Runs on the host's thread, right after the host's callee has returned. An error
        // ends that run's writes; it must not unwind into the host's code.
        const std::function<void()> listener = [this] {
            try {
                ApplyPickupSettings(settingsPath);
            } catch (...) {
            }
        };
        auto& event = plugin::CallSiteEvent();
        event.AddListener(event.after, listener);
    } catch (...) {
        // An exception leaving static initialisation would end the host's process.
    }
}

namespace {
Lustrebay lustrebay;
}  // namespace
