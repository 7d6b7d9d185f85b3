// The link attributes PyVISA users set and read: TCP_NODELAY and
// SO_KEEPALIVE on a raw socket (read back from the socket itself), the host
// name of a TCPIP resource, and the bytes waiting on a serial port.

#include "tests/instruments/OpenSession.h"
#include "tests/support/ScriptedPeer.h"

#include <QtTest>

#include <pty.h>
#include <unistd.h>

class VisaLinkAttributesTest : public QObject
{
    Q_OBJECT

private slots:
    void socketOptions();
    void hostName_data();
    void hostName();
    void serialBytesWaiting();
};

void VisaLinkAttributesTest::socketOptions()
{
    ScriptedPeer peer;
    peer.start();
    OpenSession session(peer.socketResource());
    QCOMPARE(session.status, VI_SUCCESS);
    for (const ViAttr option : {VI_ATTR_TCPIP_NODELAY, VI_ATTR_TCPIP_KEEPALIVE}) {
        ViBoolean on = 7;
        QCOMPARE(viGetAttribute(session.vi, option, &on), VI_SUCCESS);
        QCOMPARE(on, ViBoolean(VI_TRUE));
        QCOMPARE(viSetAttribute(session.vi, option, VI_FALSE), VI_SUCCESS);
        QCOMPARE(viGetAttribute(session.vi, option, &on), VI_SUCCESS);
        QCOMPARE(on, ViBoolean(VI_FALSE));
        QCOMPARE(viSetAttribute(session.vi, option, 2), VI_ERROR_NSUP_ATTR_STATE);
        QCOMPARE(viSetAttribute(session.vi, option, VI_TRUE), VI_SUCCESS);
        QCOMPARE(viGetAttribute(session.vi, option, &on), VI_SUCCESS);
        QCOMPARE(on, ViBoolean(VI_TRUE));
    }
    ViUInt32 waiting = 0;
    QCOMPARE(viGetAttribute(session.vi, VI_ATTR_ASRL_AVAIL_NUM, &waiting), VI_ERROR_NSUP_ATTR);
}

void VisaLinkAttributesTest::hostName_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QByteArray>("name");
    QTest::newRow("by name") << "localhost" << QByteArray("localhost");
    QTest::newRow("by IPv4 address") << "127.0.0.1" << QByteArray();
}

void VisaLinkAttributesTest::hostName()
{
    QFETCH(QString, host);
    QFETCH(QByteArray, name);
    ScriptedPeer peer;
    peer.start();
    OpenSession session(QString("TCPIP0::%1::%2::SOCKET").arg(host).arg(peer.port()));
    QCOMPARE(session.status, VI_SUCCESS);
    ViChar text[VI_FIND_BUFLEN] = "left over";
    QCOMPARE(viGetAttribute(session.vi, VI_ATTR_TCPIP_HOSTNAME, text), VI_SUCCESS);
    QCOMPARE(QByteArray(text), name);
    QCOMPARE(viSetAttribute(session.vi, VI_ATTR_TCPIP_HOSTNAME, 0), VI_ERROR_ATTR_READONLY);
}

// The master side of a pseudo-terminal plays the device: what it sent and
// the session has not read yet, in the port or read ahead, is waiting.
void VisaLinkAttributesTest::serialBytesWaiting()
{
    int master = -1;
    int slave = -1;
    char path[256] = {};
    QVERIFY(::openpty(&master, &slave, path, nullptr, nullptr) == 0);
    {
        OpenSession session(QString("ASRL%1::INSTR").arg(path), 2000);
        QCOMPARE(session.status, VI_SUCCESS);
        ViUInt32 waiting = 99;
        QCOMPARE(viGetAttribute(session.vi, VI_ATTR_ASRL_AVAIL_NUM, &waiting), VI_SUCCESS);
        QCOMPARE(waiting, 0u);
        QCOMPARE(::write(master, "1.5\n2.5\n", 8), ssize_t(8));
        QTRY_VERIFY(viGetAttribute(session.vi, VI_ATTR_ASRL_AVAIL_NUM, &waiting) == VI_SUCCESS &&
                    waiting == 8);
        QCOMPARE(session.read(), Read(VI_SUCCESS, "1.5\n"));
        QCOMPARE(viGetAttribute(session.vi, VI_ATTR_ASRL_AVAIL_NUM, &waiting), VI_SUCCESS);
        QCOMPARE(waiting, 4u);
        QCOMPARE(viSetAttribute(session.vi, VI_ATTR_ASRL_AVAIL_NUM, 0), VI_ERROR_ATTR_READONLY);
    }
    ::close(slave);
    ::close(master);
}

QTEST_GUILESS_MAIN(VisaLinkAttributesTest)
#include "tst_visalinkattributes.moc"
