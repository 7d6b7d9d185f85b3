// What every program of the tool does alike on its command line, started as on
// a machine without a desktop session: no display, no runtime folder.
#include "Version.h"

#include <QProcess>
#include <QtTest>

class tst_ProgramConventions : public QObject
{
    Q_OBJECT

    struct Finished
    {
        int exitCode = -1; // also when the program hangs, crashes or aborts
        QString out;
        QString err;
    };

    static Finished run(const QString &program, const QStringList &arguments)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name :
             {"XDG_RUNTIME_DIR", "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QString::fromLatin1(name));
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
        if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
            return {};
        return {process.exitCode(), QString::fromLocal8Bit(process.readAllStandardOutput()),
                QString::fromLocal8Bit(process.readAllStandardError())};
    }

private slots:
    void helpVersionAndBadUsage_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("first"); // taken before the options under test
        // QApplication takes its own options; the window must let them through.
        QTest::newRow("window") << "benchtest" << BENCHTEST_WINDOW
                                << QStringList{"-platform", "offscreen", "-style", "Fusion"};
        QTest::newRow("runner") << "benchtest-run" << BENCHTEST_RUN << QStringList();
        QTest::newRow("report") << "benchtest-report" << BENCHTEST_REPORT << QStringList();
        QTest::newRow("bench") << "benchsim" << BENCHSIM << QStringList();
        QTest::newRow("board") << "benchsim-board" << BENCHSIM_BOARD << QStringList();
    }

    void helpVersionAndBadUsage()
    {
        QFETCH(QString, program);
        QFETCH(QString, path);
        QFETCH(QStringList, first);

        // Nothing on stderr: no warning about the missing display or runtime folder either.
        const Finished help = run(path, first + QStringList{"--help"});
        QCOMPARE(help.err, QString());
        QCOMPARE(help.exitCode, 0);
        QVERIFY2(help.out.startsWith("Usage: " + program + " [") && help.out.contains("--version"),
                 qPrintable(help.out.left(200)));

        const Finished version = run(path, first + QStringList{"--version"});
        QCOMPARE(version.err, QString());
        QCOMPARE(version.exitCode, 0);
        QCOMPARE(version.out, program + " " BENCHTEST_VERSION "\n");

        // A bad option wins over --help.
        const Finished bad = run(path, first + QStringList{"--help", "--no-such-option"});
        QCOMPARE(bad.exitCode, 2);
        QCOMPARE(bad.out, QString());
        QVERIFY2(bad.err.startsWith(program + ": ") && bad.err.contains("no-such-option") &&
                     bad.err.endsWith("Try '" + program + " --help'.\n"),
                 qPrintable(bad.err));

        // -v never shows the version: the programs without a verbose mode refuse
        // it (the runner's -v is its --verbose, in tst_runneroptions).
        if (program == "benchtest-run")
            return;
        const Finished shortV = run(path, first + QStringList{"-v"});
        QCOMPARE(shortV.exitCode, 2);
        QCOMPARE(shortV.out, QString());
        QVERIFY2(shortV.err.startsWith(program + ": ") && shortV.err.contains("'v'"),
                 qPrintable(shortV.err));
    }
};

QTEST_GUILESS_MAIN(tst_ProgramConventions)
#include "tst_programconventions.moc"
