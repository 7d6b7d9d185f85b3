#pragma once

#include "InputBuffer.h"
#include "ResourceName.h"
#include "Transport.h"

#include <memory>
#include <mutex>

namespace visa {

// One open instrument: its attributes, the bytes read ahead, and the read
// end rules (END, termination character, count, timeout) over any transport.
class InstrumentSession
{
public:
    static constexpr ViUInt32 DefaultTimeoutMs = 2000;

    InstrumentSession(ResourceName name, std::unique_ptr<Transport> transport);

    ViStatus read(ViPBuf buffer, ViUInt32 count, ViUInt32 &returned);
    ViStatus write(ViConstBuf buffer, ViUInt32 count, ViUInt32 &returned);
    ViStatus setAttribute(ViAttr attribute, ViAttrState value);
    ViStatus getAttribute(ViAttr attribute, void *value);

private:
    ViStatus readLocked(ViPBuf buffer, ViUInt32 count, ViUInt32 &returned);
    ViStatus integerAttribute(ViAttr attribute, ViAttrState &value) const;
    const char *stringAttribute(ViAttr attribute) const;

    std::mutex mutex; // one operation at a time on a session
    const ResourceName name;
    std::unique_ptr<Transport> transport;
    InputBuffer input;
    IoSettings settings;
    ViUInt32 timeoutMs = DefaultTimeoutMs;
};

} // namespace visa
