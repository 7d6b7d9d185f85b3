// Session handles and the entry points' answers that need no instrument:
// resource managers closing what was opened through them, user data, VISA
// locks between sessions of one process, a flush's mask; on SOCKET sessions
// to a listener nobody accepts on.

#include "tests/instruments/OpenSession.h"
#include "tests/support/TestSeed.h"

#include <QElapsedTimer>
#include <QtTest>

#include <map>
#include <thread>

namespace {

bool isOpen(ViObject handle)
{
    ViUInt64 data = 0;
    return viGetAttribute(handle, VI_ATTR_USER_DATA_64, &data) == VI_SUCCESS;
}

} // namespace

class VisaSessionTest : public QObject
{
    Q_OBJECT

private slots:
    void handlesAndRefusedOpens();
    void managersAndSessionsInAnyOrder();
    void userData32Bits();
    void sharedExclusiveAndNested();
    void openWithLockWaitsForRelease();
    void flushMask();
    void cleanupTestCase() { viClose(rm); }

private:
    // A session on the listener through the manager the lock tests share.
    ViSession open(ViAccessMode mode = VI_NO_LOCK, ViUInt32 timeout = 0,
                   ViStatus expected = VI_SUCCESS)
    {
        if (rm == VI_NULL)
            viOpenDefaultRM(&rm);
        ViSession vi = VI_NULL;
        const ViStatus status = viOpen(rm, unansweredSocket().constData(), mode, timeout, &vi);
        [&] {
            QCOMPARE(status, expected);
        }();
        return vi;
    }

    ViSession rm = VI_NULL;
};

// A handle never issued is no object; the resource manager is one, but not
// one that does I/O. Every refused open leaves VI_NULL in the session and no
// session behind.
void VisaSessionTest::handlesAndRefusedOpens()
{
    const char *socket = "TCPIP0::127.0.0.1::5025::SOCKET";
    const std::size_t before = openHandles();
    ViSession vi = 42;
    QCOMPARE(viOpen(VI_NULL, socket, VI_NULL, 2000, &vi), VI_ERROR_INV_OBJECT);
    QCOMPARE(vi, ViSession(VI_NULL));

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
    QCOMPARE(viClose(VI_NULL), VI_WARN_NULL_OBJECT);

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
    QCOMPARE(openHandles(), before);
}

// Seeded random opens and closes of managers and sessions against a model:
// a handle is open exactly while neither it nor its manager was closed (a
// manager closes what was opened through it and nothing else), so a closed
// handle is never handed out again.
void VisaSessionTest::managersAndSessionsInAnyOrder()
{
    QRandomGenerator random(testSeed(QTest::currentTestFunction()));
    const std::size_t before = openHandles();
    std::map<ViObject, ViObject> open; // handle -> its manager (VI_NULL for a manager)
    std::vector<ViObject> closed;
    for (int step = 0; step < 150; ++step) {
        std::vector<ViObject> managers;
        for (const auto &[handle, manager] : open) {
            if (manager == VI_NULL)
                managers.push_back(handle);
        }
        const int action = random.bounded(3);
        if (action == 0 || managers.empty()) {
            ViSession rm = VI_NULL;
            QCOMPARE(viOpenDefaultRM(&rm), VI_SUCCESS);
            open[rm] = VI_NULL;
        } else if (action == 1) {
            const ViObject rm = managers[random.bounded(int(managers.size()))];
            ViSession vi = VI_NULL;
            QCOMPARE(viOpen(rm, unansweredSocket().constData(), VI_NULL, 2000, &vi), VI_SUCCESS);
            open[vi] = rm;
        } else {
            auto it = open.begin();
            std::advance(it, random.bounded(int(open.size())));
            const ViObject handle = it->first;
            QCOMPARE(viClose(handle), VI_SUCCESS);
            for (auto entry = open.begin(); entry != open.end();) {
                const bool goes = entry->first == handle || entry->second == handle;
                if (goes)
                    closed.push_back(entry->first);
                entry = goes ? open.erase(entry) : std::next(entry);
            }
        }
        for (const auto &[handle, manager] : open)
            QVERIFY2(isOpen(handle),
                     qPrintable(QString("step %1: %2 closed").arg(step).arg(handle)));
        for (const ViObject handle : closed)
            QVERIFY2(!isOpen(handle),
                     qPrintable(QString("step %1: %2 open").arg(step).arg(handle)));
    }
    for (const auto &[handle, manager] : open) {
        if (manager == VI_NULL)
            viClose(handle);
    }
    QCOMPARE(openHandles(), before);
}

// The 32-bit user data writes four bytes and takes no more (the 64-bit one
// goes through pyvisa_interop; a closed handle has none:
// managersAndSessionsInAnyOrder looks).
void VisaSessionTest::userData32Bits()
{
    ViSession rm = VI_NULL;
    QCOMPARE(viOpenDefaultRM(&rm), VI_SUCCESS);
    QCOMPARE(viSetAttribute(rm, VI_ATTR_USER_DATA_32, 0xCAFEu), VI_SUCCESS);
    ViUInt32 narrow[2] = {0, 0xAAAAAAAA};
    QCOMPARE(viGetAttribute(rm, VI_ATTR_USER_DATA_32, narrow), VI_SUCCESS);
    QCOMPARE(narrow[0], 0xCAFEu);
    QCOMPARE(narrow[1], 0xAAAAAAAAu);
    QCOMPARE(viSetAttribute(rm, VI_ATTR_USER_DATA_32, 0x100000000ull), VI_ERROR_NSUP_ATTR_STATE);
    QCOMPARE(viClose(rm), VI_SUCCESS);
}

void VisaSessionTest::sharedExclusiveAndNested()
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
void VisaSessionTest::openWithLockWaitsForRelease()
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

// A flush of one buffer two ways fails. (The library delivers no events:
// PyVISA's close() turns them all off in pyvisa_interop.)
void VisaSessionTest::flushMask()
{
    const ViSession vi = open();
    QCOMPARE(viFlush(vi, VI_READ_BUF | VI_READ_BUF_DISCARD), VI_ERROR_INV_MASK);
    QCOMPARE(viFlush(vi, VI_READ_BUF_DISCARD | VI_WRITE_BUF), VI_SUCCESS);
    QCOMPARE(viClose(vi), VI_SUCCESS);
}

QTEST_APPLESS_MAIN(VisaSessionTest)
#include "tst_visasession.moc"
