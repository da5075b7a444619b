// Host events: a call instruction of the host turned into a notification with listeners
// that run before and after the host's own callee.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <utility>

#include "host/HostGame.h"
#include "injector/hooking"
#include "plugin/HostVersion.h"

namespace plugin {

// References of five integers each: call-site address, host version, and three more that
// take no part in installation.
template <std::int64_t... Values>
struct RefList {
    static_assert(sizeof...(Values) % 5 == 0, "references come in fives");
};

// The types of the hooked call's arguments that listeners receive, and their picker.
template <class... Types>
struct ArgTypes {};
template <class Types>
struct ArgPick {};

template <template <class, HostAddress, class> class HookKind, class Refs, class Picker, class Signature>
class BaseEventI;

// An event whose listeners take nothing and return nothing. Its first listener hooks the
// call site of whichever reference matches the running host build; after that, every
// execution of that call runs the `before` listeners, the host's callee and the `after`
// listeners, and hands the callee's result back unchanged.
template <template <class, HostAddress, class> class HookKind, class Refs>
class BaseEventI<HookKind, Refs, ArgPick<ArgTypes<>>, void()> {
public:
    using Listener = std::function<void()>;
    using ListenerList = std::list<Listener>;

    bool installed = false;
    ListenerList before;
    ListenerList after;

    // Appends a copy of `listener` to `list` (this event's `before` or `after`). A plain
    // function already in that list is not added again. The first addition that adds
    // something installs the hook.
    void AddListener(ListenerList& list, const Listener& listener) {
        if (const auto* function = listener.template target<void (*)()>()) {
            for (const Listener& entry : list) {
                if (const auto* present = entry.template target<void (*)()>(); present && *present == *function) return;
            }
        }
        if (!installed) {
            installed = true;
            PatchAll(Refs{});
        }
        list.push_back(listener);
    }

    // What the hooked call runs: the `before` listeners, then `next` (the rest of the call
    // site's chain, ending in the host's callee), then the `after` listeners. Each listener
    // is called through a copy made just before its call; the next entry is looked up only
    // after it returns, so an entry appended meanwhile runs in the same pass. Nothing is
    // caught: an empty entry or continuation raises std::bad_function_call.
    void* Dispatch(injector::HookContinuation next) {
        RunListeners(before);
        void* const result = next();
        RunListeners(after);
        return result;
    }

private:
    static void RunListeners(ListenerList& list) {
        for (auto entry = list.begin(); entry != list.end(); ++entry) {
            const Listener copy = *entry;
            copy();
        }
    }

    // Hooks the call site of the reference whose build is running, if any.
    template <std::int64_t Address, std::int64_t Version, std::int64_t Third, std::int64_t Fourth, std::int64_t Fifth,
              std::int64_t... Rest>
    void PatchAll(RefList<Address, Version, Third, Fourth, Fifth, Rest...>) {
        if (CurrentHostVersion() == Version) {
            injector::install_lasting_hook<static_cast<HostAddress>(Address)>(
                [this](injector::HookContinuation next) { return Dispatch(std::move(next)); });
        }
        PatchAll(RefList<Rest...>{});
    }
    void PatchAll(RefList<>) {}
};

}  // namespace plugin
