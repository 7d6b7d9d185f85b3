#pragma once

#include "instruments/visa/ResourceName.h"
#include "instruments/visa/Transport.h"

namespace visa {

// USB INSTR resources through the Linux usbtmc kernel driver: the node is
// found through sysfs, timeouts are set by ioctl, and END is the EOM bit
// of the last transfer. A node that does not take the usbtmc ioctls (a
// stand-in in tests) is still read with a bounded wait. Device clear
// (INITIATE_CLEAR, CHECK_CLEAR_STATUS and the bulk-in drain) and
// READ_STATUS_BYTE and the USB488 TRIGGER go through the driver's ioctls.
class UsbtmcTransport : public Transport
{
public:
    ~UsbtmcTransport() override;

    ViStatus open(const ResourceName &name);

    ViStatus write(const ViByte *data, std::size_t count, const IoSettings &settings,
                   const Deadline &deadline, std::size_t &written) override;
    ViStatus receive(InputBuffer &in, std::size_t wanted, const IoSettings &settings,
                     const Deadline &deadline) override;
    ViStatus clear(const Deadline &deadline) override;
    ViStatus readStatusByte(ViUInt16 &statusByte, const Deadline &deadline) override;
    ViStatus assertTrigger(const Deadline &deadline) override;
    ViStatus getAttribute(ViAttr attribute, ViAttrState &value) const override;

private:
    // Gives the kernel the time left; false when the node is no usbtmc device.
    bool setKernelTimeout(const Deadline &deadline);

    int fd = -1;
    int interfaceNumber = -1;
};

} // namespace visa
