// The one host event of the plug-in: the hooked call of each supported build.
#pragma once

#include "host/HostGame.h"
#include "plugin/Event.h"

namespace plugin {

using CallSiteEventType = BaseEventI<
    injector::function_hooker,
    RefList<Host::Builds[0].callSite, Host::Builds[0].version, 0, 0, 0,
            Host::Builds[1].callSite, Host::Builds[1].version, 0, 0, 0,
            Host::Builds[2].callSite, Host::Builds[2].version, 0, 0, 0>,
    ArgPick<ArgTypes<>>, void()>;

// The event, created on the first call; it lives until the library is unloaded.
CallSiteEventType& CallSiteEvent();

}  // namespace plugin
