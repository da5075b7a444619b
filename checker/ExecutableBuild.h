// Which build of the game an executable file is, by the signature the plug-in probes,
// read from the file through its section table.
#pragma once

#include <string>

#include "host/HostGame.h"

struct ExecutableBuild {
    bool readable;        // a 32-bit Windows executable whose headers could be read
    HostVersion version;  // 100, 110, 120, or 0 when none of the probes holds the signature
    std::string problem;  // why it is not readable
};

// Looks at each build's probe address, in the plug-in's order, as the file maps it when
// loaded: the first probe holding 55 89 E5 53 wins; an address in no section, or in a
// section's part that the file does not hold, does not match.
ExecutableBuild ProbeExecutable(const std::string& path);
