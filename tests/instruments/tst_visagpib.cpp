// GPIB through a stand-in libgpib loaded with dlopen, as linux-gpib would be.

#include "OpenSession.h"
#include "visa/LibraryConfig.h"
#include "visa/visa.h"

#include <QFile>
#include <QTemporaryFile>
#include <QtTest>

#include <dlfcn.h>
#include <unistd.h>

namespace {

template <typename Function> Function stubFunction(const char *name)
{
    void *handle = ::dlopen(GPIB_STUB, RTLD_NOW | RTLD_NOLOAD);
    return handle ? reinterpret_cast<Function>(::dlsym(handle, name)) : nullptr;
}

int lastTimeout()
{
    return stubFunction<int (*)()>("stub_last_timeout")();
}

} // namespace

class VisaGpibTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void queryAnswersAtEoi();
    void readEndRules_data();
    void readEndRules();
    void timeoutRoundedUpToSteps_data();
    void timeoutRoundedUpToSteps();
    void addressing();
    void libraryMissing_failsQuietlyWithItsOwnStatus();
};

void VisaGpibTest::initTestCase()
{
    visa::LibraryConfig::setGpibLibrary(GPIB_STUB);
}

// A query answered at EOI; closing takes the device offline.
void VisaGpibTest::queryAnswersAtEoi()
{
    int offline = 0;
    {
        OpenSession session("GPIB0::5::INSTR");
        QCOMPARE(session.status, VI_SUCCESS);
        offline = stubFunction<int (*)()>("stub_offline_calls")(); // loaded by now
        QCOMPARE(session.write("*IDN?\n"), VI_SUCCESS);
        QCOMPARE(session.read(), Read(VI_SUCCESS, "STUB,GPIB,5,1.0\n"));
        QCOMPARE(stubFunction<int (*)()>("stub_last_eot")(), 1); // EOI with the last byte
        QVERIFY(QByteArray(stubFunction<const char *(*)()>("stub_written")()).endsWith("*IDN?\n"));
    }
    QCOMPARE(stubFunction<int (*)()>("stub_offline_calls")(), offline + 1);
}

void VisaGpibTest::readEndRules_data()
{
    QTest::addColumn<int>("termChar");
    QTest::addColumn<uint>("count");
    QTest::addColumn<QList<Read>>("reads");
    QTest::newRow("count reached") << -1 << 6u
                                   << QList<Read>{{VI_SUCCESS_MAX_CNT, "STUB,G"},
                                                  {VI_SUCCESS_MAX_CNT, "PIB,5,"},
                                                  {VI_SUCCESS, "1.0\n"},
                                                  {VI_ERROR_TMO, ""}};
    QTest::newRow("termination character") << int(',') << 200u
                                           << QList<Read>{{VI_SUCCESS_TERM_CHAR, "STUB,"},
                                                          {VI_SUCCESS_TERM_CHAR, "GPIB,"},
                                                          {VI_SUCCESS_TERM_CHAR, "5,"},
                                                          {VI_SUCCESS, "1.0\n"}};
}

void VisaGpibTest::readEndRules()
{
    QFETCH(int, termChar);
    QFETCH(uint, count);
    QFETCH(QList<Read>, reads);
    OpenSession session("GPIB0::5::INSTR");
    QCOMPARE(session.status, VI_SUCCESS);
    if (termChar >= 0) {
        QCOMPARE(viSetAttribute(session.vi, VI_ATTR_TERMCHAR, ViAttrState(termChar)), VI_SUCCESS);
        QCOMPARE(viSetAttribute(session.vi, VI_ATTR_TERMCHAR_EN, VI_TRUE), VI_SUCCESS);
    }
    QCOMPARE(session.write("*IDN?\n"), VI_SUCCESS);
    for (const Read &expected : reads)
        QCOMPARE(session.read(count), expected);
}

void VisaGpibTest::timeoutRoundedUpToSteps_data()
{
    QTest::addColumn<uint>("timeoutMs");
    QTest::addColumn<int>("code");
    QTest::newRow("1 s exactly: T1s") << 1000u << 11;
    QTest::newRow("just over 1 s: T3s") << 1001u << 12;
    QTest::newRow("immediate: shortest step") << 0u << 1;
    QTest::newRow("beyond the longest: T1000s") << 5000000u << 17;
    QTest::newRow("infinite: TNONE") << uint(VI_TMO_INFINITE) << 0;
}

void VisaGpibTest::timeoutRoundedUpToSteps()
{
    QFETCH(uint, timeoutMs);
    QFETCH(int, code);
    OpenSession session("GPIB0::5::INSTR");
    QCOMPARE(session.status, VI_SUCCESS);
    QCOMPARE(lastTimeout(), 12); // opened with the default 2 s
    QCOMPARE(viSetAttribute(session.vi, VI_ATTR_TMO_VALUE, timeoutMs), VI_SUCCESS);
    QCOMPARE(session.write("*CLS\n"), VI_SUCCESS);
    // The time left is handed down: allow one step less for time already spent.
    QVERIFY2(lastTimeout() == code || (code > 1 && lastTimeout() == code - 1 && timeoutMs != 1000),
             qPrintable(QString::number(lastTimeout())));
}

// Secondary addresses as linux-gpib takes them (0x60 + n, 0 for none); a
// device nobody answers at, and a board that is not there.
void VisaGpibTest::addressing()
{
    OpenSession secondary("GPIB0::5::3::INSTR");
    QCOMPARE(secondary.status, VI_SUCCESS);
    QCOMPARE(stubFunction<int (*)()>("stub_last_sad")(), 0x63);
    OpenSession primaryOnly("GPIB0::5::INSTR");
    QCOMPARE(stubFunction<int (*)()>("stub_last_sad")(), 0);
    OpenSession absent("GPIB0::7::INSTR");
    QCOMPARE(absent.status, VI_SUCCESS); // GPIB cannot tell before talking
    QCOMPARE(absent.write("*IDN?\n"), VI_ERROR_NLISTENERS);
    OpenSession noBoard("GPIB1::5::INSTR");
    QCOMPARE(noBoard.status, VI_ERROR_RSRC_NFOUND);
}

void VisaGpibTest::libraryMissing_failsQuietlyWithItsOwnStatus()
{
    visa::LibraryConfig::setGpibLibrary("/nonexistent/libgpib.so.0");
    // The drivers' log is the program's output: the library adds nothing to it.
    QTemporaryFile capture;
    QVERIFY(capture.open());
    const int savedError = ::dup(STDERR_FILENO);
    ::dup2(capture.handle(), STDERR_FILENO);
    OpenSession missing("GPIB0::5::INSTR");
    ::dup2(savedError, STDERR_FILENO);
    ::close(savedError);

    QCOMPARE(missing.status, VI_ERROR_LIBRARY_NFOUND);
    QCOMPARE(missing.vi, ViSession(VI_NULL));
    QFile file(capture.fileName());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray());
    ViChar description[256] = {};
    QCOMPARE(viStatusDesc(missing.rm, missing.status, description), VI_SUCCESS);
    QVERIFY2(QByteArray(description).contains("libgpib.so.0"), description);

    // A failed load is not remembered: once the library is there, it opens.
    visa::LibraryConfig::setGpibLibrary(GPIB_STUB);
    OpenSession installed("GPIB0::5::INSTR");
    QCOMPARE(installed.status, VI_SUCCESS);
}

QTEST_APPLESS_MAIN(VisaGpibTest)
#include "tst_visagpib.moc"
