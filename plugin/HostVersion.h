// Which build of the host is running, from the signature at each build's entry point.
#pragma once

#include "host/HostGame.h"

namespace plugin {

// The running build: 100, 110 or 120, or 0 when none is recognised. Computed on the first
// call and stored for the life of the process.
HostVersion CurrentHostVersion();

// Probes the host afresh, in the builds' order; the first signature found wins. A probe
// address that is not memory of the host's own image (the plug-in loaded into some other
// executable) does not match, rather than faulting.
HostVersion DetectHostVersion();

}  // namespace plugin
