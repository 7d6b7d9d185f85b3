// VISA locks between sessions of one process, and the answers of a library
// that delivers no events, on SOCKET sessions to a loopback listener.

#include "instruments/visa/visa.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QtTest>

#include <thread>

class VisaLocksTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sharedExclusiveAndNested();
    void openWithLockWaitsForRelease();
    void eventsAndFlush();

private:
    ViSession open(ViAccessMode mode = VI_NO_LOCK, ViUInt32 timeout = 0,
                   ViStatus expected = VI_SUCCESS);

    QTcpServer listener; // the kernel accepts; nothing is read
    QByteArray resource;
    ViSession rm = VI_NULL;
};

void VisaLocksTest::initTestCase()
{
    QVERIFY(listener.listen(QHostAddress::LocalHost));
    resource = "TCPIP0::127.0.0.1::" + QByteArray::number(listener.serverPort()) + "::SOCKET";
    QCOMPARE(viOpenDefaultRM(&rm), VI_SUCCESS);
}

ViSession VisaLocksTest::open(ViAccessMode mode, ViUInt32 timeout, ViStatus expected)
{
    ViSession vi = VI_NULL;
    const ViStatus status = viOpen(rm, resource.constData(), mode, timeout, &vi);
    [&] {
        QCOMPARE(status, expected);
    }();
    return vi;
}

void VisaLocksTest::sharedExclusiveAndNested()
{
    const ViSession a = open(), b = open(), c = open();
    ViChar key[VI_FIND_BUFLEN] = {}, joined[VI_FIND_BUFLEN] = {};
    QCOMPARE(viLock(a, VI_SHARED_LOCK, 0, VI_NULL, key), VI_SUCCESS);
    QVERIFY(key[0] != '\0');
    QCOMPARE(viLock(a, VI_SHARED_LOCK, 0, VI_NULL, key), VI_SUCCESS_NESTED_SHARED);
    QCOMPARE(viLock(b, VI_SHARED_LOCK, 0, key, joined), VI_SUCCESS);
    QCOMPARE(QByteArray(joined), QByteArray(key));

    // Holders of the key may work; a session without it may not, nor lock.
    ViUInt32 written = 0;
    QCOMPARE(viWrite(b, reinterpret_cast<ViConstBuf>("*CLS\n"), 5, &written), VI_SUCCESS);
    QCOMPARE(viWrite(c, reinterpret_cast<ViConstBuf>("*CLS\n"), 5, &written), VI_ERROR_RSRC_LOCKED);
    QCOMPARE(viLock(c, VI_SHARED_LOCK, 0, "another key", joined), VI_ERROR_TMO);
    QElapsedTimer waited;
    waited.start();
    QCOMPARE(viLock(c, VI_EXCLUSIVE_LOCK, 80, VI_NULL, VI_NULL), VI_ERROR_TMO);
    QVERIFY(waited.elapsed() >= 80);
    ViAccessMode state = VI_NO_LOCK;
    QCOMPARE(viGetAttribute(c, VI_ATTR_RSRC_LOCK_STATE, &state), VI_SUCCESS);
    QCOMPARE(state, ViAccessMode(VI_SHARED_LOCK));

    // Each level is released by its own unlock, the exclusive ones first.
    QCOMPARE(viUnlock(a), VI_SUCCESS_NESTED_SHARED);
    QCOMPARE(viUnlock(a), VI_SUCCESS);
    QCOMPARE(viUnlock(a), VI_ERROR_SESN_NLOCKED);
    QCOMPARE(viLock(b, VI_EXCLUSIVE_LOCK, 0, VI_NULL, VI_NULL), VI_SUCCESS);
    QCOMPARE(viLock(b, VI_EXCLUSIVE_LOCK, 0, VI_NULL, VI_NULL), VI_SUCCESS_NESTED_EXCLUSIVE);
    QCOMPARE(viUnlock(b), VI_SUCCESS_NESTED_EXCLUSIVE);
    QCOMPARE(viUnlock(b), VI_SUCCESS_NESTED_SHARED);
    QCOMPARE(viLock(b, VI_EXCLUSIVE_LOCK + VI_SHARED_LOCK, 0, VI_NULL, key),
             VI_ERROR_INV_LOCK_TYPE);
    QCOMPARE(viUnlock(b), VI_SUCCESS);
    QCOMPARE(viWrite(c, reinterpret_cast<ViConstBuf>("*CLS\n"), 5, &written), VI_SUCCESS);
    for (const ViSession vi : {a, b, c})
        QCOMPARE(viClose(vi), VI_SUCCESS);
}

// An exclusive open waits out another session's lock, which closing releases.
void VisaLocksTest::openWithLockWaitsForRelease()
{
    const ViSession holder = open(VI_EXCLUSIVE_LOCK);
    QCOMPARE(open(VI_EXCLUSIVE_LOCK, 50, VI_ERROR_RSRC_LOCKED), ViSession(VI_NULL));
    std::thread closer([holder] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        viClose(holder);
    });
    const ViSession next = open(VI_EXCLUSIVE_LOCK, 10000);
    closer.join();
    QCOMPARE(viUnlock(next), VI_SUCCESS);
    QCOMPARE(viClose(next), VI_SUCCESS);
}

// PyVISA's close() turns all events off (tested in pyvisa_interop); asking
// for one event type, or a flush of one buffer two ways, fails.
void VisaLocksTest::eventsAndFlush()
{
    const ViSession vi = open();
    QCOMPARE(viEnableEvent(vi, VI_EVENT_SERVICE_REQ, VI_QUEUE, VI_NULL), VI_ERROR_INV_EVENT);
    QCOMPARE(viDisableEvent(vi, VI_EVENT_SERVICE_REQ, VI_ALL_MECH), VI_ERROR_INV_EVENT);
    QCOMPARE(viDiscardEvents(vi, VI_ALL_ENABLED_EVENTS, 0), VI_ERROR_INV_MECH);
    QCOMPARE(viFlush(vi, VI_READ_BUF | VI_READ_BUF_DISCARD), VI_ERROR_INV_MASK);
    QCOMPARE(viFlush(vi, VI_READ_BUF_DISCARD | VI_WRITE_BUF), VI_SUCCESS);
    QCOMPARE(viClose(vi), VI_SUCCESS);
}

QTEST_GUILESS_MAIN(VisaLocksTest)
#include "tst_visalocks.moc"
