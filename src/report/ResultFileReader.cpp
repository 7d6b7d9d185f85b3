#include "ResultFileReader.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>

#include <algorithm>
#include <array>

namespace {

const QString kHeadingStart = QStringLiteral("No.\t");
const QString kLabelSeparator = QStringLiteral(": [");
const QString kFirstHeadLabel = QStringLiteral("测试项");
const QString kEndLabel = QStringLiteral("完成时间");
const std::array<QString, 4> kHeadLabels = {QStringLiteral("测试项"), QStringLiteral("测试名"),
                                            QStringLiteral("测试人"), QStringLiteral("开始时间")};

QString decode(QByteArray bytes, QString *encoding, QStringList *warnings)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);

    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8(bytes);
    if (!utf8.hasError()) {
        *encoding = QStringLiteral("UTF-8");
        return text;
    }
    QStringDecoder local(QStringDecoder::System);
    text = local(bytes);
    if (!local.hasError()) {
        *encoding = QString::fromLatin1(local.name());
        return text;
    }
    // Files written on a Chinese Windows system are in its ANSI code page, a subset of GB18030.
    QStringDecoder chinese("GB18030");
    if (chinese.isValid()) {
        text = chinese(bytes);
        if (!chinese.hasError()) {
            *encoding = QStringLiteral("GB18030");
            warnings->append(QStringLiteral("not UTF-8; read as GB18030"));
            return text;
        }
    }
    *encoding = QStringLiteral("ISO-8859-1");
    warnings->append(QStringLiteral("not UTF-8; read as ISO-8859-1"));
    return QString::fromLatin1(bytes);
}

struct LabelledLine
{
    QString label;
    QString value;
};

// "label: [value]"; the value may itself hold brackets.
bool parseLabelled(const QString &line, LabelledLine *out)
{
    const qsizetype at = line.indexOf(kLabelSeparator);
    if (at <= 0 || !line.endsWith(QLatin1Char(']')) || line.left(at).contains(QLatin1Char('\t')))
        return false;
    out->label = line.left(at);
    out->value =
        line.mid(at + kLabelSeparator.size(), line.size() - at - kLabelSeparator.size() - 1);
    return true;
}

bool looksLikeTimeStamp(const QString &value)
{
    static const QRegularExpression stamp(QStringLiteral("^\\d{6} \\d{6}$"));
    return stamp.match(value).hasMatch();
}

// Where a stopped row runs into the next run's head block: the start of the first cell part
// after ": [" that is no reading text. Returns -1 when the line holds no such join.
qsizetype headJoinOffset(const QString &line)
{
    const qsizetype label = line.indexOf(kLabelSeparator);
    if (label < 0)
        return -1;
    const qsizetype cellStart = line.lastIndexOf(QLatin1Char('\t'), label) + 1;
    static const QRegularExpression readingPrefix(QStringLiteral("^(ERR|[-+0-9.eE]*)"));
    const QString cell = line.mid(cellStart, label - cellStart);
    return cellStart + readingPrefix.match(cell).capturedLength();
}

class Parser
{
public:
    explicit Parser(ResultFile *file) : m_file(file) {}

    void line(QString text, int number, bool ended)
    {
        if (text.endsWith(QLatin1Char('\r')))
            text.chop(1);
        if (text.isEmpty())
            return;
        if (text.startsWith(kHeadingStart) || text == QLatin1String("No.")) {
            heading(text, number);
            return;
        }
        bool isInteger = false;
        text.section(QLatin1Char('\t'), 0, 0).toLongLong(&isInteger);
        if (isInteger) {
            const qsizetype join = headJoinOffset(text);
            if (join > 0) {
                row(text.left(join), number, false);
                line(text.mid(join), number, ended);
            } else {
                row(text, number, ended);
            }
            return;
        }
        LabelledLine labelled;
        if (parseLabelled(text, &labelled)) {
            labelledLine(labelled, number);
            return;
        }
        warn(number, QStringLiteral("unrecognised line ignored"));
    }

    void finish()
    {
        if (m_head.lines > 0)
            warn(m_head.firstLine, QStringLiteral("head block without a column heading ignored"));
    }

private:
    struct PendingHead
    {
        std::array<QString, 4> values;
        int lines = 0;
        int firstLine = 0;
    };

    void warn(int line, const QString &message)
    {
        m_file->warnings.append(QStringLiteral("line %1: %2").arg(line).arg(message));
    }

    ResultRun *current() { return m_inRun ? &m_file->runs.last() : nullptr; }

    void heading(const QString &text, int number)
    {
        const QStringList cells = text.split(QLatin1Char('\t'));
        ResultRun run;
        run.file = m_file->path;
        run.index = m_file->runs.size() + 1;
        run.headingLine = number;
        run.quantity = cells.value(1).trimmed();
        run.dmmColumns = cells.mid(2);
        if (m_head.lines == 0)
            warn(number, QStringLiteral("column heading without a head block"));
        run.testName = m_head.values[0];
        run.testItem = m_head.values[1];
        run.tester = m_head.values[2];
        run.startTime = m_head.values[3];
        m_head = PendingHead();
        m_file->runs.append(run);
        m_inRun = true;
    }

    void row(const QString &text, int number, bool ended)
    {
        ResultRun *run = current();
        if (!run) {
            warn(number, QStringLiteral("step row outside a run ignored"));
            return;
        }
        const QStringList cells = text.split(QLatin1Char('\t'));
        bool numberOk = false;
        bool codeOk = false;
        ResultRow step;
        step.number = cells.value(0).toLongLong(&numberOk);
        step.code = cells.value(1).trimmed().toLongLong(&codeOk);
        if (!numberOk || !codeOk) {
            warn(number, QStringLiteral("step row without a code ignored"));
            return;
        }
        for (qsizetype i = 2; i < cells.size(); ++i)
            step.readings.append(cells.at(i).trimmed());
        step.ended = ended;
        step.line = number;
        run->rows.append(step);
    }

    void labelledLine(const LabelledLine &labelled, int number)
    {
        ResultRun *run = current();
        const bool isEnd = labelled.label == kEndLabel ||
                           (labelled.label != kFirstHeadLabel &&
                            !std::count(kHeadLabels.begin(), kHeadLabels.end(), labelled.label) &&
                            looksLikeTimeStamp(labelled.value));
        if (run && isEnd) {
            run->finishTime = labelled.value;
            run->finished = true;
            m_inRun = false;
            return;
        }
        if (isEnd) {
            warn(number, QStringLiteral("end line outside a run ignored"));
            return;
        }
        // Any other labelled line opens or continues a head block; a run still open was
        // stopped before its end line.
        m_inRun = false;
        if (m_head.lines == 0)
            m_head.firstLine = number;
        int slot = m_head.lines;
        for (int i = 0; i < int(kHeadLabels.size()); ++i) {
            if (kHeadLabels[i] == labelled.label)
                slot = i;
        }
        if (slot < int(m_head.values.size()))
            m_head.values[slot] = labelled.value;
        else
            warn(number, QStringLiteral("extra head line ignored"));
        ++m_head.lines;
    }

    ResultFile *m_file;
    PendingHead m_head;
    bool m_inRun = false;
};

} // namespace

ResultFile ResultFileReader::read(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ResultFile result;
        result.path = path;
        result.error = file.errorString();
        return result;
    }
    return parse(file.readAll(), path);
}

ResultFile ResultFileReader::parse(const QByteArray &bytes, const QString &path)
{
    ResultFile result;
    result.path = path;
    const QString text = decode(bytes, &result.encoding, &result.warnings);
    QStringList lines = text.split(QLatin1Char('\n'));
    // A text ending in a line end leaves one empty piece behind; any other last piece is a
    // line the writer never ended.
    const bool lastEnded = text.endsWith(QLatin1Char('\n'));
    if (lastEnded)
        lines.removeLast();

    Parser parser(&result);
    for (qsizetype i = 0; i < lines.size(); ++i)
        parser.line(lines.at(i), int(i + 1), lastEnded || i + 1 < lines.size());
    parser.finish();
    return result;
}
