// USBTMC: finding the /dev/usbtmcN node through a sysfs-like tree, and a
// session on a stand-in node (a FIFO, which loops writes back to reads).

#include "instruments/visa/LibraryConfig.h"
#include "instruments/visa/UsbtmcLocator.h"
#include "instruments/visa/visa.h"
#include "tests/instruments/OpenSession.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

void writeFile(const QString &path, const QByteArray &text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

// A USB device directory with its ids and serial, and usbtmc nodes on some
// of its interfaces, laid out as the kernel does.
void addDevice(const QString &root, const QString &port, const QByteArray &vendor,
               const QByteArray &product, const QByteArray &serial,
               const QList<QPair<int, QString>> &interfaces)
{
    const QString device = root + "/sys/devices/pci0000:00/0000:00:14.0/usb1/" + port;
    writeFile(device + "/idVendor", vendor + "\n");
    writeFile(device + "/idProduct", product + "\n");
    writeFile(device + "/serial", serial + "\n");
    for (const auto &intf : interfaces) {
        const QString interfaceDir = QString("%1/%2:1.%3").arg(device, port).arg(intf.first);
        writeFile(interfaceDir + "/bInterfaceNumber",
                  QString("%1\n").arg(intf.first, 2, 16, QChar('0')).toUtf8());
        const QString classEntry = root + "/sys/class/usbmisc/" + intf.second;
        QDir().mkpath(classEntry);
        const QString target = QDir(classEntry).relativeFilePath(interfaceDir);
        QVERIFY(QFile::link(target, classEntry + "/device"));
    }
}

} // namespace

class VisaUsbtmcTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void locate_data();
    void locate();
    void open_unmatchedDevice_notFound();
    void session_onStandInNode();

private:
    QTemporaryDir tree;
};

void VisaUsbtmcTest::initTestCase()
{
    QVERIFY(tree.isValid());
    const QString root = tree.path();
    addDevice(root, "1-1", "0957", "1a07", "MY53000123", {{0, "usbtmc0"}});
    // A device with two interfaces; only the second is a usbtmc one.
    addDevice(root, "1-2", "1ab1", "04ce", "DS1ZA2000", {{1, "usbtmc1"}});
    // Same ids as the first, another serial number.
    addDevice(root, "1-3", "0957", "1a07", "MY53000999", {{0, "usbtmc2"}});
    QDir().mkpath(root + "/sys/class/usbmisc/hiddev0"); // not a usbtmc node
    QDir().mkpath(root + "/dev");
    QCOMPARE(::mkfifo(QFile::encodeName(root + "/dev/usbtmc0").constData(), 0600), 0);
}

void VisaUsbtmcTest::cleanupTestCase()
{
    visa::LibraryConfig::setSystemRoot(std::string());
}

void VisaUsbtmcTest::locate_data()
{
    QTest::addColumn<int>("vendor");
    QTest::addColumn<int>("product");
    QTest::addColumn<QString>("serial");
    QTest::addColumn<int>("interfaceNumber");
    QTest::addColumn<QString>("node");

    QTest::newRow("ids and serial") << 0x0957 << 0x1a07 << "MY53000123" << -1 << "usbtmc0";
    QTest::newRow("serial in other case") << 0x0957 << 0x1a07 << "my53000123" << -1 << "usbtmc0";
    QTest::newRow("same ids, other serial") << 0x0957 << 0x1a07 << "MY53000999" << -1 << "usbtmc2";
    QTest::newRow("second interface") << 0x1ab1 << 0x04ce << "DS1ZA2000" << 1 << "usbtmc1";
    QTest::newRow("interface without usbtmc") << 0x1ab1 << 0x04ce << "DS1ZA2000" << 0 << "";
    QTest::newRow("unknown serial") << 0x0957 << 0x1a07 << "MY5300012" << -1 << "";
}

void VisaUsbtmcTest::locate()
{
    QFETCH(int, vendor);
    QFETCH(int, product);
    QFETCH(QString, serial);
    QFETCH(int, interfaceNumber);
    QFETCH(QString, node);

    const std::string found =
        visa::UsbtmcLocator::find(tree.path().toStdString(), quint16(vendor), quint16(product),
                                  serial.toStdString(), interfaceNumber);
    QCOMPARE(QString::fromStdString(found),
             node.isEmpty() ? QString() : tree.path() + "/dev/" + node);
}

void VisaUsbtmcTest::open_unmatchedDevice_notFound()
{
    visa::LibraryConfig::setSystemRoot(tree.path().toStdString());
    OpenSession unknown("USB0::0x0957::0x1A07::NOSUCHSERIAL::INSTR");
    QCOMPARE(unknown.status, VI_ERROR_RSRC_NFOUND);
    // Matched in sysfs, but the node is missing from /dev.
    OpenSession missingNode("USB0::0x0957::0x1A07::MY53000999::INSTR");
    QCOMPARE(missingNode.status, VI_ERROR_RSRC_NFOUND);
}

void VisaUsbtmcTest::session_onStandInNode()
{
    visa::LibraryConfig::setSystemRoot(tree.path().toStdString());
    OpenSession session("usb0::2391::6663::my53000123::instr");
    QCOMPARE(session.status, VI_SUCCESS);
    QCOMPARE(viSetAttribute(session.vi, VI_ATTR_TMO_VALUE, 200), VI_SUCCESS);
    QCOMPARE(session.write("*IDN?\n"), VI_SUCCESS);
    // The FIFO hands the bytes back; a short read counts as the end of the message.
    QCOMPARE(session.read(), Read(VI_SUCCESS, "*IDN?\n"));

    // Nothing more: the read waits for the session timeout, not less.
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(session.read(), Read(VI_ERROR_TMO, ""));
    QVERIFY2(clock.elapsed() >= 195, qPrintable(QString::number(clock.elapsed())));
}

QTEST_APPLESS_MAIN(VisaUsbtmcTest)
#include "tst_visausbtmc.moc"
