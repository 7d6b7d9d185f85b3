#pragma once

#include "instruments/visa/ResourceName.h"
#include "instruments/visa/Transport.h"

namespace visa {

class GpibLibrary;

// GPIB INSTR resources through linux-gpib, loaded at run time: EOI marks
// END both ways, the termination character is the EOS byte, and the
// session timeout is rounded up to linux-gpib's fixed steps. Device clear
// is the addressed SDC (ibclr), the status byte a serial poll (ibrsp), the
// trigger the addressed GET (ibtrg).
class GpibTransport : public Transport
{
public:
    ~GpibTransport() override;

    ViStatus open(const ResourceName &name, ViUInt32 timeoutMs);

    ViStatus write(const ViByte *data, std::size_t count, const IoSettings &settings,
                   const Deadline &deadline, std::size_t &written) override;
    ViStatus receive(InputBuffer &in, std::size_t wanted, const IoSettings &settings,
                     const Deadline &deadline) override;
    ViStatus clear(const Deadline &deadline) override;
    ViStatus readStatusByte(ViUInt16 &statusByte, const Deadline &deadline) override;
    ViStatus assertTrigger(const Deadline &deadline) override;

private:
    void setTimeout(const Deadline &deadline);
    ViStatus statusAfterError() const;

    const GpibLibrary *library = nullptr;
    int device = -1;
};

} // namespace visa
