// ASRL sessions over a real pseudo-terminal: line settings, the read end
// rules of a serial port, exact bytes written, a port that goes away.

#include "OpenSession.h"
#include "visa/visa.h"

#include <QElapsedTimer>
#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The controlling side of a pseudo-terminal; the session opens the other.
class PseudoTerminal
{
public:
    PseudoTerminal()
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0)
            slavePath = ::ptsname(master);
    }
    ~PseudoTerminal() { hangUp(); }
    void hangUp()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }
    void send(const QByteArray &bytes)
    {
        QVERIFY(::write(master, bytes.constData(), size_t(bytes.size())) == bytes.size());
    }
    QByteArray receive(int expected)
    {
        QByteArray bytes;
        QElapsedTimer clock;
        clock.start();
        while (bytes.size() < expected && clock.elapsed() < 20000) {
            pollfd entry{master, POLLIN, 0};
            if (::poll(&entry, 1, 50) > 0) {
                char chunk[256];
                const ssize_t n = ::read(master, chunk, sizeof chunk);
                if (n > 0)
                    bytes.append(chunk, int(n));
            }
        }
        return bytes;
    }
    QString resource() const { return "ASRL" + slavePath + "::INSTR"; }

    int master = -1;
    QString slavePath;
};

using Attributes = QList<QPair<ViAttr, ViAttrState>>;

} // namespace

Q_DECLARE_METATYPE(Attributes)

class VisaAsrlTest : public QObject
{
    Q_OBJECT

private slots:
    void readEndRules_data();
    void readEndRules();
    void writeSendsExactBytes();
    void lineSettings_defaultsAndChanges();
    void unsupportedSettingsRejected_data();
    void unsupportedSettingsRejected();
    void hangUp_connectionLost();
    void missingOrNotSerial_notFound_data();
    void missingOrNotSerial_notFound();
};

void VisaAsrlTest::readEndRules_data()
{
    QTest::addColumn<Attributes>("attributes");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<uint>("count");
    QTest::addColumn<QList<Read>>("reads");

    QTest::newRow("newline ends by default")
        << Attributes() << QByteArray("+1.5E+00\nNEXT\n") << 200u
        << QList<Read>{{VI_SUCCESS, "+1.5E+00\n"}, {VI_SUCCESS, "NEXT\n"}};
    QTest::newRow("other termination character")
        << Attributes{{VI_ATTR_TERMCHAR, '\r'}} << QByteArray("A\nB\rC") << 200u
        << QList<Read>{{VI_SUCCESS, "A\nB\r"}, {VI_ERROR_TMO, "C"}};
    QTest::newRow("no end on input")
        << Attributes{{VI_ATTR_ASRL_END_IN, VI_ASRL_END_NONE}} << QByteArray("A\nB") << 200u
        << QList<Read>{{VI_ERROR_TMO, "A\nB"}};
    QTest::newRow("count reached")
        << Attributes() << QByteArray("ABCDEF\n") << 4u
        << QList<Read>{{VI_SUCCESS_MAX_CNT, "ABCD"}, {VI_SUCCESS, "EF\n"}};
}

void VisaAsrlTest::readEndRules()
{
    QFETCH(Attributes, attributes);
    QFETCH(QByteArray, sent);
    QFETCH(uint, count);
    QFETCH(QList<Read>, reads);

    // A read that should end by a rule gets a long timeout: waiting for the
    // timeout instead shows as VI_ERROR_TMO.
    const bool timesOut = std::any_of(reads.begin(), reads.end(),
                                      [](const Read &read) { return read.first == VI_ERROR_TMO; });
    PseudoTerminal pty;
    OpenSession session(pty.resource(), timesOut ? 200 : 20000);
    QCOMPARE(session.status, VI_SUCCESS);
    for (const auto &attribute : attributes)
        QCOMPARE(viSetAttribute(session.vi, attribute.first, attribute.second), VI_SUCCESS);
    pty.send(sent);
    for (const Read &expected : reads)
        QCOMPARE(session.read(count), expected);
}

void VisaAsrlTest::writeSendsExactBytes()
{
    PseudoTerminal pty;
    OpenSession session(pty.resource());
    QCOMPARE(session.status, VI_SUCCESS);
    // Raw output: no newline translation, NUL bytes pass.
    const QByteArray bytes("MEAS:DVM:DC?\n\0\r", 15);
    ViUInt32 written = 0;
    QCOMPARE(viWrite(session.vi, reinterpret_cast<ViConstBuf>(bytes.constData()), 15, &written),
             VI_SUCCESS);
    QCOMPARE(written, 15u);
    QCOMPARE(pty.receive(15), bytes);
}

void VisaAsrlTest::lineSettings_defaultsAndChanges()
{
    PseudoTerminal pty;
    OpenSession session(pty.resource());
    QCOMPARE(session.status, VI_SUCCESS);

    // What the device itself holds: 9600 8N1 on open.
    termios port{};
    const int fd = ::open(pty.slavePath.toUtf8().constData(), O_RDWR | O_NOCTTY);
    QVERIFY(fd >= 0);
    QCOMPARE(::tcgetattr(fd, &port), 0);
    QCOMPARE(::cfgetospeed(&port), speed_t(B9600));
    QCOMPARE(port.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(port.c_cflag & (PARENB | CSTOPB), tcflag_t(0));

    QCOMPARE(viSetAttribute(session.vi, VI_ATTR_ASRL_BAUD, 115200), VI_SUCCESS);
    // (A pseudo-terminal takes neither parity nor other character sizes.)
    QCOMPARE(viSetAttribute(session.vi, VI_ATTR_ASRL_STOP_BITS, VI_ASRL_STOP_TWO), VI_SUCCESS);
    QCOMPARE(::tcgetattr(fd, &port), 0);
    QCOMPARE(::cfgetospeed(&port), speed_t(B115200));
    QCOMPARE(port.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(port.c_cflag & (PARENB | CSTOPB), tcflag_t(CSTOPB));
    ::close(fd);
}

void VisaAsrlTest::unsupportedSettingsRejected_data()
{
    QTest::addColumn<ViAttr>("attribute");
    QTest::addColumn<ViAttrState>("value");
    QTest::newRow("odd baud rate") << ViAttr(VI_ATTR_ASRL_BAUD) << ViAttrState(12345);
    QTest::newRow("unknown parity") << ViAttr(VI_ATTR_ASRL_PARITY) << ViAttrState(7);
    QTest::newRow("one and a half stop bits")
        << ViAttr(VI_ATTR_ASRL_STOP_BITS) << ViAttrState(VI_ASRL_STOP_ONE5);
    QTest::newRow("data bits out of range")
        << ViAttr(VI_ATTR_ASRL_DATA_BITS) << ViAttrState(0x10008);
}

void VisaAsrlTest::unsupportedSettingsRejected()
{
    QFETCH(ViAttr, attribute);
    QFETCH(ViAttrState, value);
    PseudoTerminal pty;
    OpenSession session(pty.resource());
    QCOMPARE(session.status, VI_SUCCESS);
    QCOMPARE(viSetAttribute(session.vi, attribute, value), VI_ERROR_NSUP_ATTR_STATE);
    ViUInt32 baud = 0;
    QCOMPARE(viGetAttribute(session.vi, VI_ATTR_ASRL_BAUD, &baud), VI_SUCCESS);
    QCOMPARE(baud, 9600u); // nothing changed
}

void VisaAsrlTest::hangUp_connectionLost()
{
    PseudoTerminal pty;
    OpenSession session(pty.resource());
    QCOMPARE(session.status, VI_SUCCESS);
    QCOMPARE(viSetAttribute(session.vi, VI_ATTR_TMO_VALUE, 100), VI_SUCCESS);
    pty.send("PART");
    QCOMPARE(session.read(), Read(VI_ERROR_TMO, "PART"));

    pty.hangUp();
    // Long: waiting for the timeout instead would show as VI_ERROR_TMO.
    QCOMPARE(viSetAttribute(session.vi, VI_ATTR_TMO_VALUE, 20000), VI_SUCCESS);
    QCOMPARE(session.read(), Read(VI_ERROR_CONN_LOST, ""));
    QCOMPARE(session.read().first, VI_ERROR_CONN_LOST);
}

void VisaAsrlTest::missingOrNotSerial_notFound_data()
{
    QTest::addColumn<QString>("resource");
    QTest::newRow("no such node") << "ASRL/dev/no-such-serial-port::INSTR";
    QTest::newRow("not a serial port") << "ASRL/dev/null::INSTR";
}

void VisaAsrlTest::missingOrNotSerial_notFound()
{
    QFETCH(QString, resource);
    OpenSession session(resource);
    QCOMPARE(session.status, VI_ERROR_RSRC_NFOUND);
    QCOMPARE(session.vi, ViSession(VI_NULL));
}

QTEST_APPLESS_MAIN(VisaAsrlTest)
#include "tst_visaasrl.moc"
