#include "results/FileOperation.h"

#include <QTest>

#include <limits>

class TestProgressText : public QObject
{
    Q_OBJECT

private slots:
    void progressText_data();
    void progressText();
};

void TestProgressText::progressText_data()
{
    QTest::addColumn<qint64>("elapsedMs");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<qint64>("done");
    QTest::addColumn<int>("percent");
    QTest::addColumn<QString>("text");

    // The worked examples.
    QTest::newRow("minutes") << 90000LL << 10LL << 4LL << 40 << "进度：40%  ( 2m 15s )";
    QTest::newRow("seconds, percent truncated")
        << 1000LL << 3LL << 1LL << 33 << "进度：33%  ( 2s )";

    // Unit boundaries: every unit below the largest is shown, even at 0.
    QTest::newRow("one minute") << 60000LL << 2LL << 1LL << 50 << "进度：50%  ( 1m 0s )";
    QTest::newRow("days and every unit") << 2LL * 86400000 + 3600000 + 60000 + 1999 << 2LL << 1LL
                                         << 50 << "进度：50%  ( 2d 1h 1m 1s )";
    QTest::newRow("product before division")
        << 10LL << 1000LL << 3LL << 0 << "进度：0%  ( 3s )"; // 997 * 10 / 3 = 3323 ms

    // The clock set back during the run: units chosen by magnitude, each signed.
    QTest::newRow("negative minutes") << -90000LL << 2LL << 1LL << 50 << "进度：50%  ( -1m -30s )";
    QTest::newRow("negative under a second") << -999LL << 2LL << 1LL << 50 << "进度：50%  ( 0s )";

    // Step counts and times at the 64-bit limit: the products do not overflow,
    // a remaining time beyond the limit is shown as the limit.
    const qint64 max = std::numeric_limits<qint64>::max();
    const QString longest = "106751991167d 7h 12m 55s";
    QTest::newRow("steps at the limit")
        << 1000LL << max << 1LL << 0 << "进度：0%  ( " + longest + " )";
    QTest::newRow("time at the limit")
        << max << 3LL << 1LL << 33 << "进度：33%  ( " + longest + " )";
    QTest::newRow("time at the negative limit")
        << std::numeric_limits<qint64>::min() << 3LL << 1LL << 33
        << "进度：33%  ( -106751991167d -7h -12m -55s )";

    // No completed step or no steps: nothing to extrapolate from.
    QTest::newRow("nothing done yet") << 5000LL << 10LL << 0LL << 0 << "进度：0%  ( -- )";
    QTest::newRow("no steps") << 5000LL << 0LL << 0LL << 0 << "进度：0%  ( -- )";
    QTest::newRow("negative count") << 5000LL << 10LL << -1LL << 0 << "进度：0%  ( -- )";
    QTest::newRow("all done") << 5000LL << 10LL << 10LL << 100 << "进度：100%  ( 0s )";
}

void TestProgressText::progressText()
{
    QFETCH(qint64, elapsedMs);
    QFETCH(qint64, total);
    QFETCH(qint64, done);
    QFETCH(int, percent);
    QFETCH(QString, text);

    FileOperation writer;
    QString shownText = QStringLiteral("previous text");
    int shownPercent = -7;
    writer.ProgressText(shownText, shownPercent, elapsedMs, total, done);

    QCOMPARE(shownText, text);
    QCOMPARE(shownPercent, percent);
}

QTEST_APPLESS_MAIN(TestProgressText)
#include "tst_progresstext.moc"
