#include "instruments/visa/UsbtmcTransport.h"

#include "instruments/visa/LibraryConfig.h"
#include "instruments/visa/UsbtmcLocator.h"

#include <linux/usb/tmc.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace visa {

namespace {

// The usbtmc driver refuses timeouts below 100 ms.
constexpr ViUInt32 MinKernelTimeoutMs = 100;

ViStatus statusOf(int error)
{
    switch (error) {
    case ETIMEDOUT:
        return VI_ERROR_TMO;
    case ENODEV:
    case ESHUTDOWN:
    case EPIPE:
        return VI_ERROR_CONN_LOST;
    case ENOTTY: // not a usbtmc node
        return VI_ERROR_NSUP_OPER;
    default:
        return VI_ERROR_IO;
    }
}

} // namespace

UsbtmcTransport::~UsbtmcTransport()
{
    if (fd >= 0)
        ::close(fd);
}

ViStatus UsbtmcTransport::open(const ResourceName &name)
{
    const std::string node =
        UsbtmcLocator::find(LibraryConfig::systemRoot(), name.vendorId, name.productId,
                            name.serialNumber, name.usbInterface);
    if (node.empty())
        return VI_ERROR_RSRC_NFOUND;
    fd = ::open(node.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return errno == EACCES || errno == EPERM ? VI_ERROR_NPERMISSION : VI_ERROR_RSRC_NFOUND;
    interfaceNumber = name.usbInterface;
    return VI_SUCCESS;
}

bool UsbtmcTransport::setKernelTimeout(const Deadline &deadline)
{
    const ViUInt32 remaining = deadline.remainingMs();
    // The kernel takes at most what fits in its 32-bit value; "infinite" is
    // as long as it allows.
    __u32 timeout =
        std::max(remaining == VI_TMO_INFINITE ? ViUInt32(INT_MAX) : remaining, MinKernelTimeoutMs);
    return ::ioctl(fd, USBTMC_IOCTL_SET_TIMEOUT, &timeout) == 0;
}

ViStatus UsbtmcTransport::write(const ViByte *data, std::size_t count, const IoSettings &settings,
                                const Deadline &deadline, std::size_t &written)
{
    written = 0;
    setKernelTimeout(deadline);
    // EOM on the last transfer is the END indicator of a write.
    __u8 eom = settings.sendEnd ? 1 : 0;
    ::ioctl(fd, USBTMC_IOCTL_EOM_ENABLE, &eom);
    while (written < count) {
        const ssize_t n = ::write(fd, data + written, count - written);
        if (n > 0) {
            written += std::size_t(n);
            // A device that takes a little at a time does not keep the
            // write going past its deadline.
            if (written < count && deadline.expired())
                return VI_ERROR_TMO;
            setKernelTimeout(deadline);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return n < 0 ? statusOf(errno) : VI_ERROR_IO;
    }
    return VI_SUCCESS;
}

ViStatus UsbtmcTransport::receive(InputBuffer &in, std::size_t wanted, const IoSettings &settings,
                                  const Deadline &deadline)
{
    usbtmc_termchar termChar{settings.termChar, settings.termCharEnabled ? __u8(1) : __u8(0)};
    ::ioctl(fd, USBTMC_IOCTL_CONFIG_TERMCHAR, &termChar); // devices without it ignore the term char
    if (!setKernelTimeout(deadline)) {
        // Not a usbtmc node: wait here, so that a read cannot block forever.
        if (!deadline.waitFor(fd, POLLIN))
            return VI_ERROR_TMO;
    }
    char chunk[4096];
    const std::size_t request = std::min(wanted, sizeof chunk);
    ssize_t n;
    do {
        n = ::read(fd, chunk, request);
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        return statusOf(errno);
    if (n == 0)
        return deadline.expired() ? VI_ERROR_TMO : VI_ERROR_IO;

    // The EOM bit of the last transfer is END; without the ioctl, a short
    // read means the message ended.
    __u8 attributes = 0;
    const bool end = ::ioctl(fd, USBTMC_IOCTL_MSG_IN_ATTR, &attributes) == 0
                         ? (attributes & 0x01) != 0
                         : std::size_t(n) < request;
    in.append(chunk, std::size_t(n), end);
    return VI_SUCCESS;
}

ViStatus UsbtmcTransport::clear(const Deadline &deadline)
{
    setKernelTimeout(deadline);
    return ::ioctl(fd, USBTMC_IOCTL_CLEAR) == 0 ? VI_SUCCESS : statusOf(errno);
}

ViStatus UsbtmcTransport::readStatusByte(ViUInt16 &statusByte, const Deadline &deadline)
{
    setKernelTimeout(deadline);
    // The driver sends READ_STATUS_BYTE and takes the answer from the
    // control pipe or, on devices that have one, the interrupt pipe.
    __u8 value = 0;
    if (::ioctl(fd, USBTMC488_IOCTL_READ_STB, &value) != 0)
        return statusOf(errno);
    statusByte = value;
    return VI_SUCCESS;
}

ViStatus UsbtmcTransport::assertTrigger(const Deadline &deadline)
{
    setKernelTimeout(deadline);
    return ::ioctl(fd, USBTMC488_IOCTL_TRIGGER) == 0 ? VI_SUCCESS : statusOf(errno);
}

ViStatus UsbtmcTransport::getAttribute(ViAttr attribute, ViAttrState &value) const
{
    if (attribute != VI_ATTR_USB_INTFC_NUM)
        return VI_ERROR_NSUP_ATTR;
    value = ViAttrState(interfaceNumber < 0 ? 0 : interfaceNumber);
    return VI_SUCCESS;
}

} // namespace visa
