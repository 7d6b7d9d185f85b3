// Session handles and the entry points' answers that need no instrument.

#include "instruments/visa/SessionTable.h"
#include "instruments/visa/visa.h"

#include <QtTest>

class VisaSessionTest : public QObject
{
    Q_OBJECT

private slots:
    void handlesThatDoNoIo();
    void closingTwiceIsHarmless();
    void openRefusals();
    void statusDescriptions();
};

// A handle never issued is no object; the resource manager is one, but not
// one that does I/O.
void VisaSessionTest::handlesThatDoNoIo()
{
    ViSession rm = VI_NULL;
    QCOMPARE(viOpenDefaultRM(&rm), VI_SUCCESS);
    const QList<QPair<ViSession, ViStatus>> handles = {{0x7FFFFFF0, VI_ERROR_INV_OBJECT},
                                                       {rm, VI_ERROR_NSUP_OPER}};
    for (const auto &[handle, status] : handles) {
        ViByte buffer[16] = {};
        ViUInt32 count = 99;
        QCOMPARE(viRead(handle, buffer, sizeof buffer, &count), status);
        QCOMPARE(count, 0u);
        QCOMPARE(viWrite(handle, buffer, 1, &count), status);
    }
    QCOMPARE(viSetAttribute(0x7FFFFFF0, VI_ATTR_TERMCHAR_EN, VI_TRUE), VI_ERROR_INV_OBJECT);
    QCOMPARE(viSetAttribute(rm, VI_ATTR_TERMCHAR_EN, VI_TRUE), VI_ERROR_NSUP_ATTR);
    QCOMPARE(viClose(0x7FFFFFF0), VI_ERROR_INV_OBJECT);
    QCOMPARE(viClose(rm), VI_SUCCESS);
}

// A closed handle is not handed out again, so it stays invalid.
void VisaSessionTest::closingTwiceIsHarmless()
{
    const std::size_t before = visa::SessionTable::instance().openCount();
    ViSession first = VI_NULL;
    ViSession second = VI_NULL;
    QCOMPARE(viOpenDefaultRM(&first), VI_SUCCESS);
    QCOMPARE(viClose(first), VI_SUCCESS);
    QCOMPARE(viOpenDefaultRM(&second), VI_SUCCESS);
    QVERIFY(second != first);
    QCOMPARE(viClose(first), VI_ERROR_INV_OBJECT);
    QCOMPARE(viClose(second), VI_SUCCESS);
    QCOMPARE(viClose(VI_NULL), VI_WARN_NULL_OBJECT);
    QCOMPARE(visa::SessionTable::instance().openCount(), before);
}

// Every refused open leaves VI_NULL in the session and no session behind.
void VisaSessionTest::openRefusals()
{
    const char *socket = "TCPIP0::127.0.0.1::5025::SOCKET";
    const std::size_t before = visa::SessionTable::instance().openCount();
    ViSession vi = 42;
    QCOMPARE(viOpen(VI_NULL, socket, VI_NULL, 2000, &vi), VI_ERROR_INV_OBJECT);
    QCOMPARE(vi, ViSession(VI_NULL));

    ViSession rm = VI_NULL;
    QCOMPARE(viOpenDefaultRM(&rm), VI_SUCCESS);
    const QList<QPair<const char *, ViStatus>> refused = {
        {"TCPIP0::127.0.0.1::SOCKET", VI_ERROR_INV_RSRC_NAME},
        {nullptr, VI_ERROR_INV_RSRC_NAME},
        {"TCPIP0::127.0.0.1::hislip0,1::INSTR", VI_ERROR_RSRC_NFOUND}, // nobody at port 1
        // Valid names of interfaces and classes without a transport.
        {"VXI0::1::INSTR", VI_ERROR_NSUP_OPER},
        {"USB0::0x0957::0x1A07::SN::RAW", VI_ERROR_NSUP_OPER},
    };
    for (const auto &[name, status] : refused) {
        vi = 42;
        QCOMPARE(viOpen(rm, name, VI_NULL, 2000, &vi), status);
        QCOMPARE(vi, ViSession(VI_NULL));
    }
    QCOMPARE(viOpen(rm, "GPIB0::5::INSTR", 0x100, 2000, &vi), VI_ERROR_INV_ACC_MODE);
    QCOMPARE(viOpen(rm, socket, VI_NULL, 2000, nullptr), VI_ERROR_INV_PARAMETER);
    QCOMPARE(viClose(rm), VI_SUCCESS);
    QCOMPARE(viOpen(rm, socket, VI_NULL, 2000, &vi), VI_ERROR_INV_OBJECT); // closed manager
    QCOMPARE(visa::SessionTable::instance().openCount(), before);
}

// The drivers log these texts; they fit the buffer VISA callers provide.
void VisaSessionTest::statusDescriptions()
{
    ViChar text[VI_FIND_BUFLEN];
    QCOMPARE(viStatusDesc(VI_NULL, VI_ERROR_TMO, text), VI_SUCCESS);
    QVERIFY2(QByteArray(text).startsWith("VI_ERROR_TMO: "), text);
    QCOMPARE(viStatusDesc(VI_NULL, 0x1234, text), VI_WARN_UNKNOWN_STATUS);
    QVERIFY2(QByteArray(text).startsWith("Unknown status 0x00001234"), text);
    QVERIFY(std::strlen(text) < VI_FIND_BUFLEN);
}

QTEST_APPLESS_MAIN(VisaSessionTest)
#include "tst_visasession.moc"
