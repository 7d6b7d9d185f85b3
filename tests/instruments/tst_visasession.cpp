// Session handles and the entry points' answers that need no instrument.

#include "visa/SessionTable.h"
#include "visa/visa.h"

#include <QtTest>

class VisaSessionTest : public QObject
{
    Q_OBJECT

private slots:
    void unknownHandleIsInvalidObject_data();
    void unknownHandleIsInvalidObject();
    void closingTwiceIsHarmless();
    void openNeedsResourceManager();
    void openRejectsMalformedNames();
    void openRejectsUnsupportedResources_data();
    void openRejectsUnsupportedResources();
    void resourceManagerDoesNoIo();
    void statusDescriptions_data();
    void statusDescriptions();
};

void VisaSessionTest::unknownHandleIsInvalidObject_data()
{
    QTest::addColumn<ViSession>("handle");
    QTest::newRow("never issued") << ViSession(0x7FFFFFF0);
    QTest::newRow("all bits") << ViSession(0xFFFFFFFF);
}

void VisaSessionTest::unknownHandleIsInvalidObject()
{
    QFETCH(ViSession, handle);
    ViByte buffer[16] = {};
    ViUInt32 count = 99;
    QCOMPARE(viRead(handle, buffer, sizeof buffer, &count), VI_ERROR_INV_OBJECT);
    QCOMPARE(count, 0u);
    QCOMPARE(viWrite(handle, buffer, 1, &count), VI_ERROR_INV_OBJECT);
    QCOMPARE(viSetAttribute(handle, VI_ATTR_TERMCHAR_EN, VI_TRUE), VI_ERROR_INV_OBJECT);
    ViUInt32 timeout = 0;
    QCOMPARE(viGetAttribute(handle, VI_ATTR_TMO_VALUE, &timeout), VI_ERROR_INV_OBJECT);
    QCOMPARE(viClose(handle), VI_ERROR_INV_OBJECT);
}

void VisaSessionTest::closingTwiceIsHarmless()
{
    const std::size_t before = visa::SessionTable::instance().openCount();
    ViSession first = VI_NULL;
    ViSession second = VI_NULL;
    QCOMPARE(viOpenDefaultRM(&first), VI_SUCCESS);
    QCOMPARE(viOpenDefaultRM(&second), VI_SUCCESS);
    QVERIFY(first != VI_NULL);
    QVERIFY(second != first);

    QCOMPARE(viClose(first), VI_SUCCESS);
    QCOMPARE(viClose(first), VI_ERROR_INV_OBJECT);
    // A closed handle is not handed out again, so it stays invalid.
    ViSession third = VI_NULL;
    QCOMPARE(viOpenDefaultRM(&third), VI_SUCCESS);
    QVERIFY(third != first);
    QCOMPARE(viClose(first), VI_ERROR_INV_OBJECT);
    QCOMPARE(viClose(second), VI_SUCCESS);
    QCOMPARE(viClose(third), VI_SUCCESS);
    QCOMPARE(viClose(VI_NULL), VI_WARN_NULL_OBJECT);
    QCOMPARE(visa::SessionTable::instance().openCount(), before);
}

void VisaSessionTest::openNeedsResourceManager()
{
    ViSession vi = 42;
    QCOMPARE(viOpen(VI_NULL, "TCPIP0::127.0.0.1::5025::SOCKET", VI_NULL, 2000, &vi),
             VI_ERROR_INV_OBJECT);
    QCOMPARE(vi, ViSession(VI_NULL));

    ViSession rm = VI_NULL;
    QCOMPARE(viOpenDefaultRM(&rm), VI_SUCCESS);
    QCOMPARE(viClose(rm), VI_SUCCESS);
    vi = 42;
    QCOMPARE(viOpen(rm, "TCPIP0::127.0.0.1::5025::SOCKET", VI_NULL, 2000, &vi),
             VI_ERROR_INV_OBJECT);
    QCOMPARE(vi, ViSession(VI_NULL));
    QCOMPARE(viOpen(rm, "TCPIP0::127.0.0.1::5025::SOCKET", VI_NULL, 2000, nullptr),
             VI_ERROR_INV_PARAMETER);
}

void VisaSessionTest::openRejectsMalformedNames()
{
    ViSession rm = VI_NULL;
    QCOMPARE(viOpenDefaultRM(&rm), VI_SUCCESS);
    ViSession vi = 42;
    QCOMPARE(viOpen(rm, "TCPIP0::127.0.0.1::SOCKET", VI_NULL, 2000, &vi), VI_ERROR_INV_RSRC_NAME);
    QCOMPARE(vi, ViSession(VI_NULL));
    QCOMPARE(viOpen(rm, nullptr, VI_NULL, 2000, &vi), VI_ERROR_INV_RSRC_NAME);
    QCOMPARE(viOpen(rm, "GPIB0::5::INSTR", 0x100, 2000, &vi), VI_ERROR_INV_ACC_MODE);
    QCOMPARE(viClose(rm), VI_SUCCESS);
}

void VisaSessionTest::openRejectsUnsupportedResources_data()
{
    QTest::addColumn<QString>("resource");
    QTest::addColumn<ViStatus>("status");
    QTest::newRow("hislip") << "TCPIP0::127.0.0.1::hislip0::INSTR" << ViStatus(VI_ERROR_NSUP_OPER);
}

void VisaSessionTest::openRejectsUnsupportedResources()
{
    QFETCH(QString, resource);
    QFETCH(ViStatus, status);
    ViSession rm = VI_NULL;
    QCOMPARE(viOpenDefaultRM(&rm), VI_SUCCESS);
    ViSession vi = 42;
    QCOMPARE(viOpen(rm, resource.toUtf8().constData(), VI_NULL, 2000, &vi), status);
    QCOMPARE(vi, ViSession(VI_NULL));
    QCOMPARE(viClose(rm), VI_SUCCESS);
}

void VisaSessionTest::resourceManagerDoesNoIo()
{
    ViSession rm = VI_NULL;
    QCOMPARE(viOpenDefaultRM(&rm), VI_SUCCESS);
    ViByte buffer[8] = {};
    ViUInt32 count = 5;
    QCOMPARE(viRead(rm, buffer, sizeof buffer, &count), VI_ERROR_NSUP_OPER);
    QCOMPARE(count, 0u);
    QCOMPARE(viWrite(rm, buffer, 1, &count), VI_ERROR_NSUP_OPER);
    QCOMPARE(viSetAttribute(rm, VI_ATTR_TERMCHAR_EN, VI_TRUE), VI_ERROR_NSUP_ATTR);
    QCOMPARE(viClose(rm), VI_SUCCESS);
}

void VisaSessionTest::statusDescriptions_data()
{
    QTest::addColumn<ViStatus>("status");
    QTest::addColumn<ViStatus>("result");
    QTest::addColumn<QString>("prefix");
    QTest::newRow("success") << ViStatus(VI_SUCCESS) << ViStatus(VI_SUCCESS) << "VI_SUCCESS:";
    QTest::newRow("timeout") << ViStatus(VI_ERROR_TMO) << ViStatus(VI_SUCCESS) << "VI_ERROR_TMO:";
    QTest::newRow("connection lost")
        << ViStatus(VI_ERROR_CONN_LOST) << ViStatus(VI_SUCCESS) << "VI_ERROR_CONN_LOST:";
    QTest::newRow("unknown") << ViStatus(0x1234) << ViStatus(VI_WARN_UNKNOWN_STATUS)
                             << "Unknown status 0x00001234";
}

void VisaSessionTest::statusDescriptions()
{
    QFETCH(ViStatus, status);
    QFETCH(ViStatus, result);
    QFETCH(QString, prefix);
    ViChar text[VI_FIND_BUFLEN];
    QCOMPARE(viStatusDesc(VI_NULL, status, text), result);
    QVERIFY2(QString(text).startsWith(prefix), text);
    QVERIFY(std::strlen(text) < VI_FIND_BUFLEN);
}

QTEST_APPLESS_MAIN(VisaSessionTest)
#include "tst_visasession.moc"
