// A library for the stand-in host to load and free: while it is loaded, build 110's call
// site leads through its one lasting hook, which hands the host the callee's result moved
// on by one byte, so that the host can tell the hook ran.
#include "host/HostGame.h"
#include "injector/hooking"

namespace {

// During static initialisation, as the plug-in itself does it.
[[maybe_unused]] const bool hooked =
    (injector::install_lasting_hook<Host::BuildOf(110)->callSite>(
         [](injector::HookContinuation next) { return static_cast<void*>(static_cast<char*>(next()) + 1); }),
     true);

}  // namespace
