// The C entry points beyond opening, reading and writing: device clear,
// status byte, trigger, buffers, locks, and the event calls of a library
// that delivers no events. Each body runs inside entryPoint.

#include "instruments/visa/visa.h"

#include "instruments/visa/EntryPoint.h"
#include "instruments/visa/InstrumentSession.h"
#include "instruments/visa/SessionTable.h"

#include <cstdio>
#include <string>

using visa::entryPoint;
using visa::SessionTable;

namespace {

// An instrument operation on a handle: VI_ERROR_NSUP_OPER on a resource
// manager, VI_ERROR_INV_OBJECT on anything else that is no session.
template <typename Operation> ViStatus onInstrument(ViSession vi, Operation operation)
{
    return entryPoint([&]() -> ViStatus {
        SessionTable &table = SessionTable::instance();
        if (const auto session = table.instrument(vi))
            return operation(*session);
        return table.contains(vi) ? VI_ERROR_NSUP_OPER : VI_ERROR_INV_OBJECT;
    });
}

constexpr ViUInt16 AnyMechanism = VI_QUEUE | VI_HNDLR | VI_SUSPEND_HNDLR;

// Disabling and discarding take any set of mechanisms, or all of them.
bool validMechanisms(ViUInt16 mechanism)
{
    return mechanism == VI_ALL_MECH || (mechanism != 0 && (mechanism & ~AnyMechanism) == 0);
}

// No event is ever enabled, so turning "all enabled events" off succeeds
// with `nothingToDo`, and any single event type is one not supported.
ViStatus eventsOff(ViSession vi, ViEventType eventType, ViUInt16 mechanism, ViStatus nothingToDo)
{
    return entryPoint([&]() -> ViStatus {
        if (!SessionTable::instance().contains(vi))
            return VI_ERROR_INV_OBJECT;
        if (!validMechanisms(mechanism))
            return VI_ERROR_INV_MECH;
        return eventType == VI_ALL_ENABLED_EVENTS ? nothingToDo : VI_ERROR_INV_EVENT;
    });
}

} // namespace

extern "C" {

ViStatus viClear(ViSession vi)
{
    return onInstrument(vi, [](visa::InstrumentSession &session) { return session.clear(); });
}

ViStatus viTerminate(ViObject vi, ViUInt16, ViUInt32 jobId)
{
    if (jobId != VI_NULL)
        return entryPoint([&]() -> ViStatus {
            return SessionTable::instance().contains(vi) ? VI_ERROR_INV_JOB_ID : VI_ERROR_INV_OBJECT;
        });
    return onInstrument(vi, [](visa::InstrumentSession &session) {
        session.terminate();
        return VI_SUCCESS;
    });
}

ViStatus viReadSTB(ViSession vi, ViPUInt16 status)
{
    if (status == nullptr)
        return entryPoint([&]() -> ViStatus {
            return SessionTable::instance().contains(vi) ? VI_ERROR_USER_BUF : VI_ERROR_INV_OBJECT;
        });
    *status = 0;
    return onInstrument(
        vi, [status](visa::InstrumentSession &session) { return session.readStatusByte(*status); });
}

ViStatus viAssertTrigger(ViSession vi, ViUInt16 protocol)
{
    return onInstrument(vi, [protocol](visa::InstrumentSession &session) {
        return session.assertTrigger(protocol);
    });
}

ViStatus viFlush(ViSession vi, ViUInt16 mask)
{
    return onInstrument(vi,
                        [mask](visa::InstrumentSession &session) { return session.flush(mask); });
}

ViStatus viGpibControlREN(ViSession vi, ViUInt16 mode)
{
    return onInstrument(
        vi, [mode](visa::InstrumentSession &session) { return session.controlRemote(mode); });
}

ViStatus viLock(ViSession vi, ViAccessMode lockType, ViUInt32 timeout, ViConstKeyId requestedKey,
                ViChar accessKey[])
{
    // Only a shared lock has a key; an exclusive one ignores both.
    if (lockType == VI_SHARED_LOCK && accessKey == nullptr)
        return entryPoint([&]() -> ViStatus {
            return SessionTable::instance().contains(vi) ? VI_ERROR_USER_BUF : VI_ERROR_INV_OBJECT;
        });
    const char *requested = lockType == VI_SHARED_LOCK ? requestedKey : nullptr;
    return onInstrument(vi, [&](visa::InstrumentSession &session) {
        std::string key;
        const ViStatus status = session.lock(lockType, timeout, requested, key);
        if (status >= VI_SUCCESS && lockType == VI_SHARED_LOCK)
            std::snprintf(accessKey, VI_FIND_BUFLEN, "%s", key.c_str());
        return status;
    });
}

ViStatus viUnlock(ViSession vi)
{
    return onInstrument(vi, [](visa::InstrumentSession &session) { return session.unlock(); });
}

ViStatus viEnableEvent(ViSession vi, ViEventType, ViUInt16 mechanism, ViEventFilter context)
{
    return entryPoint([&]() -> ViStatus {
        if (!SessionTable::instance().contains(vi))
            return VI_ERROR_INV_OBJECT;
        const bool oneWay =
            mechanism == VI_QUEUE || mechanism == VI_HNDLR || mechanism == VI_SUSPEND_HNDLR;
        const bool queueAndHandler =
            mechanism == (VI_QUEUE | VI_HNDLR) || mechanism == (VI_QUEUE | VI_SUSPEND_HNDLR);
        if (!oneWay && !queueAndHandler)
            return VI_ERROR_INV_MECH;
        if (context != VI_NULL)
            return VI_ERROR_INV_CONTEXT;
        return VI_ERROR_INV_EVENT; // this library delivers no events
    });
}

ViStatus viDisableEvent(ViSession vi, ViEventType eventType, ViUInt16 mechanism)
{
    return eventsOff(vi, eventType, mechanism, VI_SUCCESS_EVENT_DIS);
}

ViStatus viDiscardEvents(ViSession vi, ViEventType eventType, ViUInt16 mechanism)
{
    return eventsOff(vi, eventType, mechanism, VI_SUCCESS_QUEUE_EMPTY);
}

} // extern "C"
