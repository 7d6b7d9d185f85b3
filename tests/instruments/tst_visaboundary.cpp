// The C boundary under memory exhaustion: every allocation a vi* call makes
// fails in turn (this executable replaces operator new for the thread under
// test). Each call must come back with a status (VI_ERROR_ALLOC where the
// failure mattered), never with an exception into its C caller, and leave
// no half-open handle behind.

#include "tests/instruments/OpenSession.h"
#include "tests/support/ScriptedPeer.h"

#include <QtTest>

#include <cstdlib>
#include <functional>
#include <new>

namespace {

// The allocation of this thread that fails next (-1: none), counted down.
thread_local long failIn = -1;

void *allocate(std::size_t size)
{
    if (failIn >= 0 && failIn-- == 0)
        throw std::bad_alloc();
    if (void *memory = std::malloc(size == 0 ? 1 : size))
        return memory;
    throw std::bad_alloc();
}

} // namespace

void *operator new(std::size_t size)
{
    return allocate(size);
}

void *operator new[](std::size_t size)
{
    return allocate(size);
}

void operator delete(void *memory) noexcept
{
    std::free(memory);
}

void operator delete[](void *memory) noexcept
{
    std::free(memory);
}

void operator delete(void *memory, std::size_t) noexcept
{
    std::free(memory);
}

void operator delete[](void *memory, std::size_t) noexcept
{
    std::free(memory);
}

class VisaBoundaryTest : public QObject
{
    Q_OBJECT

private slots:
    void everyAllocationMayFail_data();
    void everyAllocationMayFail();
};

using Call = std::function<ViStatus(ViSession rm, ViSession vi)>;
Q_DECLARE_METATYPE(Call)

void VisaBoundaryTest::everyAllocationMayFail_data()
{
    QTest::addColumn<Call>("call");
    QTest::addColumn<int>("handlesAdded"); // by the call that gets through

    QTest::newRow("viOpenDefaultRM") << Call([](ViSession, ViSession) {
        ViSession rm = VI_NULL;
        return viOpenDefaultRM(&rm);
    }) << 1;
    QTest::newRow("viParseRsrcEx") << Call([](ViSession rm, ViSession) {
        ViUInt16 type = 0;
        ViUInt16 board = 0;
        ViChar names[3][VI_FIND_BUFLEN];
        return viParseRsrcEx(rm, "tcpip0::[fe80::1%eth0]::hislip2,4880::instr", &type, &board,
                             names[0], names[1], names[2]);
    }) << 0;
    QTest::newRow("viWrite") << Call([](ViSession, ViSession vi) {
        ViUInt32 written = 0;
        return viWrite(vi, reinterpret_cast<ViConstBuf>("*IDN?\n"), 6, &written);
    }) << 0;
    QTest::newRow("viRead") << Call([](ViSession, ViSession vi) {
        ViByte reply[64];
        ViUInt32 count = 0;
        return viRead(vi, reply, sizeof reply, &count);
    }) << 0;
    QTest::newRow("viGetAttribute, viSetAttribute") << Call([](ViSession, ViSession vi) {
        ViChar name[VI_FIND_BUFLEN];
        const ViStatus status = viGetAttribute(vi, VI_ATTR_RSRC_NAME, name);
        return status != VI_SUCCESS ? status : viSetAttribute(vi, VI_ATTR_TMO_VALUE, 500);
    }) << 0;
    QTest::newRow("viLock, viUnlock") << Call([](ViSession, ViSession vi) {
        ViChar key[VI_FIND_BUFLEN];
        const ViStatus status = viLock(vi, VI_SHARED_LOCK, 0, "key", key);
        return status < VI_SUCCESS ? status : viUnlock(vi);
    }) << 0;
    QTest::newRow("viOpen") << Call([](ViSession rm, ViSession) {
        ViSession second = VI_NULL;
        return viOpen(rm, unansweredSocket().constData(), VI_NULL, 1000, &second);
    }) << 1;
    QTest::newRow("viClose of the manager")
        << Call([](ViSession rm, ViSession) { return viClose(rm); }) << -2;
}

// Fails the first, second, ... allocation of the call until it gets through
// without meeting the failure, on a session to a peer with replies waiting.
void VisaBoundaryTest::everyAllocationMayFail()
{
    QFETCH(Call, call);
    QFETCH(int, handlesAdded);
    ScriptedPeer peer;
    for (int i = 0; i < 400; ++i)
        peer.send("BenchSim,34461A,SIM0001,A.02.14\n");
    peer.start();
    ViSession rm = VI_NULL;
    QCOMPARE(viOpenDefaultRM(&rm), VI_SUCCESS);
    ViSession vi = VI_NULL;
    QCOMPARE(viOpen(rm, peer.socketResource().toUtf8().constData(), VI_NULL, 2000, &vi),
             VI_SUCCESS);
    viSetAttribute(vi, VI_ATTR_TMO_VALUE, 200);

    bool failureHit = true;
    for (long failing = 0; failureHit; ++failing) {
        QVERIFY2(failing < 300, "the call never got through");
        const std::size_t before = openHandles();
        ViStatus status = VI_ERROR_SYSTEM_ERROR;
        failIn = failing;
        try {
            status = call(rm, vi);
        } catch (...) {
            failIn = -1;
            QFAIL(qPrintable(QString("an exception left the call at allocation %1").arg(failing)));
        }
        failureHit = failIn < 0;
        failIn = -1;
        if (!failureHit) {
            QVERIFY2(status >= VI_SUCCESS || status == VI_ERROR_TMO,
                     qPrintable(QString::number(status, 16)));
            QCOMPARE(openHandles(), std::size_t(qint64(before) + handlesAdded));
        } else {
            // A failed call opens nothing; a close may have closed.
            QVERIFY2(status == VI_ERROR_ALLOC || status >= VI_SUCCESS || status == VI_ERROR_TMO,
                     qPrintable(QString("%1 at allocation %2").arg(status, 0, 16).arg(failing)));
            if (status == VI_ERROR_ALLOC)
                QVERIFY(openHandles() <= before);
        }
    }
    viClose(rm);
}

QTEST_GUILESS_MAIN(VisaBoundaryTest)
#include "tst_visaboundary.moc"
