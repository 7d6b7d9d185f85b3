// What PyVISA users reach beside reads and writes, where pyvisa_interop
// cannot look: the wire. viAssertTrigger as VXI-11 device_trigger and as the
// HiSLIP Trigger message among the data messages, against scripted
// instruments on real loopback sockets; a raw socket's link attributes past
// what PyVISA sets (the host name it was opened by, values it refuses).

#include "tests/instruments/HostilePeers.h"
#include "tests/instruments/OpenSession.h"
#include "tests/support/ScriptedPeer.h"

#include <QtTest>

#include <mutex>

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
    void socketAttributes();
    void vxi11DeviceTrigger();
    void hislipTriggerMessage();
};

// The host name is the one the resource gave, if it gave one
// (pyvisa_interop: none for an address); a socket option takes a boolean.
void VisaLinkAttributesTest::socketAttributes()
{
    ScriptedPeer peer;
    peer.start();
    OpenSession session(QString("TCPIP0::localhost::%1::SOCKET").arg(peer.port()));
    QCOMPARE(session.status, VI_SUCCESS);
    ViChar text[VI_FIND_BUFLEN] = "left over";
    QCOMPARE(viGetAttribute(session.vi, VI_ATTR_TCPIP_HOSTNAME, text), VI_SUCCESS);
    QCOMPARE(QByteArray(text), QByteArray("localhost"));
    QCOMPARE(viSetAttribute(session.vi, VI_ATTR_TCPIP_HOSTNAME, 0), VI_ERROR_ATTR_READONLY);
    for (const ViAttr option : {VI_ATTR_TCPIP_NODELAY, VI_ATTR_TCPIP_KEEPALIVE})
        QCOMPARE(viSetAttribute(session.vi, option, 2), VI_ERROR_NSUP_ATTR_STATE);
    ViUInt32 waiting = 0;
    QCOMPARE(viGetAttribute(session.vi, VI_ATTR_ASRL_AVAIL_NUM, &waiting), VI_ERROR_NSUP_ATTR);
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

QTEST_GUILESS_MAIN(VisaLinkAttributesTest)
#include "tst_visalinkattributes.moc"
