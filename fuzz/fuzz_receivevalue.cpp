// UART::ReceiveValue on the bytes a board may send, through a real
// pseudo-terminal opened by the UART as the board's port. With four bytes or
// more it takes them all and returns the first four as a big-endian value;
// with fewer it returns 0 and leaves them for a later call.
#include "FuzzCheck.h"
#include "TestContext.h"
#include "UART.h"
#include "ValueFrame.h"

#include <QCoreApplication>

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <unistd.h>

namespace {

int controller = -1;
SerialConfig *boardLink = nullptr;
UART *uart = nullptr;

// libFuzzer's timeout alarm has no SA_RESTART, so a write to the controller
// may be interrupted before it took a byte: go on until all of it is in.
bool writeAll(const uint8_t *data, size_t size)
{
    size_t written = 0;
    while (written < size) {
        const ssize_t n = ::write(controller, data + written, size - written);
        if (n > 0)
            written += size_t(n);
        else if (n == 0 || errno != EINTR)
            return false;
    }
    return true;
}

// Waits until the port holds `count` bytes (the line discipline passes them on).
bool waitForBytes(qint64 count)
{
    for (int i = 0; i < 100 && boardLink->port.bytesAvailable() < count; ++i)
        boardLink->port.waitForReadyRead(20);
    return boardLink->port.bytesAvailable() == count;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    controller = posix_openpt(O_RDWR | O_NOCTTY);
    if (controller < 0 || grantpt(controller) != 0 || unlockpt(controller) != 0)
        std::abort();
    boardLink = new SerialConfig;
    boardLink->port.setPortName(QString::fromLocal8Bit(ptsname(controller)));
    uart = new UART;
    FUZZ_CHECK(uart->Open(*boardLink) == 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // One frame's worth and a little more: what a board's answer may hold.
    if (size > 64)
        return 0;
    boardLink->port.readAll();
    FUZZ_CHECK(writeAll(data, size));
    FUZZ_CHECK(size == 0 || waitForBytes(qint64(size)));

    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const qint32 value = uart->ReceiveValue(*boardLink);
    if (size < size_t(ValueFrame::ValueBytes)) {
        FUZZ_CHECK(value == 0);
        FUZZ_CHECK(boardLink->port.bytesAvailable() == qint64(size));
    } else {
        FUZZ_CHECK(value == ValueFrame::decodeValue(bytes));
        FUZZ_CHECK(boardLink->port.bytesAvailable() == 0);
    }
    return 0;
}
