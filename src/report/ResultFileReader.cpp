#include "report/ResultFileReader.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <optional>

namespace {

const QString kLabelSeparator = QStringLiteral(": [");
const QString kFirstHeadLabel = QStringLiteral("测试项");
const QString kEndLabel = QStringLiteral("完成时间");
const std::array<QString, 4> kHeadLabels = {QStringLiteral("测试项"), QStringLiteral("测试名"),
                                            QStringLiteral("测试人"), QStringLiteral("开始时间")};
constexpr qint64 kChunk = 1 << 20;

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

QByteArrayView trimmed(QByteArrayView bytes)
{
    while (!bytes.isEmpty() && isBlank(bytes.front()))
        bytes = bytes.sliced(1);
    while (!bytes.isEmpty() && isBlank(bytes.back()))
        bytes.chop(1);
    return bytes;
}

bool parseInteger(QByteArrayView bytes, qint64 *value)
{
    bytes = trimmed(bytes);
    if (bytes.startsWith('+') && !bytes.startsWith("+-"))
        bytes = bytes.sliced(1);
    const char *end = bytes.data() + bytes.size();
    const auto [at, error] = std::from_chars(bytes.data(), end, *value);
    return !bytes.isEmpty() && error == std::errc() && at == end;
}

bool isAscii(QByteArrayView bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) < 0x80; });
}

// Where a stopped row runs into the next run's head block: the start of the first cell part
// before ": [" that is no reading text. Returns -1 when the line holds no such join.
qsizetype headJoinOffset(QByteArrayView line)
{
    const qsizetype label = line.indexOf(QByteArrayView(": ["));
    if (label < 0)
        return -1;
    const qsizetype cellStart = line.first(label).lastIndexOf('\t') + 1;
    const QByteArrayView cell = line.sliced(cellStart, label - cellStart);
    if (cell.startsWith("ERR"))
        return cellStart + 3;
    const auto reading = std::find_if_not(cell.begin(), cell.end(), [](char c) {
        return std::strchr("-+0123456789.eE", c) && c != '\0';
    });
    return cellStart + (reading - cell.begin());
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

} // namespace

class ResultFileReader::Parser
{
public:
    Parser(ResultFile *file, ResultFileReader::RowHandler onRow)
        : m_file(file), m_onRow(std::move(onRow))
    {
        m_file->encoding = QStringLiteral("UTF-8");
    }

    bool recognisedAny() const { return m_recognised; }

    void line(QByteArrayView bytes, qint64 number, bool ended)
    {
        if (number == 1 && bytes.startsWith("\xEF\xBB\xBF"))
            bytes = bytes.sliced(3);
        if (bytes.endsWith('\r'))
            bytes.chop(1);
        if (bytes.isEmpty())
            return;
        if (bytes.startsWith("No.\t") || bytes == "No.") {
            heading(decode(bytes), number);
            return;
        }
        const qsizetype tab = bytes.indexOf('\t');
        qint64 integer = 0;
        if (parseInteger(tab < 0 ? bytes : bytes.first(tab), &integer)) {
            const qsizetype join = headJoinOffset(bytes);
            if (join > 0) {
                row(bytes.first(join), number, false);
                line(bytes.sliced(join), number, ended);
            } else {
                row(bytes, number, ended);
            }
            return;
        }
        LabelledLine labelled;
        if (parseLabelled(decode(bytes), &labelled)) {
            labelledLine(labelled, number);
            return;
        }
        warn(number, QStringLiteral("unrecognised line ignored"));
    }

    void finish()
    {
        if (m_head.lines > 0)
            warn(m_head.firstLine, QStringLiteral("head block without a column heading ignored"));
        if (m_suppressed > 0)
            m_file->warnings.append(
                QStringLiteral("%1 more warnings like these not shown").arg(m_suppressed));
    }

    void warn(qint64 line, const QString &message)
    {
        if (m_file->warnings.size() < ResultFileReader::kMaxWarnings)
            m_file->warnings.append(QStringLiteral("line %1: %2").arg(line).arg(message));
        else
            ++m_suppressed;
    }

private:
    struct PendingHead
    {
        std::array<QString, 4> values;
        int lines = 0;
        qint64 firstLine = 0;
    };

    // Lines are decoded one by one, as UTF-8 until one is not: from then on in the local
    // 8-bit encoding (a Chinese Windows system's ANSI code page is a subset of GB18030).
    QString decode(QByteArrayView bytes)
    {
        if (isAscii(bytes))
            return QString::fromLatin1(bytes);
        if (!m_fallback) {
            QStringDecoder utf8(QStringDecoder::Utf8);
            const QString text = utf8(bytes);
            if (!utf8.hasError())
                return text;
            chooseFallback(bytes);
        }
        if (m_fallback->isEmpty())
            return QString::fromLatin1(bytes);
        QStringDecoder local(m_fallback->constData());
        return local(bytes);
    }

    void chooseFallback(QByteArrayView bytes)
    {
        QStringDecoder local(QStringDecoder::System);
        const QString asLocal = local(bytes); // decoded for hasError()
        if (!local.hasError()) {
            m_fallback = QByteArray(local.name());
            m_file->encoding = QString::fromLatin1(local.name());
            return;
        }
        QStringDecoder chinese("GB18030");
        if (chinese.isValid()) {
            const QString asChinese = chinese(bytes);
            if (!chinese.hasError()) {
                m_fallback = QByteArray("GB18030");
                m_file->encoding = QStringLiteral("GB18030");
                m_file->warnings.append(QStringLiteral("not UTF-8; read as GB18030"));
                return;
            }
        }
        m_fallback = QByteArray();
        m_file->encoding = QStringLiteral("ISO-8859-1");
        m_file->warnings.append(QStringLiteral("not UTF-8; read as ISO-8859-1"));
    }

    ResultRun *current() { return m_inRun ? &m_file->runs.last() : nullptr; }

    void heading(const QString &text, qint64 number)
    {
        m_recognised = true;
        const QStringList cells = text.split(QLatin1Char('\t'));
        ResultRun run;
        run.file = m_file->path;
        run.index = int(m_file->runs.size()) + 1;
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

    void row(QByteArrayView text, qint64 number, bool ended)
    {
        ResultRun *run = current();
        if (!run) {
            warn(number, QStringLiteral("step row outside a run ignored"));
            return;
        }
        const qsizetype tab = text.indexOf('\t');
        const qsizetype codeEnd = tab < 0 ? -1 : text.indexOf('\t', tab + 1);
        const qsizetype codeLength = (codeEnd < 0 ? text.size() : codeEnd) - tab - 1;
        if (tab < 0 || !parseInteger(text.first(tab), &m_row.number) ||
            !parseInteger(text.sliced(tab + 1, codeLength), &m_row.code)) {
            warn(number, QStringLiteral("step row without a code ignored"));
            return;
        }
        m_row.readings.clear();
        for (qsizetype start = codeEnd + 1; codeEnd >= 0 && start <= text.size();) {
            qsizetype end = text.indexOf('\t', start);
            if (end < 0)
                end = text.size();
            m_row.readings.push_back(trimmed(text.sliced(start, end - start)));
            start = end + 1;
        }
        m_recognised = true;
        m_row.ended = ended;
        // The writer may have been cut off inside the last cell: "+4.0000" of
        // "+4.00000000E-03" would read as 4.
        m_row.cutCell = !ended && !m_row.readings.empty();
        if (m_row.cutCell)
            m_row.readings.pop_back();
        m_row.line = number;
        ++run->rows;
        m_onRow(*run, m_row);
    }

    void labelledLine(const LabelledLine &labelled, qint64 number)
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
        m_recognised = true;
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
    ResultFileReader::RowHandler m_onRow;
    ResultRow m_row; // reused: its cell list keeps its capacity from row to row
    PendingHead m_head;
    std::optional<QByteArray> m_fallback; // the encoding after UTF-8 failed; empty: Latin-1
    bool m_inRun = false;
    bool m_recognised = false;
    int m_suppressed = 0;
};

ResultFileReader::ResultFileReader(const QString &path, RowHandler onRow)
{
    m_file.path = path;
    m_parser = std::make_unique<Parser>(&m_file, std::move(onRow));
}

ResultFileReader::~ResultFileReader() = default;

bool ResultFileReader::append(QByteArrayView bytes)
{
    if (m_done)
        return false;
    // Text holds no NUL byte; a crash can leave a zero-filled tail behind a result file.
    const char *nul = static_cast<const char *>(std::memchr(bytes.data(), 0, size_t(bytes.size())));
    if (nul)
        bytes = bytes.first(nul - bytes.data());
    m_total += bytes.size();
    qsizetype start = 0;
    for (qsizetype lineEnd = bytes.indexOf('\n'); lineEnd >= 0;
         lineEnd = bytes.indexOf('\n', start)) {
        if (m_pending.isEmpty()) {
            m_parser->line(bytes.sliced(start, lineEnd - start), ++m_line, true);
        } else {
            m_pending.append(bytes.sliced(start, lineEnd - start));
            m_parser->line(m_pending, ++m_line, true);
            m_pending.truncate(0);
        }
        start = lineEnd + 1;
    }
    m_pending.append(bytes.sliced(start));
    if (nul) {
        end(true);
        return false;
    }
    if (m_pending.size() > kMaxLineLength) {
        m_file.error = QStringLiteral("line %1 is longer than %2 bytes: not a result file")
                           .arg(m_line + 1)
                           .arg(kMaxLineLength);
        m_done = true;
        return false;
    }
    if (!m_parser->recognisedAny() && m_total > kMaxLeadingText) {
        m_file.error = QStringLiteral("no result data in the first %1 bytes: not a result file")
                           .arg(kMaxLeadingText);
        m_done = true;
        return false;
    }
    return true;
}

qsizetype ResultFileReader::dropPartialLine()
{
    const qsizetype dropped = m_done ? 0 : m_pending.size();
    if (dropped > 0)
        m_pending.truncate(0);
    return dropped;
}

void ResultFileReader::finish()
{
    if (!m_done)
        end(false);
}

void ResultFileReader::end(bool binary)
{
    m_done = true;
    // A last line without its line end; before binary data, a line cut off by it.
    const bool partial = !m_pending.isEmpty();
    if (partial)
        m_parser->line(m_pending, ++m_line, false);
    m_pending = QByteArray();
    const qint64 binaryLine = partial ? m_line : m_line + 1;
    if (binary && m_file.runs.isEmpty()) {
        m_file.error =
            QStringLiteral("binary data (NUL byte) in line %1: not a result file").arg(binaryLine);
        return;
    }
    if (binary)
        m_parser->warn(binaryLine,
                       QStringLiteral("binary data (NUL byte); the rest of the file is ignored"));
    m_parser->finish();
}

ResultFile ResultFileReader::read(const QString &path, const RowHandler &onRow)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        ResultFile result;
        result.path = path;
        result.error = file.errorString();
        return result;
    }
    return read(&file, path, onRow);
}

ResultFile ResultFileReader::read(QIODevice *device, const QString &path, const RowHandler &onRow)
{
    ResultFileReader reader(path, onRow);
    QByteArray chunk(kChunk, Qt::Uninitialized);
    while (true) {
        const qint64 got = device->read(chunk.data(), kChunk);
        if (got < 0) {
            ResultFile result = reader.file();
            result.error = device->errorString();
            return result;
        }
        if (got == 0) {
            reader.finish();
            break;
        }
        if (!reader.append(QByteArrayView(chunk.constData(), got)))
            break;
    }
    return reader.file();
}
