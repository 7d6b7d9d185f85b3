// Resource names and discovery through the C interface: search expressions,
// serial ports and USBTMC devices in a sysfs-like tree, the configured
// resources, and benchsim found by the port mapper broadcast on port 111
// (in a private network namespace).

#include "OpenSession.h"
#include "SimulatorProcess.h"
#include "visa/FindExpression.h"
#include "visa/LibraryConfig.h"
#include "visa/SessionTable.h"

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

struct Found
{
    ViStatus status = VI_SUCCESS;
    ViUInt32 count = 0;
    QStringList names; // the first, then each viFindNext gave
    bool listHandle = false;
};

Found findAll(const char *expression)
{
    ViSession rm = VI_NULL;
    viOpenDefaultRM(&rm);
    ViFindList list = 42;
    ViChar name[VI_FIND_BUFLEN];
    Found found;
    found.count = 42;
    found.status = viFindRsrc(rm, expression, &list, &found.count, name);
    found.listHandle = list != VI_NULL;
    if (found.status == VI_SUCCESS) {
        found.names << name;
        while (viFindNext(list, name) == VI_SUCCESS)
            found.names << name;
        viClose(list);
    }
    viClose(rm);
    return found;
}

void writeFile(const QString &path, const QByteArray &text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

// `classEntry`/device leads to `device`, as sysfs links a class to its devices.
void addClassEntry(const QString &root, const QString &classEntry, const QString &device)
{
    QDir().mkpath(root + "/sys/devices/" + device);
    QDir().mkpath(root + "/sys/class/" + classEntry);
    QVERIFY(QFile::link(root + "/sys/devices/" + device,
                        root + "/sys/class/" + classEntry + "/device"));
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
    void expression_data();
    void expression();
    void parseThroughTheResourceManager();
    void sysfsAndConfiguredResources();
    void broadcastFindsVxi11Instruments(); // last: leaves the process in its own network
};

void VisaFindTest::expression_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("resource");
    QTest::addColumn<int>("expected"); // 1 matches, 0 does not, -1 VI_ERROR_INV_EXPR

    QTest::newRow("any INSTR") << "?*INSTR" << "GPIB0::5::INSTR" << 1;
    QTest::newRow("INSTR is not SOCKET") << "?*INSTR" << "TCPIP0::h::5025::SOCKET" << 0;
    QTest::newRow("serial, any case") << "ASRL?*INSTR" << "asrl/dev/ttyUSB0::instr" << 1;
    QTest::newRow("anchored at the start") << "ASRL?*INSTR" << "GPIB0::5::INSTR" << 0;
    QTest::newRow("all LAN") << "TCPIP?*" << "TCPIP0::h::inst0::INSTR" << 1;
    QTest::newRow("anchored at the end") << "TCPIP?" << "TCPIP0::h::inst0::INSTR" << 0;
    QTest::newRow("everything") << "?*" << "USB0::0x0957::0x1A07::MY1::0::INSTR" << 1;
    QTest::newRow("range") << "GPIB[0-2]::?*" << "GPIB1::5::INSTR" << 1;
    QTest::newRow("out of range") << "GPIB[0-2]::?*" << "GPIB3::5::INSTR" << 0;
    QTest::newRow("negated list") << "GPIB[^0]::?*" << "GPIB0::5::INSTR" << 0;
    QTest::newRow("alternatives") << "(GPIB|VXI)?*INSTR" << "VXI0::1::INSTR" << 1;
    QTest::newRow("one or more") << "ASRL1+::INSTR" << "ASRL111::INSTR" << 1;
    QTest::newRow("dot is a dot") << "TCPIP0::10.0.0.1::?*" << "TCPIP0::10a0b0c1::inst0::INSTR"
                                  << 0;
    QTest::newRow("escaped question mark") << "TCPIP0::h::inst\\?" << "TCPIP0::h::inst?" << 1;
    QTest::newRow("escaped, not any") << "TCPIP0::h::inst\\?" << "TCPIP0::h::inst0" << 0;
    QTest::newRow("escaped letter is the letter") << "ASRL\\d" << "ASRLd" << 1;

    QTest::newRow("star with nothing before") << "*" << "" << -1;
    QTest::newRow("empty") << "" << "" << -1;
    QTest::newRow("open list") << "GPIB[0-2" << "" << -1;
    QTest::newRow("open group") << "(GPIB" << "" << -1;
    QTest::newRow("trailing backslash") << "ASRL\\" << "" << -1;
    QTest::newRow("attribute part") << "?*{VI_ATTR_INTF_NUM==0}" << "" << -1;
}

void VisaFindTest::expression()
{
    QFETCH(QString, pattern);
    QFETCH(QString, resource);
    QFETCH(int, expected);

    visa::FindExpression expression;
    const ViStatus status = expression.compile(pattern.toUtf8().constData());
    QCOMPARE(status, expected < 0 ? VI_ERROR_INV_EXPR : VI_SUCCESS);
    if (expected >= 0)
        QCOMPARE(expression.matches(resource.toStdString()), expected == 1);
}

void VisaFindTest::parseThroughTheResourceManager()
{
    ViSession rm = VI_NULL;
    QCOMPARE(viOpenDefaultRM(&rm), VI_SUCCESS);
    ViUInt16 type = 0;
    ViUInt16 number = 0;
    ViChar resourceClass[VI_FIND_BUFLEN] = "";
    ViChar expanded[VI_FIND_BUFLEN] = "";
    ViChar alias[VI_FIND_BUFLEN] = "left over";
    QCOMPARE(viParseRsrcEx(rm, "gpib-vxi2::backplane", &type, &number, resourceClass, expanded,
                           alias),
             VI_SUCCESS);
    QCOMPARE(type, ViUInt16(VI_INTF_GPIB_VXI));
    QCOMPARE(number, ViUInt16(2));
    QCOMPARE(resourceClass, "BACKPLANE");
    QCOMPARE(expanded, "GPIB-VXI2::0::BACKPLANE");
    QCOMPARE(alias, "");

    QCOMPARE(viParseRsrc(rm, "ASRL03", &type, &number), VI_SUCCESS);
    QCOMPARE(type, ViUInt16(VI_INTF_ASRL));
    QCOMPARE(number, ViUInt16(3));
    QCOMPARE(viParseRsrc(rm, "GPIB0::31::INSTR", &type, &number), VI_ERROR_INV_RSRC_NAME);
    QCOMPARE(viClose(rm), VI_SUCCESS);
    QCOMPARE(viParseRsrc(rm, "ASRL1", &type, &number), VI_ERROR_INV_OBJECT);
}

void VisaFindTest::sysfsAndConfiguredResources()
{
    QTemporaryDir tree;
    QVERIFY(tree.isValid());
    const QString root = tree.path();
    addClassEntry(root, "tty/ttyS1", "platform/serial8250"); // a placeholder, no UART
    addClassEntry(root, "tty/ttyS4", "pnp0/00:05");
    addClassEntry(root, "tty/ttyUSB0", "usb1/1-1/1-1:1.0/ttyUSB0");
    QDir().mkpath(root + "/sys/class/tty/tty1"); // a console, no device
    addClassEntry(root, "usbmisc/usbtmc0", "usb1/1-2/1-2:1.1");
    writeFile(root + "/sys/devices/usb1/1-2/idVendor", "0957\n");
    writeFile(root + "/sys/devices/usb1/1-2/idProduct", "1a07\n");
    writeFile(root + "/sys/devices/usb1/1-2/serial", "MY53000123\n");
    writeFile(root + "/sys/devices/usb1/1-2/1-2:1.1/bInterfaceNumber", "01\n");
    // Without a serial number a device has no resource name.
    addClassEntry(root, "usbmisc/usbtmc1", "usb1/1-3/1-3:1.0");
    writeFile(root + "/sys/devices/usb1/1-3/idVendor", "1ab1\n");
    writeFile(root + "/sys/devices/usb1/1-3/idProduct", "04ce\n");
    writeFile(root + "/sys/devices/usb1/1-3/1-3:1.0/bInterfaceNumber", "00\n");

    // A port mapper port where nobody answers: the broadcast finds nothing.
    QUdpSocket silent;
    QVERIFY(silent.bind(QHostAddress::LocalHost));
    visa::LibraryConfig::setPortMapperPort(silent.localPort());
    visa::LibraryConfig::setSystemRoot(root.toStdString());
    qputenv("BENCHTEST_VISA_RESOURCES", " GPIB0::05 no::such;TCPIP::10.0.0.9::05025::SOCKET\n");
    const std::size_t before = visa::SessionTable::instance().openCount();

    const Found all = findAll("?*");
    QCOMPARE(all.status, VI_SUCCESS);
    const QStringList expected = {"ASRL5::INSTR", "ASRL/dev/ttyUSB0::INSTR",
                                  "USB0::0x0957::0x1A07::MY53000123::1::INSTR", "GPIB0::5::INSTR",
                                  "TCPIP0::10.0.0.9::5025::SOCKET"};
    QCOMPARE(all.names, expected);
    QCOMPARE(all.count, ViUInt32(expected.size()));
    QCOMPARE(findAll("usb?*").names, QStringList{expected[2]});

    const Found none = findAll("VXI?*");
    QCOMPARE(none.status, VI_ERROR_RSRC_NFOUND);
    QCOMPARE(none.count, ViUInt32(0));
    QVERIFY(!none.listHandle);
    QCOMPARE(findAll("?*{VI_ATTR_INTF_NUM==0}").status, VI_ERROR_INV_EXPR);
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
        QSKIP(qPrintable(QString("no private network namespace (%1): needs root")
                             .arg(std::strerror(errno))));
    QVERIFY(bringLoopbackUp());
    SimulatorProcess sim;
    QVERIFY2(sim.start({"--dmm", "--portmapper-port", "111"}), qPrintable(sim.error()));

    const Found found = findAll("TCPIP?*");
    QCOMPARE(found.status, VI_SUCCESS);
    QCOMPARE(found.names, QStringList{"TCPIP0::127.0.0.1::inst0::INSTR"});
    {
        OpenSession meter(found.names.first());
        QCOMPARE(meter.status, VI_SUCCESS);
        QCOMPARE(meter.write("*IDN?\n"), VI_SUCCESS);
        QCOMPARE(meter.read(), Read(VI_SUCCESS, "BenchSim,34461A,SIM0001,A.02.14\n"));
    }

    // A LAN resource opened once is found from then on, though no
    // broadcast finds a raw socket.
    const QString socket = sim.address("dmm");
    QCOMPARE(findAll("?*SOCKET").status, VI_ERROR_RSRC_NFOUND);
    QCOMPARE(OpenSession(socket).status, VI_SUCCESS);
    QCOMPARE(findAll("?*SOCKET").names, QStringList{socket});
}

QTEST_GUILESS_MAIN(VisaFindTest)
#include "tst_visafind.moc"
