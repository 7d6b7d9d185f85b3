#include "report/LiveRun.h"

#include <QFileInfo>

namespace {

QString absolute(const QString &path)
{
    return QFileInfo(path).absoluteFilePath();
}

} // namespace

LiveRun::LiveRun(const QString &resultFile, QObject *parent) : QObject(parent)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &LiveRun::poll);
    follow(resultFile);
}

LiveRun::~LiveRun() = default;

void LiveRun::start()
{
    m_timer.start(0);
}

void LiveRun::follow(const QString &file)
{
    m_files.append(file);
    m_follower = std::make_unique<ResultFileFollower>(
        file, [this](const ResultRun &run, const ResultRow &row) {
            m_sweep.add(run, row);
            m_changed = true;
        });
}

bool LiveRun::isFollowed(const QString &file) const
{
    const QString path = absolute(file);
    for (const QString &followed : m_files) {
        if (absolute(followed) == path)
            return true;
    }
    return false;
}

// A record names the file the run went on in as "continuedIn" beside the run's first file from
// the moment of the switch; records written before that key existed named it only at the end,
// as "recoveryFile". A recovery file's own record names itself there, which is followed already.
QString LiveRun::continuation(const RunRecord &record)
{
    return record.continuedIn.isEmpty() ? record.recoveryFile : record.continuedIn;
}

// The newest word on the run: the record beside the last file it went on in, else beside the
// one before (a recovery file's record may come late, or not at all when its folder fails).
std::optional<RunRecord> LiveRun::readRecord() const
{
    for (qsizetype i = m_files.size() - 1; i >= 0; --i) {
        if (std::optional<RunRecord> record = RunRecord::readBeside(m_files.at(i)))
            return record;
    }
    return std::nullopt;
}

void LiveRun::end(const QString &error)
{
    m_phase = Phase::Ended;
    m_error = error;
    m_changed = true;
    m_timer.stop();
}

void LiveRun::poll()
{
    if (m_phase == Phase::Ended)
        return;
    QElapsedTimer spent;
    spent.start();
    bool caughtUp = true;
    while (m_follower->open()) {
        if (m_phase == Phase::Waiting) {
            m_phase = Phase::Following;
            m_changed = true;
        }
        // The record before the bytes: a run writes its record's last word after its last byte,
        // so what the record says holds for every byte read after it.
        const std::optional<RunRecord> record = readRecord();
        if (!record != !m_record || (record && record->toJson() != m_record->toJson()))
            m_changed = true;
        m_record = record;
        const QString next = record ? continuation(*record) : QString();
        qint64 got = 0;
        while ((got = m_follower->readMore()) > 0 && spent.elapsed() < kReadBudgetMs) {
        }
        if (got < 0) {
            end(QStringLiteral("%1: %2").arg(m_follower->path(), m_follower->error()));
            break;
        }
        if (got > 0) {
            caughtUp = false; // the budget is spent; the rest on the next round
            break;
        }
        const ResultFile &file = m_follower->file();
        if (!file.error.isEmpty()) {
            end(QStringLiteral("%1: %2").arg(file.path, file.error));
            break;
        }
        if (m_follower->endLineRead()) {
            m_endLine = true;
            end();
            break;
        }
        if (m_follower->isDone()) { // binary data ended the file: nothing more can be read
            end();
            break;
        }
        if (!next.isEmpty() && !isFollowed(next)) {
            // The recovery file starts with the row this file left unfinished.
            m_follower->dropPartialLine();
            m_follower->finish();
            follow(next);
            continue;
        }
        if (record && record->hasEnded()) {
            m_follower->finish();
            end();
        }
        break;
    }

    const bool over = m_phase == Phase::Ended;
    if (m_changed &&
        (over || !m_sinceUpdate.isValid() || m_sinceUpdate.elapsed() >= kMinUpdateGapMs)) {
        m_changed = false;
        m_sinceUpdate.start();
        emit updated();
    }
    if (over)
        emit ended();
    else
        m_timer.start(caughtUp ? kPollMs : 0);
}
