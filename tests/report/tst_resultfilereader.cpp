#include "ResultFileReader.h"

#include <QStringEncoder>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kDacName = QStringLiteral("DAC - 串口发送DAC值，万用表采集电压");

QString dataFile(const char *name)
{
    return QStringLiteral(BENCHTEST_SOURCE_DIR "/tests/report/data/") + QLatin1String(name);
}

// A head block as the writer puts it before the column heading.
QString head(const QString &item, const QString &start = QStringLiteral("240101 090000"))
{
    return QStringLiteral("测试项: [%1]\n测试名: [%2]\n测试人: [QA]\n开始时间: [%3]\n\n")
        .arg(kDacName, item, start);
}

const QString kEnd = QStringLiteral("\n完成时间: [240101 090100]\n");

} // namespace

class TestResultFileReader : public QObject
{
    Q_OBJECT

private slots:
    void completeRun()
    {
        const ResultFile file = ResultFileReader::read(dataFile("perfect.txt"));
        QVERIFY(file.error.isEmpty());
        QCOMPARE(file.encoding, QStringLiteral("UTF-8"));
        QCOMPARE(file.warnings, QStringList());
        QCOMPARE(file.runs.size(), 1);
        const ResultRun &run = file.runs.first();
        QCOMPARE(run.index, 1);
        QCOMPARE(run.testName, kDacName);
        QCOMPARE(run.testItem, QStringLiteral("PERFECT_DAC"));
        QCOMPARE(run.tester, QStringLiteral("QA"));
        QCOMPARE(run.startTime, QStringLiteral("240101 090000"));
        QCOMPARE(run.finishTime, QStringLiteral("240101 090100"));
        QVERIFY(run.finished);
        QCOMPARE(run.quantity, QStringLiteral("DAC"));
        QCOMPARE(run.dmmColumns, QStringList({"DMM1", "DMM2"}));
        QCOMPARE(run.headingLine, 6);
        QCOMPARE(run.rows.size(), 8);
        const ResultRow &row = run.rows.at(2);
        QCOMPARE(row.number, 3);
        QCOMPARE(row.code, 3);
        QCOMPARE(row.readings, QStringList({"+8.74000000E-01", "+8.76000000E-01"}));
        QCOMPARE(row.line, 9);
        QVERIFY(row.ended);
    }

    void lineEnds_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const QString text = head(QStringLiteral("CRLF")) + "No.\tDAC\tDMM1\n1\t1\t+1.0E-03\n" +
                             "2\t2\t+2.0E-03\n" + kEnd;
        QString crlf = text;
        crlf.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
        QTest::newRow("LF") << text.toUtf8();
        QTest::newRow("CR LF") << crlf.toUtf8();
        QTest::newRow("CR LF with byte-order mark") << QByteArray("\xEF\xBB\xBF") + crlf.toUtf8();
    }

    void lineEnds()
    {
        QFETCH(QByteArray, bytes);
        const ResultFile file = ResultFileReader::parse(bytes, QStringLiteral("mem.txt"));
        QCOMPARE(file.warnings, QStringList());
        QCOMPARE(file.runs.size(), 1);
        const ResultRun &run = file.runs.first();
        QCOMPARE(run.testName, kDacName);
        QCOMPARE(run.testItem, QStringLiteral("CRLF"));
        QCOMPARE(run.dmmColumns, QStringList({"DMM1"}));
        QCOMPARE(run.rows.size(), 2);
        QCOMPARE(run.rows.last().readings, QStringList({"+2.0E-03"}));
        QCOMPARE(run.finishTime, QStringLiteral("240101 090100"));
        QVERIFY(run.finished);
    }

    // How a stopped run ends: the last row may lack readings and its line end, and the next
    // run's head block may follow on the same line.
    void stoppedRuns_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("runs");
        QTest::addColumn<int>("rows");              // of the first run
        QTest::addColumn<QStringList>("lastCells"); // of the first run's last row
        QTest::addColumn<bool>("lastEnded");

        const QString heading = QStringLiteral("No.\tDAC\tDMM1\tDMM2\n1\t1\t1.0\t1.1\n");
        QTest::newRow("between steps")
            << head("A") + heading << 1 << 1 << QStringList{"1.0", "1.1"} << true;
        QTest::newRow("after the send")
            << head("A") + heading + "2\t2" << 1 << 2 << QStringList() << false;
        QTest::newRow("mid-row") << head("A") + heading + "2\t2\t2.0" << 1 << 2
                                 << QStringList{"2.0"} << false;
        QTest::newRow("mid-row, next run on the same line")
            << head("A") + heading + "2\t2\t2.0" + head("B") + heading + kEnd << 2 << 2
            << QStringList{"2.0"} << false;
        QTest::newRow("after the send, next run on the same line")
            << head("A") + heading + "2\t2" + head("B") + heading + kEnd << 2 << 2 << QStringList()
            << false;
        QTest::newRow("ERR cell, next run on the same line")
            << head("A") + heading + "2\t2\tERR" + head("B") + heading + kEnd << 2 << 2
            << QStringList{"ERR"} << false;
        QTest::newRow("between steps, next run follows")
            << head("A") + heading + head("B") + heading + kEnd << 2 << 1
            << QStringList{"1.0", "1.1"} << true;
    }

    void stoppedRuns()
    {
        QFETCH(QString, text);
        QFETCH(int, runs);
        QFETCH(int, rows);
        QFETCH(QStringList, lastCells);
        QFETCH(bool, lastEnded);

        const ResultFile file = ResultFileReader::parse(text.toUtf8(), QStringLiteral("m.txt"));
        QCOMPARE(file.warnings, QStringList());
        QCOMPARE(file.runs.size(), runs);
        const ResultRun &first = file.runs.first();
        QCOMPARE(first.testItem, QStringLiteral("A"));
        QVERIFY(!first.finished);
        QVERIFY(first.finishTime.isEmpty());
        QCOMPARE(first.rows.size(), rows);
        QCOMPARE(first.rows.last().readings, lastCells);
        QCOMPARE(first.rows.last().ended, lastEnded);
        if (runs == 2) {
            const ResultRun &second = file.runs.at(1);
            QCOMPARE(second.index, 2);
            QCOMPARE(second.testName, kDacName);
            QCOMPARE(second.testItem, QStringLiteral("B"));
            QCOMPARE(second.tester, QStringLiteral("QA"));
            QCOMPARE(second.rows.size(), 1);
            QVERIFY(second.finished);
        }
    }

    void twoRunsFile()
    {
        const ResultFile file = ResultFileReader::read(dataFile("tworuns.txt"));
        QCOMPARE(file.runs.size(), 2);
        QCOMPARE(file.runs.at(0).rows.size(), 3);
        QCOMPARE(file.runs.at(0).rows.last().readings, QStringList({"+3.00000000E+00"}));
        QVERIFY(!file.runs.at(0).finished);
        QCOMPARE(file.runs.at(1).rows.size(), 3);
        QCOMPARE(file.runs.at(1).startTime, QStringLiteral("240101 090000"));
        QCOMPARE(file.runs.at(1).finishTime, QStringLiteral("240101 090200"));
        QCOMPARE(file.runs.at(1).rows.first().line, 15);
    }

    void readingColumns_data()
    {
        QTest::addColumn<QString>("heading");
        QTest::addColumn<QString>("row");
        QTest::addColumn<QString>("quantity");
        QTest::addColumn<int>("columns");
        QTest::addColumn<QStringList>("readings");

        // With no readings per step configured the heading has no DMM column, yet each row
        // still carries one reading.
        QTest::newRow("no DMM column") << "No.\tDAC"
                                       << "1\t1\t+1.0E-03"
                                       << "DAC" << 0 << QStringList{"+1.0E-03"};
        QTest::newRow("ISINK") << "No.\tISINK\tDMM1"
                               << "1\t1\t-2.5E-04"
                               << "ISINK" << 1 << QStringList{"-2.5E-04"};
        QTest::newRow("five readings") << "No.\tDAC\tDMM1\tDMM2\tDMM3\tDMM4\tDMM5"
                                       << "1\t1\t1\t2\tERR\t4\t5"
                                       << "DAC" << 5 << QStringList{"1", "2", "ERR", "4", "5"};
    }

    void readingColumns()
    {
        QFETCH(QString, heading);
        QFETCH(QString, row);
        QFETCH(QString, quantity);
        QFETCH(int, columns);
        QFETCH(QStringList, readings);

        const QString text = head("X") + heading + '\n' + row + '\n' + kEnd;
        const ResultFile file = ResultFileReader::parse(text.toUtf8(), QStringLiteral("m.txt"));
        QCOMPARE(file.runs.size(), 1);
        QCOMPARE(file.runs.first().quantity, quantity);
        QCOMPARE(file.runs.first().dmmColumns.size(), columns);
        QCOMPARE(file.runs.first().rows.first().readings, readings);
    }

    // A file written on a Chinese Windows system holds its labels in the local code page.
    void localCodePage()
    {
        const QString text = QStringLiteral("测试项: [ISINK - 串口发送ISINK值，万用表采集电流]\n"
                                            "测试名: [电流测试]\n测试人: [张三]\n"
                                            "开始时间: [240101 090000]\n\nNo.\tISINK\tDMM1\n"
                                            "1\t1\t+1.0E-04\n2\t2\t+2.0E-04") +
                             head(QStringLiteral("第二次")) + "No.\tISINK\tDMM1\n1\t1\t1\n" + kEnd;
        QStringEncoder encoder("GB18030");
        QVERIFY(encoder.isValid());
        const QByteArray bytes = encoder(text);
        QVERIFY(bytes != text.toUtf8());

        const ResultFile file = ResultFileReader::parse(bytes, QStringLiteral("gbk.txt"));
        QCOMPARE(file.encoding, QStringLiteral("GB18030"));
        QCOMPARE(file.warnings.size(), 1);
        QCOMPARE(file.runs.size(), 2);
        QCOMPARE(file.runs.at(0).testItem, QStringLiteral("电流测试"));
        QCOMPARE(file.runs.at(0).tester, QStringLiteral("张三"));
        QCOMPARE(file.runs.at(0).rows.size(), 2);
        QCOMPARE(file.runs.at(0).rows.last().readings, QStringList({"+2.0E-04"}));
        QCOMPARE(file.runs.at(1).testItem, QStringLiteral("第二次"));
        QVERIFY(file.runs.at(1).finished);
    }

    void oddLines_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("runs");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QStringList>("warnings");

        const QString heading = QStringLiteral("No.\tDAC\tDMM1\n");
        QTest::newRow("garbage among rows")
            << head("A") + heading + "1\t1\t1.0\nhello\n2\t2\t2.0\n" + kEnd << 1 << 2
            << QStringList{"line 8: unrecognised line ignored"};
        QTest::newRow("row without a code")
            << head("A") + heading + "1\tx\t1.0\n2\t2\t2.0\n" + kEnd << 1 << 1
            << QStringList{"line 7: step row without a code ignored"};
        QTest::newRow("heading without head block")
            << heading + "1\t1\t1.0\n" + kEnd << 1 << 1
            << QStringList{"line 1: column heading without a head block"};
        QTest::newRow("row before any heading")
            << "1\t1\t1.0\n" + head("A") + heading + kEnd << 1 << 0
            << QStringList{"line 1: step row outside a run ignored"};
        QTest::newRow("head block only")
            << head("A") << 0 << 0
            << QStringList{"line 1: head block without a column heading "
                           "ignored"};
        QTest::newRow("empty file") << QString() << 0 << 0 << QStringList();
    }

    void oddLines()
    {
        QFETCH(QString, text);
        QFETCH(int, runs);
        QFETCH(int, rows);
        QFETCH(QStringList, warnings);

        const ResultFile file = ResultFileReader::parse(text.toUtf8(), QStringLiteral("m.txt"));
        QVERIFY(file.error.isEmpty());
        QCOMPARE(file.warnings, warnings);
        QCOMPARE(file.runs.size(), runs);
        if (runs > 0)
            QCOMPARE(file.runs.first().rows.size(), rows);
    }

    void unreadableFile()
    {
        QTemporaryDir dir;
        const ResultFile file = ResultFileReader::read(dir.filePath(QStringLiteral("none.txt")));
        QVERIFY(!file.error.isEmpty());
        QVERIFY(file.runs.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestResultFileReader)
#include "tst_resultfilereader.moc"
