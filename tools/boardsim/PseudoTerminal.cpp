#include "tools/boardsim/PseudoTerminal.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

PseudoTerminal::~PseudoTerminal()
{
    close();
}

static QString systemError(const char *what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what),
                                        QString::fromLocal8Bit(strerror(errno)));
}

// Raw bytes both ways: no echo, no line editing, no CR/LF or flow-control
// characters taken out of the stream.
static bool makeRaw(int fd)
{
    termios settings{};
    if (tcgetattr(fd, &settings) != 0)
        return false;
    cfmakeraw(&settings);
    cfsetispeed(&settings, B115200);
    cfsetospeed(&settings, B115200);
    settings.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    return tcsetattr(fd, TCSANOW, &settings) == 0;
}

bool PseudoTerminal::open(QString *error)
{
    close();
    const auto fail = [this, error](const char *what) {
        if (error)
            *error = systemError(what);
        close();
        return false;
    };
    controller = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (controller < 0)
        return fail("posix_openpt");
    if (grantpt(controller) != 0 || unlockpt(controller) != 0)
        return fail("unlockpt");
    char name[128];
    if (ptsname_r(controller, name, sizeof name) != 0)
        return fail("ptsname");
    path = QString::fromLocal8Bit(name);
    device = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (device < 0)
        return fail("open device");
    if (!makeRaw(device))
        return fail("tcsetattr");
    return true;
}

void PseudoTerminal::close()
{
    if (device >= 0)
        ::close(device);
    if (controller >= 0)
        ::close(controller);
    device = -1;
    controller = -1;
    path.clear();
}

QByteArray PseudoTerminal::readAvailable()
{
    QByteArray received;
    char buffer[4096];
    while (controller >= 0) {
        const ssize_t n = ::read(controller, buffer, sizeof buffer);
        if (n > 0) {
            received.append(buffer, int(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break; // EAGAIN: drained
    }
    return received;
}

bool PseudoTerminal::write(const QByteArray &bytes)
{
    qsizetype written = 0;
    while (controller >= 0 && written < bytes.size()) {
        const ssize_t n = ::write(controller, bytes.constData() + written, bytes.size() - written);
        if (n > 0)
            written += n;
        else if (n < 0 && errno != EINTR)
            break;
    }
    return written == bytes.size();
}

static qint32 baudOf(speed_t speed)
{
    switch (speed) {
    case B1200:
        return 1200;
    case B2400:
        return 2400;
    case B4800:
        return 4800;
    case B9600:
        return 9600;
    case B19200:
        return 19200;
    case B38400:
        return 38400;
    case B57600:
        return 57600;
    case B115200:
        return 115200;
    case B230400:
        return 230400;
    default:
        return -1;
    }
}

LineSettings PseudoTerminal::lineSettings() const
{
    LineSettings line;
    termios settings{};
    if (device < 0 || tcgetattr(device, &settings) != 0)
        return line;
    line.baudRate = baudOf(cfgetospeed(&settings));
    line.stopBits = (settings.c_cflag & CSTOPB) ? 2 : 1;
    line.hardwareFlowControl = (settings.c_cflag & CRTSCTS) != 0;
    line.softwareFlowControl = (settings.c_iflag & (IXON | IXOFF)) != 0;
    return line;
}
