#include "report/ResultFileFollower.h"

#include <algorithm>

ResultFileFollower::ResultFileFollower(const QString &path, ResultFileReader::RowHandler onRow)
    : m_path(path), m_file(path), m_reader(path, std::move(onRow))
{}

bool ResultFileFollower::open()
{
    if (m_file.isOpen())
        return true;
    // Unbuffered: every read asks the file again, so bytes appended later are seen.
    return m_file.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

qint64 ResultFileFollower::readMore(qint64 limit)
{
    if (!m_file.isOpen() || m_reader.isDone())
        return 0;
    qint64 total = 0;
    while (total < limit) {
        const qint64 want = std::min(limit - total, kChunk);
        if (m_chunk.size() < want)
            m_chunk.resize(want);
        const qint64 got = m_file.read(m_chunk.data(), want);
        if (got < 0) {
            m_error = m_file.errorString();
            return -1;
        }
        if (got == 0)
            break;
        total += got;
        if (!m_reader.append(QByteArrayView(m_chunk.constData(), got)))
            break;
    }
    return total;
}

bool ResultFileFollower::endLineRead() const
{
    const ResultFile &read = m_reader.file();
    return !read.runs.isEmpty() && read.runs.last().finished && m_reader.pendingBytes() == 0;
}
