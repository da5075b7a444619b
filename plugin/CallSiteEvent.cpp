#include "plugin/CallSiteEvent.h"

namespace plugin {

CallSiteEventType& CallSiteEvent() {
    static CallSiteEventType event;
    return event;
}

}  // namespace plugin
