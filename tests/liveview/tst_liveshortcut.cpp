// The window's Ctrl+L: without a run only a log line; with one, benchtest-report --follow on
// the run's file, started from the program folder as a process of its own.
#include "app/MainWindow.h"
#include "context/TestContext.h"
#include "tests/support/ContextReset.h"
#include "tests/support/LogCapture.h"

#include <QCoreApplication>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

class TestLiveShortcut : public QObject
{
    Q_OBJECT

private slots:
    void ctrlL_followsTheCurrentRun()
    {
        // A stand-in for the report program that writes down its arguments.
        QTemporaryDir folder;
        const QString program = QCoreApplication::applicationDirPath() + "/benchtest-report";
        const QString arguments = folder.filePath("arguments");
        QFile script(program);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(
            "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$ARGS.part\" && mv \"$ARGS.part\" \"$ARGS\"\n");
        script.close();
        const auto removeScript = qScopeGuard([&] { script.remove(); });
        QVERIFY(script.setPermissions(script.permissions() | QFile::ExeOwner));
        qputenv("ARGS", QFile::encodeName(arguments));

        resetTestContext();
        LogCapture log;
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(&window, Qt::Key_L, Qt::ControlModifier);
        QCOMPARE(log.count(QStringLiteral("UI: No run to follow\r\n")), 1);
        QTest::qWait(300);
        QVERIFY(!QFile::exists(arguments));

        TestContext.resultFilePath = folder.filePath("[AutoTest][项目 A][QA][240101 090000].txt");
        QTest::keyClick(&window, Qt::Key_L, Qt::ControlModifier);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(arguments), 5000);
        QFile written(arguments);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(written.readAll()),
                 "--follow\n" + TestContext.resultFilePath + "\n");
        QCOMPARE(log.count(debugQuoted("UI: Live view of [" + TestContext.resultFilePath + "]")),
                 1);
    }
};

QTEST_MAIN(TestLiveShortcut)
#include "tst_liveshortcut.moc"
