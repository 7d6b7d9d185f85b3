// Discovery through the C interface: search expressions,
// serial ports and USBTMC devices in a sysfs-like tree, the configured
// resources, and benchsim found by the port mapper broadcast on port 111
// (in a private network namespace).

#include "instruments/visa/FindExpression.h"
#include "instruments/visa/LibraryConfig.h"
#include "instruments/visa/SessionTable.h"
#include "tests/instruments/OpenSession.h"
#include "tests/support/SimulatorProcess.h"

#include <QDir>
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
    void expressions();
    void sysfsAndConfiguredResources();
    void broadcastFindsVxi11Instruments(); // last: leaves the process in its own network
};

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
    QTemporaryDir tree;
    QVERIFY(tree.isValid());
    const QString sys = tree.path() + "/sys/";
    // Class entries and the devices they lead to, as sysfs links them.
    const QList<QPair<QString, QString>> links = {
        {"tty/ttyS1", "platform/serial8250"}, // a placeholder, no UART behind it
        {"tty/ttyS4", "pnp0/00:05"},
        {"tty/ttyUSB0", "usb1/1-1/1-1:1.0/ttyUSB0"},
        {"usbmisc/usbtmc0", "usb1/1-2/1-2:1.1"},
        {"usbmisc/usbtmc1", "usb1/1-3/1-3:1.0"}, // no serial number: cannot be named
    };
    for (const auto &[entry, device] : links) {
        QVERIFY(QDir().mkpath(sys + "devices/" + device) && QDir().mkpath(sys + "class/" + entry));
        QVERIFY(QFile::link(sys + "devices/" + device, sys + "class/" + entry + "/device"));
    }
    QVERIFY(QDir().mkpath(sys + "class/tty/tty1")); // a console, no device
    const QList<QPair<QString, QByteArray>> files = {{"1-2/idVendor", "0957\n"},
                                                     {"1-2/idProduct", "1a07\n"},
                                                     {"1-2/serial", "MY53000123\n"},
                                                     {"1-2/1-2:1.1/bInterfaceNumber", "01\n"},
                                                     {"1-3/idVendor", "1ab1\n"},
                                                     {"1-3/idProduct", "04ce\n"},
                                                     {"1-3/1-3:1.0/bInterfaceNumber", "00\n"}};
    for (const auto &[path, text] : files) {
        QFile file(sys + "devices/usb1/" + path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
    }

    // A port mapper port where nobody answers: the broadcast finds nothing.
    QUdpSocket silent;
    QVERIFY(silent.bind(QHostAddress::LocalHost));
    visa::LibraryConfig::setPortMapperPort(silent.localPort());
    visa::LibraryConfig::setSystemRoot(tree.path().toStdString());
    qputenv("BENCHTEST_VISA_RESOURCES", " GPIB0::05 no::such;TCPIP::10.0.0.9::05025::SOCKET\n");
    const std::size_t before = visa::SessionTable::instance().openCount();

    const QStringList all = {"ASRL5::INSTR", "ASRL/dev/ttyUSB0::INSTR",
                             "USB0::0x0957::0x1A07::MY53000123::1::INSTR", "GPIB0::5::INSTR",
                             "TCPIP0::10.0.0.9::5025::SOCKET"};
    QCOMPARE(findAll("?*"), all);
    QCOMPARE(findAll("usb?*"), QStringList{all[2]});
    QCOMPARE(findAll("VXI?*"), failed(VI_ERROR_RSRC_NFOUND));
    QCOMPARE(findAll("?*{VI_ATTR_INTF_NUM==0}"), failed(VI_ERROR_INV_EXPR));
    QCOMPARE(visa::SessionTable::instance().openCount(), before);

    qunsetenv("BENCHTEST_VISA_RESOURCES");
    visa::LibraryConfig::setSystemRoot(std::string());
    visa::LibraryConfig::setPortMapperPort(111);
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
