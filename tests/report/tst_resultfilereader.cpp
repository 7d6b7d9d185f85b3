#include "report/ResultFileReader.h"
#include "tests/support/TestSeed.h"

#include <QBuffer>
#include <QDir>
#include <QStringEncoder>
#include <QtTest>

namespace {

const QString kDacName = QStringLiteral("DAC - 串口发送DAC值，万用表采集电压");

// A head block as the writer puts it before the column heading.
QString head(const QString &item, const QString &start = QStringLiteral("240101 090000"))
{
    return QStringLiteral("测试项: [%1]\n测试名: [%2]\n测试人: [QA]\n开始时间: [%3]\n\n")
        .arg(kDacName, item, start);
}

const QString kEnd = QStringLiteral("\n完成时间: [240101 090100]\n");

// A row as the handler saw it, copied out of the reader's buffer.
struct Row
{
    int run = 0;
    qint64 code = 0;
    QStringList readings;
    bool ended = true;
    bool cutCell = false;
    qint64 line = 0;
};

struct Read
{
    ResultFile file;
    QList<Row> rows;
};

ResultFileReader::RowHandler collectInto(QList<Row> *rows)
{
    return [rows](const ResultRun &run, const ResultRow &row) {
        QStringList cells;
        for (QByteArrayView cell : row.readings)
            cells.append(QString::fromUtf8(cell));
        rows->append({run.index, row.code, cells, row.ended, row.cutCell, row.line});
    };
}

Read readBytes(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    Read result;
    result.file =
        ResultFileReader::read(&buffer, QStringLiteral("m.txt"), collectInto(&result.rows));
    return result;
}

// Everything a read gives, a line per fact, so that a comparison shows where two reads differ.
QStringList described(const ResultFile &file, const QList<Row> &rows)
{
    QStringList lines{file.encoding, file.error};
    lines += file.warnings;
    for (const ResultRun &r : file.runs)
        lines << QStringLiteral("run %1: %2 %3 %4 %5 %6, %7 rows, heading line %8, finished %9")
                     .arg(r.index)
                     .arg(r.testName, r.testItem, r.startTime, r.finishTime, r.dmmColumns.join(','))
                     .arg(r.rows)
                     .arg(r.headingLine)
                     .arg(r.finished);
    for (const Row &row : rows)
        lines << QStringLiteral("run %1 code %2 [%3] ended %4 cut %5 line %6")
                     .arg(row.run)
                     .arg(row.code)
                     .arg(row.readings.join(','))
                     .arg(row.ended)
                     .arg(row.cutCell)
                     .arg(row.line);
    return lines;
}

} // namespace

class TestResultFileReader : public QObject
{
    Q_OBJECT

private slots:
    // How runs end and rows look: a stopped run's last row may lack readings and its line
    // end, and the next run's head block may follow on the same line. The last cell of a row
    // without its line end may be cut: it is no reading.
    void rowShapes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("runs");
        QTest::addColumn<int>("rows");              // of the first run
        QTest::addColumn<QStringList>("lastCells"); // of the first run's last row
        QTest::addColumn<bool>("cut");

        const QString heading = QStringLiteral("No.\tDAC\tDMM1\tDMM2\n1\t1\t1.0\t1.1\n");
        const QString done = head("A") + heading + "2\t2\t+2.0E-03\t2\n" + kEnd;
        QTest::newRow("finished") << done << 1 << 2 << QStringList{"+2.0E-03", "2"} << false;
        QTest::newRow("byte-order mark, CR LF") << "\uFEFF" + QString(done).replace("\n", "\r\n")
                                                << 1 << 2 << QStringList{"+2.0E-03", "2"} << false;
        // With no readings per step configured the heading has no DMM column, yet each row
        // still carries one reading.
        QTest::newRow("no DMM column") << head("A") + "No.\tISINK\n1\t1\t-2.5E-04\n" + kEnd << 1
                                       << 1 << QStringList{"-2.5E-04"} << false;
        QTest::newRow("blanks and empty cells")
            << head("A") + "No.\tDAC\tDMM1\n1\t 1 \t1\t2 \tERR\t\t5\n" + kEnd << 1 << 1
            << QStringList{"1", "2", "ERR", "", "5"} << false;
        QTest::newRow("stopped after the send")
            << head("A") + heading + "2\t2" << 1 << 2 << QStringList() << false;
        QTest::newRow("cut in the first cell")
            << head("A") + heading + "2\t2\t+2.0" << 1 << 2 << QStringList() << true;
        QTest::newRow("cut in the second cell")
            << head("A") + heading + "2\t2\t+2.00000000E-03\t+2.0" << 1 << 2
            << QStringList{"+2.00000000E-03"} << true;
        QTest::newRow("mid-row, next run on the same line")
            << head("A") + heading + "2\t2\t2.0\t2.1" + head("B") + heading + kEnd << 2 << 2
            << QStringList{"2.0"} << true;
        QTest::newRow("between steps, next run follows")
            << head("A") + heading + head("B") + heading + kEnd << 2 << 1
            << QStringList{"1.0", "1.1"} << false;
    }

    void rowShapes()
    {
        QFETCH(QString, text);
        QFETCH(int, runs);
        QFETCH(int, rows);
        QFETCH(QStringList, lastCells);
        QFETCH(bool, cut);

        const Read read = readBytes(text.toUtf8());
        QCOMPARE(read.file.warnings, QStringList());
        QCOMPARE(read.file.runs.size(), runs);
        const ResultRun &first = read.file.runs.first();
        QCOMPARE((QStringList{first.testName, first.testItem, first.tester, first.startTime}),
                 (QStringList{kDacName, "A", "QA", "240101 090000"}));
        QCOMPARE(first.rows, rows);
        const Row &last = read.rows.at(rows - 1);
        QCOMPARE(last.readings, lastCells);
        QCOMPARE(last.cutCell, cut);
        QCOMPARE(last.line, 6 + rows); // after the head block and the heading
        if (runs == 2) {
            QCOMPARE(read.file.runs.at(1).testItem, QStringLiteral("B"));
            QCOMPARE(read.file.runs.at(1).finishTime, QStringLiteral("240101 090100"));
            QVERIFY(!first.finished && read.file.runs.at(1).finished);
            QCOMPARE(read.rows.last().run, 2);
        }
    }

    // A file written on a Chinese Windows system holds its labels in the local code page.
    void localCodePage()
    {
        const QString text = QStringLiteral("测试项: [ISINK - 串口发送ISINK值，万用表采集电流]\n"
                                            "测试名: [电流测试]\n测试人: [张三]\n"
                                            "开始时间: [240101 090000]\n\nNo.\tISINK\tDMM1\n"
                                            "1\t1\t+1.0E-04\n2\t2\t+2.0E-04\t") +
                             head(QStringLiteral("第二次")) + "No.\tISINK\tDMM1\n1\t1\t1\n" + kEnd;
        QStringEncoder encoder("GB18030");
        const QByteArray bytes = encoder(text);

        const Read read = readBytes(bytes);
        QCOMPARE(read.file.encoding, QStringLiteral("GB18030"));
        QCOMPARE(read.file.warnings, QStringList{"not UTF-8; read as GB18030"});
        QCOMPARE(read.file.runs.size(), 2);
        QCOMPARE(read.file.runs.at(0).testItem, QStringLiteral("电流测试"));
        QCOMPARE(read.rows.at(1).readings, QStringList({"+2.0E-04"}));
    }

    // Odd lines are skipped with a warning; input that is no result file is refused.
    void oddInput_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("runs");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QStringList>("warnings");
        QTest::addColumn<QString>("error");

        const QString run = head("A") + "No.\tDAC\tDMM1\n";
        QTest::newRow("garbage among rows")
            << (run + "1\t1\t1.0\nhello\n2\t2\t2.0\n" + kEnd).toUtf8() << 1 << 2
            << QStringList{"line 8: unrecognised line ignored"} << QString();
        QTest::newRow("row before any heading")
            << ("1\t1\t1.0\n" + run + kEnd).toUtf8() << 1 << 0
            << QStringList{"line 1: step row outside a run ignored"} << QString();
        QStringList many;
        for (int line = 8; line < 8 + ResultFileReader::kMaxWarnings; ++line)
            many << QStringLiteral("line %1: unrecognised line ignored").arg(line);
        QTest::newRow("warnings, cut short")
            << (run + "1\t1\t1.0\n" + QString("?\n").repeated(25)).toUtf8() << 1 << 1
            << many + QStringList{"5 more warnings like these not shown"} << QString();
        // A crash can leave a zero-filled tail behind a file; the row before it is cut.
        QTest::newRow("zero-filled tail")
            << (run + "1\t1\t1.0\n2\t2\t2.0\t2.1").toUtf8() + QByteArray(5000, '\0') << 1 << 2
            << QStringList{"line 8: binary data (NUL byte); the rest of the file is ignored"}
            << QString();
        QTest::newRow("binary") << QByteArray::fromHex("7f454c46020101000000") << 0 << 0
                                << QStringList()
                                << "binary data (NUL byte) in line 1: not a result file";
        QTest::newRow("endless line")
            << QByteArray(ResultFileReader::kMaxLineLength + 10, 'x') << 0 << 0 << QStringList()
            << "line 1 is longer than 1048576 bytes: not a result file";
        QTest::newRow("text, no result data")
            << QByteArray("y\n").repeated(ResultFileReader::kMaxLeadingText) << 0 << 0
            << QStringList() << "no result data in the first 1048576 bytes: not a result file";
    }

    void oddInput()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, runs);
        QFETCH(int, rows);
        QFETCH(QStringList, warnings);
        QFETCH(QString, error);

        const Read read = readBytes(bytes);
        QCOMPARE(read.file.error, error);
        QCOMPARE(read.file.runs.size(), runs);
        QCOMPARE(read.rows.size(), rows);
        if (error.isEmpty())
            QCOMPARE(read.file.warnings, warnings);
    }

    // A file read as it grows gives what the whole file gives, wherever the writer's pieces
    // and the follower's reads cut it: mid-line, between CR and LF, inside a UTF-8 or GB18030
    // character, at the NUL of a zero-filled tail, past the limits of what is no result file.
    void appendedInPieces_readsAsWhole()
    {
        QList<QByteArray> inputs;
        const QDir data(QStringLiteral(BENCHTEST_SOURCE_DIR "/tests/report/data"));
        for (const QString &name : data.entryList(QDir::Files)) {
            QFile file(data.filePath(name));
            QVERIFY(file.open(QIODevice::ReadOnly));
            inputs << file.readAll();
        }
        const QString rows = QStringLiteral("No.\tDAC\tDMM1\tDMM2\n1\t1\t1.0\t1.1\n2\t2\t2.0");
        inputs << (head("A") + rows + "\t2.1" + head("B") + rows + kEnd).toUtf8()
               << ("\uFEFF" + QString(head("A") + rows + kEnd).replace("\n", "\r\n")).toUtf8()
               << (head("A") + rows + "?\n").repeated(30).toUtf8() + QByteArray(300, '\0') + "x"
               << QStringEncoder("GB18030")(head(QStringLiteral("电流测试")) + rows + kEnd)
               << QByteArray("y\n").repeated(ResultFileReader::kMaxLeadingText / 2 + 1)
               << QByteArray(ResultFileReader::kMaxLineLength + 10, 'x');
        QRandomGenerator random(testSeed(QTest::currentTestFunction()));
        for (const QByteArray &bytes : inputs) {
            const Read whole = readBytes(bytes);
            // Small files are also cut after every byte; large ones take long to read.
            for (int round = 0; round < (bytes.size() > 65536 ? 3 : 40); ++round) {
                const int longest = round == 0 ? 1 : 1 + random.bounded(int(bytes.size() / 4 + 1));
                QList<Row> rows;
                ResultFileReader reader(QStringLiteral("m.txt"), collectInto(&rows));
                bool open = true;
                for (qsizetype at = 0, n = 0; open && at < bytes.size(); at += n) {
                    n = std::min<qsizetype>(bytes.size() - at, 1 + random.bounded(longest));
                    open = reader.append(QByteArrayView(bytes).sliced(at, n));
                }
                if (open)
                    reader.finish();
                QCOMPARE(described(reader.file(), rows), described(whole.file, whole.rows));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestResultFileReader)
#include "tst_resultfilereader.moc"
