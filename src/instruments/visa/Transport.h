#pragma once

#include "instruments/visa/Deadline.h"
#include "instruments/visa/InputBuffer.h"
#include "instruments/visa/visa.h"

#include <cstddef>

namespace visa {

// Session settings a transport needs for one transfer.
struct IoSettings
{
    bool termCharEnabled = false;
    ViUInt8 termChar = '\n';
    bool sendEnd = true;      // mark the last byte of a write with END
    bool suppressEnd = false; // raw sockets: do not take '\n' as END
};

// The link to one instrument under a session: moves bytes, knows nothing of
// the read end rules, which the session applies.
class Transport
{
public:
    virtual ~Transport() = default;

    // Sends `count` bytes; `written` tells how many went out, also on failure.
    virtual ViStatus write(const ViByte *data, std::size_t count, const IoSettings &settings,
                           const Deadline &deadline, std::size_t &written) = 0;

    // Appends at least one received byte to `in` (marking END where the link
    // reports it), or fails: VI_ERROR_TMO when nothing came before the
    // deadline, VI_ERROR_CONN_LOST when the peer has gone. `wanted` is how
    // many bytes the reader still accepts; message links request no more.
    // Whatever the peer sends, it returns by the deadline (plus the link's
    // documented grace for an answer that is owed) and appends at most a
    // fixed amount of the link's (a chunk, a message, an RPC record).
    virtual ViStatus receive(InputBuffer &in, std::size_t wanted, const IoSettings &settings,
                             const Deadline &deadline) = 0;

    // The read that asked for a reply gave up (VI_ERROR_TMO) before its end:
    // links that can tell its late rest from a later reply drop it.
    virtual void readTimedOut() {}

    // A byte that ends a read as END does on this link, or -1 for none.
    virtual int endCharacter(const IoSettings &) const { return -1; }

    // Device clear: the instrument abandons the message it is parsing and the
    // reply it owes; the link drops whatever it still holds of either.
    virtual ViStatus clear(const Deadline &) { return VI_ERROR_NSUP_OPER; }

    // The instrument's status byte, read beside the message stream (VXI-11
    // device_readstb, USBTMC READ_STATUS_BYTE, HiSLIP AsyncStatusQuery).
    virtual ViStatus readStatusByte(ViUInt16 &, const Deadline &) { return VI_ERROR_NSUP_OPER; }

    // The instrument's own exclusive lock, for links that have one; other
    // links leave locking to the process (VI_SUCCESS, nothing sent).
    virtual ViStatus lockExclusive(const Deadline &) { return VI_SUCCESS; }
    virtual ViStatus unlock(const Deadline &) { return VI_SUCCESS; }

    // viAssertTrigger's default protocol over links that carry a trigger of
    // their own (VXI-11 device_trigger, the HiSLIP Trigger message, USBTMC
    // and GPIB triggers).
    virtual ViStatus assertTrigger(const Deadline &) { return VI_ERROR_NSUP_OPER; }

    // Remote enable, go to local and local lockout, with the modes of
    // viGpibControlREN (0 to 6), for links that carry them (HiSLIP).
    virtual ViStatus controlRemote(ViUInt16, const Deadline &) { return VI_ERROR_NSUP_OPER; }

    // Link-specific attributes (serial line settings and the like).
    virtual ViStatus setAttribute(ViAttr, ViAttrState) { return VI_ERROR_NSUP_ATTR; }
    virtual ViStatus getAttribute(ViAttr, ViAttrState &) const { return VI_ERROR_NSUP_ATTR; }
};

} // namespace visa
