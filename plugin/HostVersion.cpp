#include "plugin/HostVersion.h"

#include <cstdint>

#include "injector/memory.h"

namespace plugin {

HostVersion DetectHostVersion() {
    for (const Host::Build& build : Host::Builds) {
        const void* probe = injector::host_ptr(build.probe);
        if (!injector::in_host_image(probe, sizeof(std::uint32_t))) continue;
        if (injector::read_value<std::uint32_t>(probe) == Host::BuildSignature) return build.version;
    }
    return Host::UnknownVersion;
}

HostVersion CurrentHostVersion() {
    static const HostVersion version = DetectHostVersion();
    return version;
}

}  // namespace plugin
