// Discovery through the C interface: search expressions, serial ports and
// USBTMC devices in a sysfs-like tree (and a session on a stand-in usbtmc
// node: a FIFO, which loops writes back to reads), the configured resources,
// and benchsim found by the port mapper broadcast on port 111 (in a private
// network namespace).

#include "instruments/visa/FindExpression.h"
#include "instruments/visa/LibraryConfig.h"
#include "instruments/visa/UsbtmcLocator.h"
#include "tests/instruments/OpenSession.h"
#include "tests/support/SimulatorProcess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

#include <cerrno>
#include <cstring>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What viFindRsrc and viFindNext give: the names, or the status as text.
QStringList findAll(const char *expression)
{
    ViSession rm = VI_NULL;
    viOpenDefaultRM(&rm);
    ViFindList list = 42;
    ViUInt32 count = 42;
    ViChar name[VI_FIND_BUFLEN];
    const ViStatus status = viFindRsrc(rm, expression, &list, &count, name);
    QStringList names;
    if (status == VI_SUCCESS) {
        for (names << name; viFindNext(list, name) == VI_SUCCESS;)
            names << name;
        if (count != ViUInt32(names.size()) || viClose(list) != VI_SUCCESS)
            names << "count or list wrong";
    } else {
        names << QString("status %1").arg(status, 0, 16);
        if (list != VI_NULL || count != 0)
            names << "list or count left";
    }
    viClose(rm);
    return names;
}

QStringList failed(ViStatus status)
{
    return {QString("status %1").arg(status, 0, 16)};
}

void writeFile(const QString &path, const QByteArray &text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
}

// A USB device with its ids and serial (none if empty), and a usbtmc node on
// one interface, laid out as the kernel does.
void addUsbDevice(const QString &sys, const QString &port, const QByteArray &ids,
                  const QByteArray &serial, int interfaceNumber, const QString &node)
{
    const QString device = sys + "/devices/pci0000:00/0000:00:14.0/usb1/" + port;
    writeFile(device + "/idVendor", ids.left(4) + "\n");
    writeFile(device + "/idProduct", ids.mid(5) + "\n");
    if (!serial.isEmpty())
        writeFile(device + "/serial", serial + "\n");
    const QString interfaceDir = QString("%1/%2:1.%3").arg(device, port).arg(interfaceNumber);
    writeFile(interfaceDir + "/bInterfaceNumber", "0" + QByteArray::number(interfaceNumber) + "\n");
    const QString classEntry = sys + "/class/usbmisc/" + node;
    QDir().mkpath(classEntry);
    QVERIFY(QFile::link(QDir(classEntry).relativeFilePath(interfaceDir), classEntry + "/device"));
}

bool bringLoopbackUp()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    ifreq request{};
    std::strcpy(request.ifr_name, "lo");
    bool up = fd >= 0 && ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = short(request.ifr_flags | IFF_UP);
    up = up && ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    ::close(fd);
    return up;
}

} // namespace

class VisaFindTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void expressions();
    void locateUsbtmc();
    void sysfsAndConfiguredResources();
    void usbtmcSession();
    void broadcastFindsVxi11Instruments(); // last: leaves the process in its own network

private:
    QTemporaryDir tree;
};

void VisaFindTest::initTestCase()
{
    QVERIFY(tree.isValid());
    const QString sys = tree.path() + "/sys";
    // Serial class entries and the devices they lead to, as sysfs links them.
    const QList<QPair<QString, QString>> ttys = {
        {"ttyS1", "platform/serial8250"}, // a placeholder, no UART behind it
        {"ttyS4", "pnp0/00:05"},
        {"ttyUSB0", "usb1/1-1/1-1:1.0/ttyUSB0"},
    };
    for (const auto &[entry, device] : ttys) {
        QVERIFY(QDir().mkpath(sys + "/devices/" + device) &&
                QDir().mkpath(sys + "/class/tty/" + entry));
        QVERIFY(QFile::link(sys + "/devices/" + device, sys + "/class/tty/" + entry + "/device"));
    }
    QVERIFY(QDir().mkpath(sys + "/class/tty/tty1")); // a console, no device
    addUsbDevice(sys, "1-1", "0957:1a07", "MY53000123", 0, "usbtmc0");
    addUsbDevice(sys, "1-2", "1ab1:04ce", "DS1ZA2000", 1, "usbtmc1");
    // Same ids as the first, another serial number; no node in /dev.
    addUsbDevice(sys, "1-3", "0957:1a07", "MY53000999", 0, "usbtmc2");
    addUsbDevice(sys, "1-4", "1ab1:04ce", "", 0, "usbtmc3"); // no serial: cannot be named
    QVERIFY(QDir().mkpath(sys + "/class/usbmisc/hiddev0"));  // not a usbtmc node
    QVERIFY(QDir().mkpath(tree.path() + "/dev"));
    QCOMPARE(::mkfifo(QFile::encodeName(tree.path() + "/dev/usbtmc0").constData(), 0600), 0);
    visa::LibraryConfig::setSystemRoot(tree.path().toStdString());
}

void VisaFindTest::expressions()
{
    const struct
    {
        const char *pattern;
        const char *resource;
        bool matches;
    } cases[] = {
        {"?*INSTR", "GPIB0::5::INSTR", true},
        {"?*INSTR", "TCPIP0::h::5025::SOCKET", false},
        {"ASRL?*INSTR", "asrl/dev/ttyUSB0::instr", true}, // any case
        {"ASRL?*INSTR", "GPIB0::5::ASRL::INSTR", false},  // the whole name, from its start
        {"TCPIP?", "TCPIP0::h::inst0::INSTR", false},     // and to its end
        {"GPIB[0-2]::?*", "GPIB3::5::INSTR", false},
        {"GPIB[^0]::?*", "GPIB0::5::INSTR", false},
        {"ASRL[]/]?*", "ASRL/dev/ttyS0::INSTR", true}, // ']' first is in the list
        {"(GPIB|VXI)?*INSTR", "VXI0::1::INSTR", true},
        {"ASRL1+::INSTR", "ASRL111::INSTR", true},
        {"TCPIP0::10.0.0.1::?*", "TCPIP0::10a0b0c1::inst0::INSTR", false},
        {"TCPIP0::h::inst\\?", "TCPIP0::h::inst?", true},
        {"TCPIP0::h::inst\\?", "TCPIP0::h::inst0", false},
        {"ASRL\\d", "ASRLd", true}, // a letter, not a class of characters
    };
    for (const auto &c : cases) {
        visa::FindExpression expression;
        QCOMPARE(expression.compile(c.pattern), VI_SUCCESS);
        QVERIFY2(expression.matches(c.resource) == c.matches, c.pattern);
    }
    for (const char *malformed :
         {"*", "", "GPIB[0-2", "(GPIB", "ASRL\\", "?*{VI_ATTR_INTF_NUM==0}"})
        QVERIFY2(visa::FindExpression().compile(malformed) == VI_ERROR_INV_EXPR, malformed);
}

void VisaFindTest::sysfsAndConfiguredResources()
{
    // A port mapper port where nobody answers: the broadcast finds nothing.
    QUdpSocket silent;
    QVERIFY(silent.bind(QHostAddress::LocalHost));
    visa::LibraryConfig::setPortMapperPort(silent.localPort());
    qputenv("BENCHTEST_VISA_RESOURCES", " GPIB0::05 no::such;TCPIP::10.0.0.9::05025::SOCKET\n");
    const std::size_t before = openHandles();

    const QStringList all = {"ASRL5::INSTR",
                             "ASRL/dev/ttyUSB0::INSTR",
                             "USB0::0x0957::0x1A07::MY53000123::0::INSTR",
                             "USB0::0x1AB1::0x04CE::DS1ZA2000::1::INSTR",
                             "USB0::0x0957::0x1A07::MY53000999::0::INSTR",
                             "GPIB0::5::INSTR",
                             "TCPIP0::10.0.0.9::5025::SOCKET"};
    QCOMPARE(findAll("?*"), all);
    QCOMPARE(findAll("VXI?*"), failed(VI_ERROR_RSRC_NFOUND));
    QCOMPARE(openHandles(), before);

    qunsetenv("BENCHTEST_VISA_RESOURCES");
    visa::LibraryConfig::setPortMapperPort(111);
}

// The node of a device by its ids and serial number (in any case), and on
// the interface asked for (-1: any).
void VisaFindTest::locateUsbtmc()
{
    const struct
    {
        quint16 vendor;
        quint16 product;
        const char *serial;
        int interfaceNumber;
        const char *node; // empty: none
    } cases[] = {
        {0x0957, 0x1a07, "my53000123", -1, "usbtmc0"},
        {0x0957, 0x1a07, "MY53000999", -1, "usbtmc2"}, // same ids, other serial
        {0x1ab1, 0x04ce, "DS1ZA2000", 1, "usbtmc1"},
        {0x1ab1, 0x04ce, "DS1ZA2000", 0, ""}, // an interface without usbtmc
        {0x0957, 0x1a07, "MY5300012", -1, ""},
    };
    for (const auto &c : cases) {
        const std::string found = visa::UsbtmcLocator::find(tree.path().toStdString(), c.vendor,
                                                            c.product, c.serial, c.interfaceNumber);
        QCOMPARE(QString::fromStdString(found),
                 *c.node ? tree.path() + "/dev/" + c.node : QString());
    }
}

// Unknown in sysfs, or known without its node in /dev: not found. The stand-in
// node hands the bytes back; a short read counts as the end of the message.
void VisaFindTest::usbtmcSession()
{
    QCOMPARE(OpenSession("USB0::0x0957::0x1A07::NOSUCHSERIAL::INSTR").status, VI_ERROR_RSRC_NFOUND);
    QCOMPARE(OpenSession("USB0::0x0957::0x1A07::MY53000999::INSTR").status, VI_ERROR_RSRC_NFOUND);
    OpenSession session("usb0::2391::6663::my53000123::instr", 200);
    QCOMPARE(session.status, VI_SUCCESS);
    QCOMPARE(session.write("*IDN?\n"), VI_SUCCESS);
    QCOMPARE(session.read(), Read(VI_SUCCESS, "*IDN?\n"));
    // Nothing more: the read waits for the session timeout, not less.
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(session.read(), Read(VI_ERROR_TMO, ""));
    QVERIFY2(clock.elapsed() >= 195, qPrintable(QString::number(clock.elapsed())));
}

// benchsim's port mapper must be on the port every VXI-11 client asks,
// which takes a network of this test's own.
void VisaFindTest::broadcastFindsVxi11Instruments()
{
    if (::unshare(CLONE_NEWNET) != 0)
        QSKIP(qPrintable(
            QString("no private network namespace (%1): needs root").arg(std::strerror(errno))));
    QVERIFY(bringLoopbackUp());
    SimulatorProcess sim;
    QVERIFY2(sim.start({"--dmm", "--portmapper-port", "111"}), qPrintable(sim.error()));

    const QStringList found = findAll("TCPIP?*");
    QCOMPARE(found, QStringList{"TCPIP0::127.0.0.1::inst0::INSTR"});
    {
        OpenSession meter(found.first());
        QCOMPARE(meter.status, VI_SUCCESS);
        QCOMPARE(meter.write("*IDN?\n"), VI_SUCCESS);
        QCOMPARE(meter.read(), Read(VI_SUCCESS, "BenchSim,34461A,SIM0001,A.02.14\n"));
    }

    // A LAN resource opened once is found from then on, though no
    // broadcast finds a raw socket.
    const QString socket = sim.address("dmm");
    QCOMPARE(findAll("?*SOCKET"), failed(VI_ERROR_RSRC_NFOUND));
    QCOMPARE(OpenSession(socket).status, VI_SUCCESS);
    QCOMPARE(findAll("?*SOCKET"), QStringList{socket});
}

QTEST_GUILESS_MAIN(VisaFindTest)
#include "tst_visafind.moc"
