// What every program of the tool does alike on its command line, run as a user
// on a machine without a desktop session would: no display, no runtime folder.
#include <QProcess>
#include <QtTest>

namespace {

struct Finished
{
    int exitCode = -1; // also when the program hangs, crashes or aborts
    QString out;
    QString err;
};

Finished run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"XDG_RUNTIME_DIR", "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    Finished finished;
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        process.waitForFinished();
        return finished;
    }
    finished.exitCode = process.exitCode();
    finished.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    finished.err = QString::fromLocal8Bit(process.readAllStandardError());
    return finished;
}

} // namespace

class tst_ProgramConventions : public QObject
{
    Q_OBJECT

private slots:
    void helpVersionAndBadUsage_data();
    void helpVersionAndBadUsage();
    void window_letsQtOptionsThrough();
};

void tst_ProgramConventions::helpVersionAndBadUsage_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("path");
    QTest::newRow("window") << "benchtest" << BENCHTEST_WINDOW;
    QTest::newRow("runner") << "benchtest-run" << BENCHTEST_RUN;
    QTest::newRow("report") << "benchtest-report" << BENCHTEST_REPORT;
    QTest::newRow("simulated bench") << "benchsim" << BENCHSIM;
    QTest::newRow("simulated board") << "benchsim-board" << BENCHSIM_BOARD;
}

void tst_ProgramConventions::helpVersionAndBadUsage()
{
    QFETCH(QString, program);
    QFETCH(QString, path);

    // The window answers without a display: it never opens one for these.
    const Finished help = run(path, {"--help"});
    QCOMPARE(help.exitCode, 0);
    QCOMPARE(help.err, QString());
    QVERIFY2(help.out.startsWith("Usage: " + program + " ["), qPrintable(help.out.left(200)));
    QVERIFY(help.out.contains("--version"));

    const Finished version = run(path, {"--version"});
    QCOMPARE(version.exitCode, 0);
    QCOMPARE(version.err, QString());
    QCOMPARE(version.out, program + " " BENCHTEST_VERSION "\n");

    for (const QStringList &arguments :
         {QStringList{"--no-such-option"}, QStringList{"--help", "--no-such-option"}}) {
        const Finished bad = run(path, arguments);
        QCOMPARE(bad.exitCode, 2);
        QCOMPARE(bad.out, QString());
        QVERIFY2(bad.err.startsWith(program + ": ") && bad.err.contains("no-such-option") &&
                     bad.err.endsWith("Try '" + program + " --help'.\n"),
                 qPrintable(bad.err));
    }
}

void tst_ProgramConventions::window_letsQtOptionsThrough()
{
    const Finished version =
        run(BENCHTEST_WINDOW, {"-platform", "offscreen", "-style", "Fusion", "--version"});
    QCOMPARE(version.exitCode, 0);
    QCOMPARE(version.out, "benchtest " BENCHTEST_VERSION "\n");

    const Finished stray = run(BENCHTEST_WINDOW, {"results.txt"});
    QCOMPARE(stray.exitCode, 2);
    QVERIFY2(stray.err.contains("'results.txt'"), qPrintable(stray.err));
}

QTEST_GUILESS_MAIN(tst_ProgramConventions)
#include "tst_programconventions.moc"
