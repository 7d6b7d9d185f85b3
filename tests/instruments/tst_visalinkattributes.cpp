// What PyVISA users reach beside reads and writes. The link attributes they
// set and read: TCP_NODELAY and SO_KEEPALIVE on a raw socket (read back from
// the socket itself), the host name of a TCPIP resource, and the bytes
// waiting on a serial port. viAssertTrigger on every link that has a
// trigger: VXI-11 device_trigger, the HiSLIP Trigger message among the data
// messages, and "*TRG" on a raw socket that speaks IEEE 488.2 strings;
// scripted instruments on real loopback sockets check what goes over the wire.

#include "tests/instruments/HostilePeers.h"
#include "tests/instruments/OpenSession.h"
#include "tests/support/ScriptedPeer.h"

#include <QtTest>

#include <mutex>
#include <pty.h>
#include <unistd.h>

namespace {

// What a scripted instrument saw, from its own thread.
struct Seen
{
    std::mutex mutex;
    QList<QByteArray> calls;
    void add(const QByteArray &call)
    {
        std::lock_guard<std::mutex> lock(mutex);
        calls << call;
    }
    QList<QByteArray> all()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return calls;
    }
};

} // namespace

class VisaLinkAttributesTest : public QObject
{
    Q_OBJECT

private slots:
    void socketOptions();
    void hostName_data();
    void hostName();
    void serialBytesWaiting();
    void vxi11DeviceTrigger();
    void hislipTriggerMessage();
    void socketStrings();
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

// device_trigger carries the link; the instrument's error comes back as status.
void VisaLinkAttributesTest::vxi11DeviceTrigger()
{
    Seen seen;
    HostileServer instrument(rpc::instrument([&seen](PeerLink &link, const rpc::Call &call) {
        seen.add(rpc::word(call.procedure) + call.arguments);
        const bool refuse = seen.all().size() > 1;
        link.send(rpc::reply(call.xid, rpc::word(refuse ? 8 : 0)));
    }));
    OpenSession session(QString("TCPIP0::127.0.0.1,%1::inst0::INSTR").arg(instrument.port()), 700);
    QCOMPARE(session.status, VI_SUCCESS);
    QCOMPARE(viAssertTrigger(session.vi, VI_TRIG_PROT_DEFAULT), VI_SUCCESS);
    QCOMPARE(viAssertTrigger(session.vi, VI_TRIG_PROT_DEFAULT), VI_ERROR_NSUP_OPER);
    QCOMPARE(viAssertTrigger(session.vi, VI_TRIG_PROT_SYNC), VI_ERROR_INV_PROT);
    const QList<QByteArray> calls = seen.all();
    QCOMPARE(calls.size(), 2);
    // Procedure 14: link 1, no flags, lock timeout 0, the I/O timeout.
    const QByteArray head =
        rpc::word(rpc::DeviceTrigger) + rpc::word(1) + rpc::word(0) + rpc::word(0);
    QVERIFY2(calls[0].startsWith(head), calls[0].toHex().constData());
    QCOMPARE(calls[0].size(), head.size() + 4);
    QVERIFY(rpc::word(700) >= calls[0].mid(head.size()));
}

// The Trigger message takes the next message id, with RMT-delivered once a
// reply was read; the query after it has its own id and gets its reply.
void VisaLinkAttributesTest::hislipTriggerMessage()
{
    Seen seen;
    HostileServer instrument(hislip::instrument([&seen](PeerLink &sync) {
        hislip::Message message;
        while (hislip::receive(sync, message)) {
            seen.add(QByteArray(1, char(message.type)) + char(message.control) +
                     rpc::word(message.parameter));
            if (message.type == hislip::DataEnd)
                sync.send(hislip::frame(hislip::DataEnd, 0, message.parameter, "1\n"));
        }
    }));
    OpenSession session(QString("TCPIP0::127.0.0.1::hislip0,%1::INSTR").arg(instrument.port()),
                        2000);
    QCOMPARE(session.status, VI_SUCCESS);
    QCOMPARE(session.write("*OPC?\n"), VI_SUCCESS);
    QCOMPARE(session.read(), Read(VI_SUCCESS, "1\n"));
    QCOMPARE(viAssertTrigger(session.vi, VI_TRIG_PROT_DEFAULT), VI_SUCCESS);
    QCOMPARE(session.write("*OPC?\n"), VI_SUCCESS);
    QCOMPARE(session.read(), Read(VI_SUCCESS, "1\n"));
    const auto message = [](std::uint8_t type, char control, std::uint32_t id) {
        return QByteArray(1, char(type)) + control + rpc::word(id);
    };
    QCOMPARE(seen.all(), QList<QByteArray>({message(hislip::DataEnd, 0, 0xFFFFFF00),
                                            message(hislip::Trigger, 1, 0xFFFFFF02),
                                            message(hislip::DataEnd, 0, 0xFFFFFF04)}));
}

// A raw socket has a trigger only as the 488.2 string.
void VisaLinkAttributesTest::socketStrings()
{
    ScriptedPeer peer;
    peer.awaitBytes(5).start();
    OpenSession session(peer.socketResource(), 2000);
    QCOMPARE(session.status, VI_SUCCESS);
    QCOMPARE(viAssertTrigger(session.vi, VI_TRIG_PROT_DEFAULT), VI_ERROR_INV_SETUP);
    QCOMPARE(viSetAttribute(session.vi, VI_ATTR_IO_PROT, VI_PROT_4882_STRS), VI_SUCCESS);
    QCOMPARE(viAssertTrigger(session.vi, VI_TRIG_PROT_DEFAULT), VI_SUCCESS);
    QTRY_COMPARE(peer.received(), QByteArray("*TRG\n"));
}

QTEST_GUILESS_MAIN(VisaLinkAttributesTest)
#include "tst_visalinkattributes.moc"
