#pragma once

#include "instruments/visa/Transport.h"

#include <string>

namespace visa {

// ASRL resources: a serial port through termios, 9600 baud 8N1 without flow
// control unless the session's serial attributes say otherwise. Reads end
// at the termination character (VI_ATTR_ASRL_END_IN), which is '\n' by
// default. Device clear discards both directions' buffers and sends a break.
class SerialTransport : public Transport
{
public:
    ~SerialTransport() override;

    ViStatus open(const std::string &devicePath);

    ViStatus write(const ViByte *data, std::size_t count, const IoSettings &settings,
                   const Deadline &deadline, std::size_t &written) override;
    ViStatus receive(InputBuffer &in, std::size_t wanted, const IoSettings &settings,
                     const Deadline &deadline) override;
    int endCharacter(const IoSettings &settings) const override;
    ViStatus clear(const Deadline &deadline) override;
    // No status byte beside the data: VI_ERROR_INV_SETUP, as VISA has it
    // unless the session reads one with *STB? (VI_PROT_4882_STRS).
    ViStatus readStatusByte(ViUInt16 &statusByte, const Deadline &deadline) override;
    // No trigger beside the data either: VI_ERROR_INV_SETUP, as for the status byte.
    ViStatus assertTrigger(const Deadline &deadline) override;
    ViStatus setAttribute(ViAttr attribute, ViAttrState value) override;
    ViStatus getAttribute(ViAttr attribute, ViAttrState &value) const override;

private:
    struct LineSettings
    {
        ViUInt32 baud = 9600;
        ViUInt16 dataBits = 8;
        ViUInt16 parity = VI_ASRL_PAR_NONE;
        ViUInt16 stopBits = VI_ASRL_STOP_ONE;
        ViUInt16 flowControl = VI_ASRL_FLOW_NONE;
    };

    // Applies `wanted` to the port; on failure the port keeps its old settings.
    ViStatus apply(const LineSettings &wanted);

    int fd = -1;
    LineSettings line;
    ViUInt16 endIn = VI_ASRL_END_TERMCHAR;
};

} // namespace visa
