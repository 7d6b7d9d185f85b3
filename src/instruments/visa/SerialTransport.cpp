#include "instruments/visa/SerialTransport.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace visa {

namespace {

struct BaudRate
{
    ViUInt32 rate;
    speed_t code;
};

const BaudRate baudRates[] = {
    {50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

bool speedCode(ViUInt32 rate, speed_t &code)
{
    for (const BaudRate &b : baudRates) {
        if (b.rate == rate) {
            code = b.code;
            return true;
        }
    }
    return false;
}

// The port has gone (a USB adapter pulled, the other end of a pty closed).
bool isGone(int error)
{
    return error == EIO || error == ENXIO || error == ENODEV || error == EBADF;
}

} // namespace

SerialTransport::~SerialTransport()
{
    if (fd >= 0)
        ::close(fd);
}

ViStatus SerialTransport::open(const std::string &devicePath)
{
    fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == EACCES || errno == EPERM ? VI_ERROR_NPERMISSION : VI_ERROR_RSRC_NFOUND;
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) {
        ::close(fd); // not a serial port
        fd = -1;
        return VI_ERROR_RSRC_NFOUND;
    }
    const ViStatus status = apply(line);
    if (status != VI_SUCCESS)
        return status;
    ::tcflush(fd, TCIOFLUSH);
    return VI_SUCCESS;
}

ViStatus SerialTransport::apply(const LineSettings &wanted)
{
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0)
        return VI_ERROR_IO;
    ::cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;

    speed_t speed = B9600;
    if (!speedCode(wanted.baud, speed))
        return VI_ERROR_NSUP_ATTR_STATE;
    ::cfsetispeed(&settings, speed);
    ::cfsetospeed(&settings, speed);

    settings.c_cflag &= ~tcflag_t(CSIZE);
    switch (wanted.dataBits) {
    case 5:
        settings.c_cflag |= CS5;
        break;
    case 6:
        settings.c_cflag |= CS6;
        break;
    case 7:
        settings.c_cflag |= CS7;
        break;
    case 8:
        settings.c_cflag |= CS8;
        break;
    default:
        return VI_ERROR_NSUP_ATTR_STATE;
    }

    settings.c_cflag &= ~tcflag_t(PARENB | PARODD | CMSPAR);
    switch (wanted.parity) {
    case VI_ASRL_PAR_NONE:
        break;
    case VI_ASRL_PAR_ODD:
        settings.c_cflag |= PARENB | PARODD;
        break;
    case VI_ASRL_PAR_EVEN:
        settings.c_cflag |= PARENB;
        break;
    case VI_ASRL_PAR_MARK:
        settings.c_cflag |= PARENB | PARODD | CMSPAR;
        break;
    case VI_ASRL_PAR_SPACE:
        settings.c_cflag |= PARENB | CMSPAR;
        break;
    default:
        return VI_ERROR_NSUP_ATTR_STATE;
    }

    if (wanted.stopBits == VI_ASRL_STOP_ONE)
        settings.c_cflag &= ~tcflag_t(CSTOPB);
    else if (wanted.stopBits == VI_ASRL_STOP_TWO)
        settings.c_cflag |= CSTOPB;
    else
        return VI_ERROR_NSUP_ATTR_STATE;

    settings.c_cflag &= ~tcflag_t(CRTSCTS);
    settings.c_iflag &= ~tcflag_t(IXON | IXOFF);
    if (wanted.flowControl == VI_ASRL_FLOW_RTS_CTS)
        settings.c_cflag |= CRTSCTS;
    else if (wanted.flowControl == VI_ASRL_FLOW_XON_XOFF)
        settings.c_iflag |= IXON | IXOFF;
    else if (wanted.flowControl != VI_ASRL_FLOW_NONE)
        return VI_ERROR_NSUP_ATTR_STATE;

    if (::tcsetattr(fd, TCSANOW, &settings) != 0)
        return VI_ERROR_NSUP_ATTR_STATE;
    line = wanted;
    return VI_SUCCESS;
}

ViStatus SerialTransport::write(const ViByte *data, std::size_t count, const IoSettings &,
                                const Deadline &deadline, std::size_t &written)
{
    written = 0;
    while (written < count) {
        const ssize_t n = ::write(fd, data + written, count - written);
        if (n > 0) {
            written += std::size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return isGone(errno) ? VI_ERROR_CONN_LOST : VI_ERROR_IO;
        short revents = 0;
        if (!deadline.waitFor(fd, POLLOUT, &revents))
            return VI_ERROR_TMO;
        if (revents & (POLLHUP | POLLERR | POLLNVAL))
            return VI_ERROR_CONN_LOST;
    }
    return VI_SUCCESS;
}

ViStatus SerialTransport::receive(InputBuffer &in, std::size_t, const IoSettings &,
                                  const Deadline &deadline)
{
    for (;;) {
        char chunk[4096];
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n > 0) {
            in.append(chunk, std::size_t(n));
            return VI_SUCCESS;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return isGone(errno) ? VI_ERROR_CONN_LOST : VI_ERROR_IO;
        // Nothing to read (a raw tty returns 0 then): wait. A hang-up now
        // means the port has gone, as there was nothing left to read.
        short revents = 0;
        if (!deadline.waitFor(fd, POLLIN, &revents))
            return VI_ERROR_TMO;
        if (revents & (POLLHUP | POLLERR | POLLNVAL))
            return VI_ERROR_CONN_LOST;
    }
}

ViStatus SerialTransport::clear(const Deadline &)
{
    if (::tcflush(fd, TCIOFLUSH) != 0)
        return isGone(errno) ? VI_ERROR_CONN_LOST : VI_ERROR_IO;
    // A break (0.25 to 0.5 s of zero bits) resets the receiver of devices
    // that listen for it; ports that cannot send one (a pty) ignore it.
    ::tcsendbreak(fd, 0);
    return VI_SUCCESS;
}

ViStatus SerialTransport::readStatusByte(ViUInt16 &, const Deadline &)
{
    return VI_ERROR_INV_SETUP;
}

ViStatus SerialTransport::assertTrigger(const Deadline &)
{
    return VI_ERROR_INV_SETUP;
}

int SerialTransport::endCharacter(const IoSettings &settings) const
{
    return endIn == VI_ASRL_END_TERMCHAR ? settings.termChar : -1;
}

ViStatus SerialTransport::setAttribute(ViAttr attribute, ViAttrState value)
{
    LineSettings wanted = line;
    const bool fits = value <= (attribute == VI_ATTR_ASRL_BAUD ? 0xFFFFFFFFu : 0xFFFFu);
    switch (attribute) {
    case VI_ATTR_ASRL_BAUD:
        wanted.baud = ViUInt32(value);
        break;
    case VI_ATTR_ASRL_DATA_BITS:
        wanted.dataBits = ViUInt16(value);
        break;
    case VI_ATTR_ASRL_PARITY:
        wanted.parity = ViUInt16(value);
        break;
    case VI_ATTR_ASRL_STOP_BITS:
        wanted.stopBits = ViUInt16(value);
        break;
    case VI_ATTR_ASRL_FLOW_CNTRL:
        wanted.flowControl = ViUInt16(value);
        break;
    case VI_ATTR_ASRL_END_IN:
        if (!fits || (value != VI_ASRL_END_NONE && value != VI_ASRL_END_TERMCHAR))
            return VI_ERROR_NSUP_ATTR_STATE;
        endIn = ViUInt16(value);
        return VI_SUCCESS;
    case VI_ATTR_ASRL_END_OUT:
        return value == VI_ASRL_END_NONE ? VI_SUCCESS : VI_ERROR_NSUP_ATTR_STATE;
    default:
        return VI_ERROR_NSUP_ATTR;
    }
    return fits ? apply(wanted) : VI_ERROR_NSUP_ATTR_STATE;
}

ViStatus SerialTransport::getAttribute(ViAttr attribute, ViAttrState &value) const
{
    switch (attribute) {
    case VI_ATTR_ASRL_BAUD:
        value = line.baud;
        return VI_SUCCESS;
    case VI_ATTR_ASRL_DATA_BITS:
        value = line.dataBits;
        return VI_SUCCESS;
    case VI_ATTR_ASRL_PARITY:
        value = line.parity;
        return VI_SUCCESS;
    case VI_ATTR_ASRL_STOP_BITS:
        value = line.stopBits;
        return VI_SUCCESS;
    case VI_ATTR_ASRL_FLOW_CNTRL:
        value = line.flowControl;
        return VI_SUCCESS;
    case VI_ATTR_ASRL_END_IN:
        value = endIn;
        return VI_SUCCESS;
    case VI_ATTR_ASRL_END_OUT:
        value = VI_ASRL_END_NONE;
        return VI_SUCCESS;
    case VI_ATTR_ASRL_AVAIL_NUM: {
        int waiting = 0;
        if (::ioctl(fd, FIONREAD, &waiting) != 0)
            return isGone(errno) ? VI_ERROR_CONN_LOST : VI_ERROR_IO;
        value = ViAttrState(waiting < 0 ? 0 : waiting);
        return VI_SUCCESS;
    }
    default:
        return VI_ERROR_NSUP_ATTR;
    }
}

} // namespace visa
