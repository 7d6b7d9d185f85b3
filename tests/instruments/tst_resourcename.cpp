// Resource strings: every accepted form, case, IPv6 hosts, malformed names.

#include "instruments/visa/ResourceName.h"

#include <QtTest>

using visa::ResourceName;

namespace {

// One line that names every parsed field the form defines.
QString describe(const ResourceName &r)
{
    switch (r.kind) {
    case ResourceName::Kind::TcpipSocket:
        return QString("socket board=%1 host=%2 port=%3")
            .arg(r.board)
            .arg(QString::fromStdString(r.host))
            .arg(r.port);
    case ResourceName::Kind::Vxi11:
    case ResourceName::Kind::Hislip:
        return QString("%1 board=%2 host=%3 port=%4 device=%5")
            .arg(r.kind == ResourceName::Kind::Vxi11 ? "vxi11" : "hislip")
            .arg(r.board)
            .arg(QString::fromStdString(r.host))
            .arg(r.port)
            .arg(QString::fromStdString(r.deviceName));
    case ResourceName::Kind::UsbTmc:
    case ResourceName::Kind::UsbRaw:
        return QString("%1 board=%2 vid=%3 pid=%4 serial=%5 intf=%6")
            .arg(r.kind == ResourceName::Kind::UsbRaw ? "usb raw" : "usb")
            .arg(r.board)
            .arg(r.vendorId, 4, 16, QChar('0'))
            .arg(r.productId, 4, 16, QChar('0'))
            .arg(QString::fromStdString(r.serialNumber))
            .arg(r.usbInterface);
    case ResourceName::Kind::Gpib:
        return QString("gpib board=%1 pad=%2 sad=%3")
            .arg(r.board)
            .arg(r.primaryAddress)
            .arg(r.secondaryAddress);
    case ResourceName::Kind::Asrl:
        return QString("asrl board=%1 device=%2")
            .arg(r.board)
            .arg(QString::fromStdString(r.devicePath));
    default: { // parsed, not opened: the fields the form has
        QString text = QString("intf=%1 %2 board=%3")
                           .arg(r.interfaceType())
                           .arg(r.resourceClass())
                           .arg(r.board);
        const QList<QPair<const char *, int>> fields = {
            {"la", r.logicalAddress},    {"bus", r.pxiBus},         {"device", r.pxiDevice},
            {"function", r.pxiFunction}, {"chassis", r.pxiChassis}, {"slot", r.pxiSlot}};
        for (const auto &[name, value] : fields) {
            if (value >= 0)
                text += QString(" %1=%2").arg(name).arg(value);
        }
        return text;
    }
    }
}

} // namespace

class ResourceNameTest : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void malformed_data();
    void malformed();
};

void ResourceNameTest::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("parsed");
    QTest::addColumn<QString>("canonical");

    QTest::newRow("socket") << "TCPIP0::192.168.1.20::5025::SOCKET"
                            << "socket board=0 host=192.168.1.20 port=5025"
                            << "TCPIP0::192.168.1.20::5025::SOCKET";
    QTest::newRow("socket no board, lower case") << "tcpip::localhost::5025::socket"
                                                 << "socket board=0 host=localhost port=5025"
                                                 << "TCPIP0::localhost::5025::SOCKET";
    QTest::newRow("socket IPv6 with zone") << "TCPIP::[fe80::1%eth0]::5025::SOCKET"
                                           << "socket board=0 host=fe80::1%eth0 port=5025"
                                           << "TCPIP0::[fe80::1%eth0]::5025::SOCKET";
    QTest::newRow("socket port with leading zero") << "TCPIP::h::05025::SOCKET"
                                                   << "socket board=0 host=h port=5025"
                                                   << "TCPIP0::h::5025::SOCKET";
    QTest::newRow("surrounding blanks") << "  TCPIP0::10.0.0.1::5025::SOCKET \n"
                                        << "socket board=0 host=10.0.0.1 port=5025"
                                        << "TCPIP0::10.0.0.1::5025::SOCKET";

    QTest::newRow("vxi11 host only") << "TCPIP::10.0.0.5"
                                     << "vxi11 board=0 host=10.0.0.5 port=0 device=inst0"
                                     << "TCPIP0::10.0.0.5::inst0::INSTR";
    QTest::newRow("vxi11 device name") << "TCPIP1::gw.lab::gpib0,5::INSTR"
                                       << "vxi11 board=1 host=gw.lab port=0 device=gpib0,5"
                                       << "TCPIP1::gw.lab::gpib0,5::INSTR";
    QTest::newRow("vxi11 host,port") << "TCPIP0::127.0.0.1,4321::inst0::INSTR"
                                     << "vxi11 board=0 host=127.0.0.1 port=4321 device=inst0"
                                     << "TCPIP0::127.0.0.1,4321::inst0::INSTR";
    QTest::newRow("hislip with port") << "tcpip::10.0.0.5::HISLIP1,4881"
                                      << "hislip board=0 host=10.0.0.5 port=4881 device=HISLIP1"
                                      << "TCPIP0::10.0.0.5::HISLIP1,4881::INSTR";
    QTest::newRow("servant") << "tcpip::servant"
                             << "intf=6 SERVANT board=0"
                             << "TCPIP0::SERVANT";

    QTest::newRow("usb decimal ids, interface")
        << "usb::2391::6663::ab12::1::instr"
        << "usb board=0 vid=0957 pid=1a07 serial=ab12 intf=1"
        << "USB0::0x0957::0x1A07::ab12::1::INSTR";
    QTest::newRow("usb raw") << "USB1::0x1AB1::4::DS1ZA::0::raw"
                             << "usb raw board=1 vid=1ab1 pid=0004 serial=DS1ZA intf=0"
                             << "USB1::0x1AB1::0x0004::DS1ZA::0::RAW";
    QTest::newRow("gpib short") << "gpib::22"
                                << "gpib board=0 pad=22 sad=-1"
                                << "GPIB0::22::INSTR";
    QTest::newRow("gpib secondary") << "GPIB2::30::7::INSTR"
                                    << "gpib board=2 pad=30 sad=7"
                                    << "GPIB2::30::7::INSTR";
    QTest::newRow("gpib interface") << "gpib::intfc"
                                    << "intf=1 INTFC board=0"
                                    << "GPIB0::INTFC";
    QTest::newRow("gpib servant, board zeros") << "GPIB003::SERVANT"
                                               << "intf=1 SERVANT board=3"
                                               << "GPIB3::SERVANT";

    QTest::newRow("gpib-vxi instr") << "gpib-vxi1::8"
                                    << "intf=3 INSTR board=1 la=8"
                                    << "GPIB-VXI1::8::INSTR";
    QTest::newRow("vxi instr") << "VXI0::017::INSTR"
                               << "intf=2 INSTR board=0 la=17"
                               << "VXI0::17::INSTR";

    QTest::newRow("pxi bus-device.function") << "PXI1::3-18.2::INSTR"
                                             << "intf=5 INSTR board=1 bus=3 device=18 function=2"
                                             << "PXI1::3-18.2::INSTR";
    QTest::newRow("pxi bus in the board place") << "pxi2::18"
                                                << "intf=5 INSTR board=0 bus=2 device=18"
                                                << "PXI0::2-18::INSTR";
    QTest::newRow("pxi chassis, slot, function")
        << "PXI1::CHASSIS2::SLOT5::FUNC3::INSTR"
        << "intf=5 INSTR board=1 function=3 chassis=2 slot=5"
        << "PXI1::CHASSIS2::SLOT5::FUNC3::INSTR";
    QTest::newRow("pxi memacc") << "PXI::MEMACC"
                                << "intf=5 MEMACC board=0"
                                << "PXI0::MEMACC";
    QTest::newRow("pxi backplane") << "PXI0::1::BACKPLANE"
                                   << "intf=5 BACKPLANE board=0 chassis=1"
                                   << "PXI0::1::BACKPLANE";

    QTest::newRow("asrl number no INSTR") << "asrl4"
                                          << "asrl board=4 device=/dev/ttyS3"
                                          << "ASRL4::INSTR";
    QTest::newRow("asrl number with zeros") << "ASRL01"
                                            << "asrl board=1 device=/dev/ttyS0"
                                            << "ASRL1::INSTR";
    QTest::newRow("asrl device path keeps case") << "asrl/dev/ttyUSB0::instr"
                                                 << "asrl board=0 device=/dev/ttyUSB0"
                                                 << "ASRL/dev/ttyUSB0::INSTR";
}

void ResourceNameTest::parse()
{
    QFETCH(QString, text);
    QFETCH(QString, parsed);
    QFETCH(QString, canonical);

    ResourceName name;
    QCOMPARE(ResourceName::parse(text.toUtf8().constData(), name), VI_SUCCESS);
    QCOMPARE(describe(name), parsed);
    QCOMPARE(QString::fromStdString(name.canonical), canonical);

    // The canonical spelling parses to the same resource.
    ResourceName again;
    QCOMPARE(ResourceName::parse(name.canonical.c_str(), again), VI_SUCCESS);
    QCOMPARE(describe(again), parsed);
}

void ResourceNameTest::malformed_data()
{
    QTest::addColumn<QString>("text");

    QTest::newRow("empty") << "";
    QTest::newRow("unknown interface") << "FIREWIRE0::1::INSTR";
    QTest::newRow("gpib interface with an address") << "GPIB0::1::INTFC";
    QTest::newRow("vxi logical address too large") << "VXI0::256::INSTR";
    QTest::newRow("pxi device too large") << "PXI0::3-32::INSTR";
    QTest::newRow("pxi chassis without slot") << "PXI0::CHASSIS1::INSTR";
    QTest::newRow("pxi backplane without chassis") << "PXI0::BACKPLANE";
    QTest::newRow("board not a number") << "TCPIPx::10.0.0.1::5025::SOCKET";
    QTest::newRow("socket without port") << "TCPIP0::10.0.0.1::SOCKET";
    QTest::newRow("socket port too large") << "TCPIP0::10.0.0.1::65536::SOCKET";
    QTest::newRow("socket with host,port") << "TCPIP0::10.0.0.1,5025::5025::SOCKET";
    QTest::newRow("empty host") << "TCPIP0::::5025::SOCKET";
    QTest::newRow("bare IPv6 host") << "TCPIP0::fe80::1::5025::SOCKET";
    QTest::newRow("vxi11 too many parts") << "TCPIP0::10.0.0.1::inst0::extra::INSTR";
    QTest::newRow("vxi11 bad port") << "TCPIP0::10.0.0.1,abc::INSTR";
    QTest::newRow("hislip port twice") << "TCPIP0::10.0.0.1,4880::hislip0,4880::INSTR";
    QTest::newRow("hislip port zero") << "TCPIP0::10.0.0.1::hislip0,0::INSTR";
    QTest::newRow("usb missing serial") << "USB0::0x0957::0x1A07::INSTR";
    QTest::newRow("usb vid too large") << "USB0::0x10000::0x1A07::SN::INSTR";
    QTest::newRow("gpib pad too large") << "GPIB0::31::INSTR";
    QTest::newRow("asrl zero") << "ASRL0::INSTR";
    QTest::newRow("asrl relative path") << "ASRLdev/ttyS0::INSTR";
    // A colon next to a separator: the canonical name would not parse back.
    QTest::newRow("asrl path ending in a colon") << "ASRL/dev/B0:";
    QTest::newRow("usb serial ending in a colon") << "USB0::0x0957::0x1A07::SN:::INSTR";
}

void ResourceNameTest::malformed()
{
    QFETCH(QString, text);
    ResourceName name;
    QCOMPARE(ResourceName::parse(text.toUtf8().constData(), name), VI_ERROR_INV_RSRC_NAME);
}

QTEST_APPLESS_MAIN(ResourceNameTest)
#include "tst_resourcename.moc"
