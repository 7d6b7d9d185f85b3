#include "tests/liveview/SweepWriter.h"

#include "context/TestContext.h"

#include <QJsonDocument>

#include <cmath>

SweepWriter::SweepWriter(const QString &folder, const QVector<qint64> &codes, int readings,
                         int errEvery)
    : m_codes(codes), m_readings(readings), m_errEvery(errEvery)
{
    TestContext.savePath = folder;
    TestContext.testName = QStringLiteral("DAC - 串口发送DAC值，万用表采集电压");
    TestContext.testItem = QStringLiteral("LIVE");
    TestContext.tester = QStringLiteral("QA");
    m_writer.setRecoveryFolder(folder + QStringLiteral("/recovery"));
    m_writer.CreateResultFile();
    m_file = TestContext.resultFilePath;
    QString heading = QStringLiteral("No.\tDAC");
    for (int i = 1; i <= readings; ++i)
        heading += QStringLiteral("\tDMM%1").arg(i);
    m_writer.AppendText(m_file, heading, true);
    m_record.resultFile = m_file;
    m_record.parametersUsed.steps = codes.size();
    m_firstRecord.setPath(RunRecord::pathFor(m_file));
    writeRecords(QStringLiteral("running"));
}

bool SweepWriter::writePiece()
{
    if (m_piece >= pieces())
        return false;
    const qint64 step = m_piece / (m_readings + 2); // 0-based; codes.size() for the end line
    const qint64 part = m_piece % (m_readings + 2);
    const bool diverted = !recoveryFile().isEmpty();
    ++m_piece;
    if (step == m_codes.size()) {
        m_writer.AppendText(m_file, QStringLiteral("\n完成时间: [240101 090100]"), true);
    } else if (part == 0) {
        m_writer.AppendText(m_file, QStringLiteral("%1\t%2").arg(step + 1).arg(m_codes[step]),
                            false);
    } else if (part <= m_readings) {
        const double code = double(m_codes[step]);
        const bool err = m_errEvery > 0 && (step * m_readings + part) % m_errEvery == 0;
        const double value = 0.002 + 0.0008 * code + 3e-6 * std::sin(1.7 * code + 2.3 * part);
        m_writer.AppendText(
            m_file, err ? QStringLiteral("\tERR") : QString::asprintf("\t%+.8E", value), false);
    } else {
        m_writer.AppendText(m_file, QString(), true);
    }
    if (!diverted && !recoveryFile().isEmpty()) {
        m_recoveryRecord.setPath(RunRecord::pathFor(recoveryFile()));
        writeRecords(QStringLiteral("running"));
    }
    return true;
}

void SweepWriter::writeStep()
{
    const qint64 next = stepsWritten() + 1;
    while (stepsWritten() < next && writePiece()) {
    }
}

void SweepWriter::finish()
{
    while (writePiece()) {
    }
    writeRecords(QStringLiteral("finished"));
}

void SweepWriter::stop()
{
    writeRecords(QStringLiteral("stopped"));
}

// Beside the recovery file the whole story, beside the run's file where the run went on.
void SweepWriter::writeRecords(const QString &status)
{
    m_record.outcome.status = status;
    m_record.outcome.summary = QStringLiteral("%1 after %2 of %3 steps")
                                   .arg(status)
                                   .arg(stepsWritten())
                                   .arg(m_codes.size());
    m_record.recoveryFile = recoveryFile();
    QString error;
    if (!recoveryFile().isEmpty())
        (void)m_recoveryRecord.write(QJsonDocument(m_record.toJson()).toJson(), &error);
    m_record.continuedIn = recoveryFile();
    (void)m_firstRecord.write(QJsonDocument(m_record.toJson()).toJson(), &error);
    m_record.continuedIn.clear();
}
