#include "injector/assertion.h"

#include <cstdio>
#include <cstdlib>

namespace injector {

void assertion_failed(const char* message, std::string_view source, unsigned line) {
    // Plain stdio, not the runtime's assert: that one may open a message box in the host.
    std::fprintf(stderr, "Assertion failed: %s, file %.*s, line %u\n", message,
                 static_cast<int>(source.size()), source.data(), line);
    std::fflush(stderr);
    std::abort();
}

}  // namespace injector
