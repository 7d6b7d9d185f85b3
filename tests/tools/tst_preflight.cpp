// The checks benchtest-run makes before the run engine starts, against the
// real thing: tmpfs folders in a private mount namespace (full, read-only,
// out of inodes). The instruments are checked by the engine itself
// (tests/engine/tst_meterchecks); what a runner process shows of each
// failure is in tst_runnerplan.
#include "plan/PlanFile.h"
#include "tools/runner/Preflight.h"

#include <QDir>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <sched.h>
#include <sys/mount.h>

namespace {

// A plan of nothing but defaults: no meter, the window's sweep.
RunPlan defaultPlan()
{
    PlanSettings settings;
    RunPlan plan;
    QString error;
    if (!PlanFile::parse(QByteArray(), "test.ini", &settings, &error) ||
        !RunPlan::resolve(settings, &plan, &error))
        qFatal("%s", qPrintable(error));
    return plan;
}

} // namespace

class tst_Preflight : public QObject
{
    Q_OBJECT

private slots:
    void folder();
    void cheapestFirst();
};

// Folders on small tmpfs mounts that this thread alone sees.
void tst_Preflight::folder()
{
    QTemporaryDir base;
    const QString small = base.filePath("small");
    const QString readOnly = base.filePath("read-only");
    const QString noInodes = base.filePath("no-inodes");
    const std::pair<QString, const char *> mounts[] = {
        {small, "size=64k"}, {readOnly, "size=64k"}, {noInodes, "size=64k,nr_inodes=2"}};
    const auto unmount = qScopeGuard([&] {
        for (const auto &[path, options] : mounts)
            ::umount(QFile::encodeName(path).constData());
    });
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        QSKIP("no private mount namespace here (needs CAP_SYS_ADMIN)");
    for (const auto &[path, options] : mounts) {
        QVERIFY(QDir().mkdir(path));
        QVERIFY(::mount("tmpfs", QFile::encodeName(path).constData(), "tmpfs",
                        path == readOnly ? MS_RDONLY : 0, options) == 0);
    }

    QString failure;
    QVERIFY2(Preflight::checkFolder(small, 60 * 1024, &failure), qPrintable(failure));
    QVERIFY(!Preflight::checkFolder(small, 65 * 1024, &failure));
    QCOMPARE(
        failure,
        QStringLiteral("result folder %1 has 64 KiB free, the run needs about 65 KiB").arg(small));
    QVERIFY(!Preflight::checkFolder(readOnly, 1, &failure));
    QCOMPARE(failure, QStringLiteral("result folder %1 is not writable").arg(readOnly));
    QVERIFY(!Preflight::checkFolder(noInodes, 1, &failure));
    QCOMPARE(failure,
             QStringLiteral("result folder %1 has no room for another file (no free inode)")
                 .arg(noInodes));
}

// A missing folder is told before a missing meter; a plan made by hand is
// checked like a resolved one, first.
void tst_Preflight::cheapestFirst()
{
    RunPlan plan = defaultPlan();
    QString failure;
    QVERIFY(!Preflight(plan, "/no/such/folder", false).run(&failure));
    QCOMPARE(failure, QStringLiteral("result folder /no/such/folder does not exist"));
    plan.readingsPerStep = 0;
    QVERIFY(!Preflight(plan, QDir::tempPath(), false).run(&failure));
    QCOMPARE(failure, QStringLiteral(
                          "the plan is not valid: 0 readings a step is not between 1 and 100000"));
}

QTEST_GUILESS_MAIN(tst_Preflight)
#include "tst_preflight.moc"
