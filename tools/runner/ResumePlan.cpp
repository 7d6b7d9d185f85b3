#include "tools/runner/ResumePlan.h"

#include "Version.h"
#include "engine/RunEngine.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

namespace {

QByteArray readWhole(const QString &path, QString *error)
{
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1").arg(path);
        return QByteArray();
    }
    return file.readAll();
}

// The rows of the file that the run wrote whole, from step 1 on, with what
// follows them; false when the file does not agree with its record.
struct FileScan
{
    qint64 keepBytes = 0;
    qint64 wholeRows = 0;
    bool finished = false;
    QByteArray rest; // after the last whole row
    qint64 readings = 0;
    qint64 errCells = 0;
    qint64 notMeasurements = 0;
};

bool scanFile(const QByteArray &bytes, const RunRecord &record, FileScan *scan, QString *error)
{
    // Head block: four lines and an empty one; then the column heading.
    qsizetype at = 0;
    for (int line = 0; line < 5; ++line) {
        const qsizetype end = bytes.indexOf('\n', at);
        if (end < 0) {
            *error = QStringLiteral("the file has no whole head block");
            return false;
        }
        at = end + 1;
    }
    const qint64 readings = record.parametersUsed.readingsPerStep;
    QByteArray heading = "No.\t" + record.test.toUtf8();
    for (qint64 i = 1; i <= readings; ++i)
        heading += "\tDMM" + QByteArray::number(i);
    heading += '\n';
    if (!bytes.mid(at).startsWith(heading)) {
        *error = QStringLiteral("the file's column heading is not the one its record describes");
        return false;
    }
    at += heading.size();

    qint64 step = 0;
    for (;;) {
        const qsizetype end = bytes.indexOf('\n', at);
        if (end < 0)
            break;
        const QList<QByteArray> cells = bytes.mid(at, end - at).split('\t');
        const QByteArray number = QByteArray::number(step + 1);
        if (cells.size() != 2 + readings || cells.at(0) != number || cells.at(1) != number)
            break;
        for (qsizetype i = 2; i < cells.size(); ++i) {
            const QString cell = QString::fromLocal8Bit(cells.at(i));
            scan->readings += 1;
            if (cell == QLatin1String("ERR"))
                scan->errCells += 1;
            else if (!RunEngine::isMeasurement(cell))
                scan->notMeasurements += 1;
        }
        step += 1;
        at = end + 1;
    }
    scan->keepBytes = at;
    scan->wholeRows = step;
    scan->rest = bytes.mid(at);
    scan->finished = scan->rest.startsWith("\n完成时间: [");
    if (!scan->finished && scan->rest.contains('\n')) {
        *error = QStringLiteral("the file has lines after step %1 that are no rows of this run")
                     .arg(step);
        return false;
    }
    return true;
}

} // namespace

bool ResumePlan::read(const QString &fileOrRecord, const RunnerOptions &given, ResumePlan *plan,
                      QString *error)
{
    QString resultFile = QFileInfo(fileOrRecord).absoluteFilePath();
    QString recordPath = RunRecord::pathFor(resultFile);
    if (fileOrRecord.endsWith(QLatin1String(".json"))) {
        recordPath = resultFile;
        resultFile.clear();
    }
    const QByteArray recordBytes = readWhole(recordPath, error);
    if (recordBytes.isEmpty()) {
        *error = QStringLiteral("no record at %1: how the run was made is unknown").arg(recordPath);
        return false;
    }
    const std::optional<RunRecord> record =
        RunRecord::fromJson(QJsonDocument::fromJson(recordBytes).object());
    if (!record) {
        *error = QStringLiteral("%1 is no run record").arg(recordPath);
        return false;
    }
    if (resultFile.isEmpty())
        resultFile = record->resultFile;
    if (RunRecord::pathFor(resultFile) != recordPath || record->resultFile != resultFile) {
        *error = QStringLiteral("the record %1 is not the record of %2")
                     .arg(recordPath, record->resultFile);
        return false;
    }
    if (record->outcome.status == QLatin1String("finished")) {
        *error = QStringLiteral("the run in %1 finished: there is nothing to resume").arg(resultFile);
        return false;
    }
    if (!record->recoveryFile.isEmpty() || !record->continuedIn.isEmpty()) {
        *error = QStringLiteral("the run went on in its recovery file %1: resuming it is not "
                                "supported")
                     .arg(record->recoveryFile.isEmpty() ? record->continuedIn
                                                         : record->recoveryFile);
        return false;
    }
    if (record->test != QLatin1String("DAC") && record->test != QLatin1String("ISINK")) {
        *error = QStringLiteral("the record names an unknown test '%1'").arg(record->test);
        return false;
    }
    if (record->parametersTyped.size() != 4) {
        *error = QStringLiteral("the record has no parameters of the run");
        return false;
    }

    FileScan scan;
    const QByteArray bytes = readWhole(resultFile, error);
    if (!error->isEmpty())
        return false;
    if (!scanFile(bytes, *record, &scan, error)) {
        *error = QStringLiteral("%1: %2").arg(resultFile, *error);
        return false;
    }
    if (scan.finished) {
        *error = QStringLiteral("the run in %1 has its end line: there is nothing to resume")
                     .arg(resultFile);
        return false;
    }

    // What this start would change; each refuses unless --force.
    QStringList differs;
    const QString software = QStringLiteral("benchtest " BENCHTEST_VERSION);
    if (record->software != software)
        differs << QStringLiteral("the software (the run began with \"%1\", this is \"%2\")")
                       .arg(record->software, software);
    const QString test = given.planOptions.test
                             ? (*given.planOptions.test == TestChoice::Isink
                                    ? QStringLiteral("ISINK")
                                    : QStringLiteral("DAC"))
                             : record->test;
    if (test != record->test)
        differs << QStringLiteral("the test (%1, the run's is %2)").arg(test, record->test);
    for (int i = 0; i < 4; ++i) {
        if (given.vars[size_t(i)] && *given.vars[size_t(i)] != record->parametersTyped.at(i))
            differs << QStringLiteral("Var_%1 (%2, the run's is %3)")
                           .arg(i + 1)
                           .arg(*given.vars[size_t(i)], record->parametersTyped.at(i));
    }
    // The record keeps the port's name ("ttyUSB0", "pts/3"); a path names it too.
    const QString recorded = record->serialDevice.isEmpty() || record->serialDevice.startsWith('/')
                                 ? record->serialDevice
                                 : QStringLiteral("/dev/") + record->serialDevice;
    const QString serial = given.serialPort.isEmpty() ? recorded : given.serialPort;
    if (!given.serialPort.isEmpty() && given.serialPort != record->serialDevice &&
        QFileInfo(given.serialPort).canonicalFilePath() != QFileInfo(recorded).canonicalFilePath())
        differs << QStringLiteral("the serial device (%1, the run's was %2)")
                       .arg(given.serialPort,
                            record->serialDevice.isEmpty() ? QStringLiteral("none")
                                                           : record->serialDevice);
    if (!differs.isEmpty() && !given.force) {
        *error = QStringLiteral("cannot resume %1: %2 differ%3 (--force resumes anyway)")
                     .arg(resultFile, differs.join(QStringLiteral("; ")),
                          differs.size() == 1 ? QStringLiteral("s") : QString());
        return false;
    }

    RunnerOptions &options = plan->options;
    options = given;
    options.test = record->test == QLatin1String("ISINK") ? RunnerOptions::Test::Isink
                                                          : RunnerOptions::Test::Dac;
    for (int i = 0; i < 4; ++i)
        options.vars[size_t(i)] = record->parametersTyped.at(i);
    options.item = record->testItem;
    options.tester = record->tester;
    options.dmmResource =
        given.dmmResource.isEmpty() ? record->meter.resource : given.dmmResource;
    options.serialPort = serial;
    options.outputDir = QFileInfo(resultFile).path();

    RunResume &resume = plan->resume;
    resume.resultFile = resultFile;
    resume.keepBytes = scan.keepBytes;
    resume.firstStep = scan.wholeRows + 1;
    resume.cut = QString::fromLocal8Bit(scan.rest);
    resume.earlier = *record;
    resume.earlierBytes = recordBytes;
    resume.meterIdentity = given.force ? QString() : record->meter.identity;
    resume.readings = scan.readings;
    resume.errCells = scan.errCells;
    resume.notMeasurements = scan.notMeasurements;
    return true;
}
