#pragma once

#include "instruments/visa/AbortSignal.h"
#include "instruments/visa/InputBuffer.h"
#include "instruments/visa/ResourceName.h"
#include "instruments/visa/Transport.h"

#include <memory>
#include <mutex>
#include <string>

namespace visa {

// One open instrument: its attributes, the bytes read ahead, and the read
// end rules (END, termination character, count, timeout) over any transport.
class InstrumentSession
{
public:
    static constexpr ViUInt32 DefaultTimeoutMs = 2000;

    InstrumentSession(ResourceName name, std::unique_ptr<Transport> transport);
    ~InstrumentSession(); // releases the session's locks

    ViStatus read(ViPBuf buffer, ViUInt32 count, ViUInt32 &returned);
    ViStatus write(ViConstBuf buffer, ViUInt32 count, ViUInt32 &returned);
    ViStatus setAttribute(ViAttr attribute, ViAttrState value);
    ViStatus getAttribute(ViAttr attribute, void *value);

    // Device clear: drops the bytes read ahead, then clears over the link.
    ViStatus clear();
    ViStatus readStatusByte(ViUInt16 &statusByte);
    // viAssertTrigger: only the default protocol (VI_ERROR_INV_PROT otherwise);
    // "*TRG" where the session speaks IEEE 488.2 strings, else the link's own.
    ViStatus assertTrigger(ViUInt16 protocol);
    ViStatus flush(ViUInt16 mask);
    // viGpibControlREN: remote enable, go to local and local lockout.
    ViStatus controlRemote(ViUInt16 mode);
    // viLock and viUnlock: the process's lock table, and the instrument's
    // own lock over links that have one while the session holds the
    // resource exclusively.
    ViStatus lock(ViAccessMode type, ViUInt32 timeoutMs, const char *requestedKey,
                  std::string &accessKey);
    ViStatus unlock();
    // viTerminate: ends the operation waiting on this session now, or the
    // next one to wait; it then returns VI_ERROR_ABORT. Any thread may call
    // it, while another is inside an operation.
    void terminate() { abort.raise(); }

private:
    // A failed operation that took an abort failed because of it.
    ViStatus abortedOr(ViStatus status, unsigned abortsBefore) const;
    ViStatus readLocked(ViPBuf buffer, ViUInt32 count, ViUInt32 &returned);
    ViStatus writeLocked(ViConstBuf buffer, ViUInt32 count, ViUInt32 &returned);
    bool mayAccess() const;
    // SOCKET and ASRL sessions speak IEEE 488.2 strings (*CLS, *STB?, *TRG)
    // for clear, status byte and trigger when VI_ATTR_IO_PROT is VI_PROT_4882_STRS.
    bool usesStrings() const;
    ViStatus integerAttribute(ViAttr attribute, ViAttrState &value) const;
    const char *stringAttribute(ViAttr attribute) const;

    std::mutex mutex; // one operation at a time on a session
    AbortSignal abort;
    const ResourceName name;
    std::unique_ptr<Transport> transport;
    InputBuffer input;
    IoSettings settings;
    ViUInt32 timeoutMs = DefaultTimeoutMs;
    ViUInt16 ioProtocol = VI_PROT_NORMAL;
};

} // namespace visa
