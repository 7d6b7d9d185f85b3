// Resource strings: every accepted form, case, IPv6 hosts, malformed names.
// Each is checked by its canonical spelling, which is built from every field
// parsed, and which parses back to itself.

#include "instruments/visa/ResourceName.h"

#include <QtTest>

using visa::ResourceName;

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
    QTest::addColumn<QString>("canonical");
    QTest::addColumn<QString>("device"); // empty: not checked

    const struct
    {
        const char *row;
        const char *text;
        const char *canonical; // empty: the text itself
        const char *device = "";
    } forms[] = {
        {"socket no board, lower case", "tcpip::localhost::5025::socket",
         "TCPIP0::localhost::5025::SOCKET"},
        {"socket IPv6 with zone", "TCPIP::[fe80::1%eth0]::5025::SOCKET",
         "TCPIP0::[fe80::1%eth0]::5025::SOCKET"},
        {"socket port with leading zero", "TCPIP::h::05025::SOCKET", "TCPIP0::h::5025::SOCKET"},
        {"surrounding blanks", "  TCPIP0::10.0.0.1::5025::SOCKET \n",
         "TCPIP0::10.0.0.1::5025::SOCKET"},
        {"vxi11 host only", "TCPIP::10.0.0.5", "TCPIP0::10.0.0.5::inst0::INSTR"},
        {"vxi11 device name", "TCPIP1::gw.lab::gpib0,5::INSTR", ""},
        {"vxi11 host,port", "TCPIP0::127.0.0.1,4321::inst0::INSTR", ""},
        {"hislip with port", "tcpip::10.0.0.5::HISLIP1,4881",
         "TCPIP0::10.0.0.5::HISLIP1,4881::INSTR"},
        {"servant", "tcpip::servant", "TCPIP0::SERVANT"},
        {"usb decimal ids, interface", "usb::2391::6663::ab12::1::instr",
         "USB0::0x0957::0x1A07::ab12::1::INSTR"},
        {"usb raw", "USB1::0x1AB1::4::DS1ZA::0::raw", "USB1::0x1AB1::0x0004::DS1ZA::0::RAW"},
        {"gpib short", "gpib::22", "GPIB0::22::INSTR"},
        {"gpib secondary", "GPIB2::30::7::INSTR", ""},
        {"gpib interface", "gpib::intfc", "GPIB0::INTFC"},
        {"gpib servant, board zeros", "GPIB003::SERVANT", "GPIB3::SERVANT"},
        {"gpib-vxi instr", "gpib-vxi1::8", "GPIB-VXI1::8::INSTR"},
        {"vxi instr", "VXI0::017::INSTR", "VXI0::17::INSTR"},
        {"pxi bus-device.function", "PXI1::3-18.2::INSTR", ""},
        {"pxi bus in the board place", "pxi2::18", "PXI0::2-18::INSTR"},
        {"pxi chassis, slot, function", "PXI1::CHASSIS2::SLOT5::FUNC3::INSTR", ""},
        {"pxi memacc", "PXI::MEMACC", "PXI0::MEMACC"},
        {"pxi backplane", "PXI0::1::BACKPLANE", ""},
        // ASRLn is the n-th serial port of the machine, counted from 1.
        {"asrl number no INSTR", "asrl4", "ASRL4::INSTR", "/dev/ttyS3"},
        {"asrl number with zeros", "ASRL01", "ASRL1::INSTR", "/dev/ttyS0"},
        {"asrl device path keeps case", "asrl/dev/ttyUSB0::instr", "ASRL/dev/ttyUSB0::INSTR"},
    };
    for (const auto &form : forms)
        QTest::newRow(form.row) << form.text << (*form.canonical ? form.canonical : form.text)
                                << form.device;
}

void ResourceNameTest::parse()
{
    QFETCH(QString, text);
    QFETCH(QString, canonical);
    QFETCH(QString, device);

    ResourceName name;
    QCOMPARE(ResourceName::parse(text.toUtf8().constData(), name), VI_SUCCESS);
    QCOMPARE(QString::fromStdString(name.canonical), canonical);
    if (!device.isEmpty())
        QCOMPARE(QString::fromStdString(name.devicePath), device);
    ResourceName again;
    QCOMPARE(ResourceName::parse(name.canonical.c_str(), again), VI_SUCCESS);
    QCOMPARE(QString::fromStdString(again.canonical), canonical);
    QVERIFY(again.kind == name.kind);
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
