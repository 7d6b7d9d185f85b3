#include "tools/report/ReportCommand.h"

#include "database/DatabaseConnection.h"
#include "database/JournalSync.h"
#include "database/ResultImporter.h"
#include "database/StoredRuns.h"
#include "report/ReportBuilder.h"
#include "report/ReportCsv.h"
#include "report/ReportJson.h"
#include "report/ReportPlots.h"
#include "report/ReportSummary.h"
#include "tools/report/FollowMode.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QSaveFile>

#include <cmath>
#include <cstdio>
#include <memory>

namespace {

const char *const kEpilogue = R"(
Reads result files of the DAC or ISINK test (several runs per file allowed, runs
stopped early and "ERR" cells included) line by line, in memory that does not
grow with the file, and reports, for the readings of each code: mean, standard
deviation, min and max; an end-point and a least-squares line with gain and
offset (and their errors against --ideal-lsb/--ideal-offset); INL and DNL in LSB
of the fitted line; monotonicity; missing codes (DNL <= -1, widened by three
standard errors that the noise gives DNL); the pooled noise; and, for a sweep
that went up and down within a run, the hysteresis (up minus down per code and
its maximum; the row order tells the way). Units are V for
a DAC file and A for an ISINK file. The last cell of a row without its line end
may be cut and is not counted.

By default the readings of all runs are pooled per code into one report; with
--per-run every run gets its own report and its plots the prefix "run<N>-".

Output: a summary on stdout; <folder>/report.json; and, per report, the plots
transfer, inl and dnl in each format chosen. The default folder is the first
file's name without extension plus "-report", beside that file, with every
character a shell would need quoted replaced by "_".

--csv writes the per-code table: code,n,mean,sd,min,max,inl,dnl (INL and DNL
against the least-squares line, in LSB; an empty cell is undefined), with a
first column "report" when there are several reports and a last column
"hysteresis" (V or A) when a sweep went both ways.

Limits (--limit NAME=MAX, repeatable) judge each report; a figure that cannot
be computed fails:
  inl=MAX            largest |INL|, least-squares line, LSB
  dnl=MAX            largest |DNL|, least-squares line, LSB
  gain-error=MAX     |gain error| of the least-squares line, % (needs --ideal-lsb)
  offset-error=MAX   |offset error| of the least-squares line, LSB (needs --ideal-lsb)
  missing-codes=MAX  number of missing codes
  noise=MAX          pooled noise, least-squares LSB
The summary and the JSON give PASS or FAIL per limit and overall.

Exit codes: 0 report written (and within every limit); 1 an input could not be
read, was no result file, held no result run, or held no valid reading; 2 bad
command line; 3 an output file could not be written; 4 report written, but a
limit failed.

With --db URL (postgresql://user@host:port/database, see docs/database.md) the
runs come from the lab's database instead of files, chosen by --item, --tester
(both may hold * for any text), --test (dac, isink) and --since (a date or a
date and time); the analysis, the output and the exit codes are the same. The
default folder is then "db-report" in the current folder.
  --import FILE...   loads result files and their records into the database
                     (a file imported twice is stored once); exit 1 when any
                     file could not be imported
  --sync FOLDER      sends the journals (*.dbjournal) that runs left in FOLDER
                     while the database could not be reached, and deletes each
                     one the database then has whole; exit 1 when any is left

Example:
  benchtest-report --ideal-lsb 0.000805 --limit inl=2 --limit missing-codes=0 \
      --csv steps.csv -o out sweep.txt
  benchtest-report --db postgresql://lab@db.lab:5432/bench --item 'L23-*' --since 2026-01-01
)";

// The default output folder's name: what a shell would need quoted becomes "_".
QString shellSafe(const QString &name)
{
    static const QRegularExpression unsafe(QStringLiteral("[^\\w.+-]+"),
                                           QRegularExpression::UseUnicodePropertiesOption);
    QString safe = name;
    safe.replace(unsafe, QStringLiteral("_"));
    while (safe.startsWith(QLatin1Char('_')) || safe.startsWith(QLatin1Char('-')))
        safe.remove(0, 1);
    while (safe.endsWith(QLatin1Char('_')))
        safe.chop(1);
    return safe.isEmpty() ? QStringLiteral("results") : safe;
}

bool parseNumber(const QString &text, double *value)
{
    bool ok = false;
    *value = QLocale::c().toDouble(text.trimmed(), &ok);
    return ok && std::isfinite(*value);
}

} // namespace

ReportCommand::ReportCommand()
    : m_commandLine(QStringLiteral("benchtest-report")), m_out(stdout), m_err(stderr)
{}

int ReportCommand::fail(ExitCode code, const QString &message)
{
    if (code == UsageError)
        return m_commandLine.badUsage(message);
    m_err << "benchtest-report: " << message << Qt::endl;
    return code;
}

int ReportCommand::run(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Linearity report of bench-test result files, with JSON and plots."));
    const QCommandLineOption help = CommandLine::helpOption();
    const QCommandLineOption version = CommandLine::versionOption();
    const QCommandLineOption idealLsb(
        QStringLiteral("ideal-lsb"),
        QStringLiteral("Ideal output step per code, in V (DAC) or A (ISINK). Enables gain "
                       "error and offset error in LSB."),
        QStringLiteral("value"));
    const QCommandLineOption idealOffset(
        QStringLiteral("ideal-offset"),
        QStringLiteral("Ideal output at code 0, in V or A (default 0 with --ideal-lsb)."),
        QStringLiteral("value"));
    const QCommandLineOption outputDir({QStringLiteral("o"), QStringLiteral("output-dir")},
                                       QStringLiteral("Folder for report.json and the plots "
                                                      "(created if missing)."),
                                       QStringLiteral("folder"));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("Write the JSON report to this file instead of "
                                                 "<folder>/report.json."),
                                  QStringLiteral("file"));
    const QCommandLineOption plots(QStringLiteral("plots"),
                                   QStringLiteral("Plot formats: png,svg (default), png, svg "
                                                  "or none."),
                                   QStringLiteral("formats"), QStringLiteral("png,svg"));
    const QCommandLineOption plotSize(QStringLiteral("plot-size"),
                                      QStringLiteral("Plot size in pixels (default 1000x640)."),
                                      QStringLiteral("WxH"), QStringLiteral("1000x640"));
    const QCommandLineOption perRun(QStringLiteral("per-run"),
                                    QStringLiteral("One report per run instead of pooling the "
                                                   "readings of all runs."));
    const QCommandLineOption perCode(QStringLiteral("per-code"),
                                     QStringLiteral("Put the per-code table and complete code "
                                                    "lists into the JSON report."));
    const QCommandLineOption csv(QStringLiteral("csv"),
                                 QStringLiteral("Write the per-code table as CSV to this file."),
                                 QStringLiteral("file"));
    const QCommandLineOption limit(
        QStringLiteral("limit"),
        QStringLiteral("A production limit, NAME=MAX (repeatable): inl, dnl, gain-error, "
                       "offset-error, missing-codes or noise."),
        QStringLiteral("name=max"));
    const QCommandLineOption db(
        QStringLiteral("db"),
        QStringLiteral("Report the runs of this PostgreSQL database "
                       "instead of files (postgresql://user@host:port/db)."),
        QStringLiteral("url"));
    const QCommandLineOption item(QStringLiteral("item"),
                                  QStringLiteral("With --db: runs of this test item (* for any "
                                                 "text)."),
                                  QStringLiteral("text"));
    const QCommandLineOption tester(QStringLiteral("tester"),
                                    QStringLiteral("With --db: runs of this tester (* for any "
                                                   "text)."),
                                    QStringLiteral("name"));
    const QCommandLineOption test(QStringLiteral("test"),
                                  QStringLiteral("With --db: runs of this test, dac or isink."),
                                  QStringLiteral("kind"));
    const QCommandLineOption since(QStringLiteral("since"),
                                   QStringLiteral("With --db: runs started at or after this date "
                                                  "(YYYY-MM-DD or YYYY-MM-DDThh:mm)."),
                                   QStringLiteral("date"));
    const QCommandLineOption import(QStringLiteral("import"),
                                    QStringLiteral("With --db: load the result files given into "
                                                   "the database instead of reporting."));
    const QCommandLineOption sync(QStringLiteral("sync"),
                                  QStringLiteral("With --db: send the database journals runs left "
                                                 "in this folder."),
                                  QStringLiteral("folder"));
    const QCommandLineOption follow(
        QStringLiteral("follow"),
        QStringLiteral("Follow the run of one result file as it is written, in a window: "
                       "transfer curve, INL so far, spread per code, then the report."));
    const QCommandLineOption headless(
        QStringLiteral("headless"),
        QStringLiteral("With --follow: no window; wait for the run's end, then write the "
                       "report."));
    parser.addOptions({help,     version, idealLsb, idealOffset, outputDir, json,   plots,
                       plotSize, perRun,  perCode,  csv,         limit,     db,     item,
                       tester,   test,    since,    import,      sync,      follow, headless});
    parser.addPositionalArgument(QStringLiteral("files"),
                                 QStringLiteral("Result files to analyse."),
                                 QStringLiteral("file..."));

    if (!parser.parse(arguments))
        return fail(UsageError, parser.errorText());
    if (parser.isSet(help))
        return m_commandLine.showHelp(m_commandLine.helpText(parser) + kEpilogue);
    if (parser.isSet(version))
        return m_commandLine.showVersion();

    QStringList files = parser.positionalArguments();
    const bool fromDatabase = parser.isSet(db);
    for (const QCommandLineOption *option : {&item, &tester, &test, &since, &import, &sync}) {
        if (parser.isSet(*option) && !fromDatabase)
            return fail(UsageError, QStringLiteral("--%1 needs --db").arg(option->names().first()));
    }
    if (parser.isSet(import) && parser.isSet(sync))
        return fail(UsageError, QStringLiteral("--import and --sync are separate runs"));
    if (fromDatabase && !parser.isSet(import) && !files.isEmpty())
        return fail(UsageError, QStringLiteral("--db reports the database's runs: no files, or "
                                               "--import to load them"));
    if (files.isEmpty() && (!fromDatabase || parser.isSet(import)))
        return fail(UsageError, QStringLiteral("no result file given"));

    RunFilter filter;
    filter.item = parser.value(item);
    filter.tester = parser.value(tester);
    filter.test = parser.value(test);
    if (parser.isSet(since)) {
        const QString text = parser.value(since);
        filter.since = QDateTime::fromString(text, Qt::ISODate);
        if (!filter.since.isValid())
            filter.since = QDateTime(QDate::fromString(text, Qt::ISODate), QTime(0, 0));
        if (!filter.since.isValid())
            return fail(
                UsageError,
                QStringLiteral("--since needs a date, YYYY-MM-DD[Thh:mm], not '%1'").arg(text));
    }
    std::unique_ptr<DatabaseConnection> connection;
    if (fromDatabase) {
        QString error;
        const DatabaseUrl url = DatabaseUrl::parse(parser.value(db), &error);
        if (url.isEmpty())
            return fail(UsageError, error);
        connection = std::make_unique<DatabaseConnection>(url);
        if (!connection->open())
            return fail(InputError, QStringLiteral("cannot use the database %1: %2")
                                        .arg(url.displayText(), connection->error()));
        if (parser.isSet(import))
            return importFiles(*connection, files);
        if (parser.isSet(sync))
            return syncJournals(*connection, parser.value(sync));
    }

    IdealLine ideal;
    double number = 0;
    if (parser.isSet(idealLsb)) {
        if (!parseNumber(parser.value(idealLsb), &number) || number == 0)
            return fail(UsageError, QStringLiteral("--ideal-lsb needs a non-zero number"));
        ideal.lsb = number;
        ideal.offset = 0.0;
    }
    if (parser.isSet(idealOffset)) {
        if (!parseNumber(parser.value(idealOffset), &number))
            return fail(UsageError, QStringLiteral("--ideal-offset needs a number"));
        ideal.offset = number;
    }

    QVector<Limit> limits;
    for (const QString &text : parser.values(limit)) {
        QString error;
        const std::optional<Limit> parsed = ReportLimits::parse(text, &error);
        if (!parsed)
            return fail(UsageError, error);
        if (ReportLimits::needsIdealLsb(parsed->figure) && !ideal.lsb)
            return fail(UsageError, QStringLiteral("--limit %1 needs --ideal-lsb")
                                        .arg(ReportLimits::name(parsed->figure)));
        limits.append(*parsed);
    }

    ReportPlots::Formats formats;
    for (const QString &format : parser.value(plots).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString name = format.trimmed().toLower();
        if (name == QLatin1String("png"))
            formats |= ReportPlots::Png;
        else if (name == QLatin1String("svg"))
            formats |= ReportPlots::Svg;
        else if (name != QLatin1String("none"))
            return fail(UsageError, QStringLiteral("unknown plot format \"%1\"").arg(format));
    }

    static const QRegularExpression sizePattern(QStringLiteral("^(\\d{2,5})x(\\d{2,5})$"));
    const QRegularExpressionMatch sizeMatch = sizePattern.match(parser.value(plotSize));
    const QSize size = sizeMatch.hasMatch()
                           ? QSize(sizeMatch.captured(1).toInt(), sizeMatch.captured(2).toInt())
                           : QSize();
    if (size.width() < 200 || size.height() < 150 || size.width() > 10000 || size.height() > 10000)
        return fail(UsageError,
                    QStringLiteral("--plot-size needs WxH between 200x150 and 10000x10000"));

    if (parser.isSet(follow) || parser.isSet(headless)) {
        if (!parser.isSet(follow))
            return fail(UsageError, QStringLiteral("--headless needs --follow"));
        if (fromDatabase || files.size() != 1)
            return fail(UsageError, QStringLiteral("--follow takes one result file"));
        if (!parser.isSet(headless))
            return FollowMode::showWindow(files.first(), ideal, limits);
        QString error;
        if (!FollowMode::waitForEnd(files.first(), &files, &error))
            return fail(InputError, error);
    }

    ReportBuilder builder(parser.isSet(perRun) ? ReportBuilder::Grouping::PerRun
                                               : ReportBuilder::Grouping::Pooled,
                          ideal, limits);
    if (connection) {
        QList<StoredRun> runs;
        QString error;
        if (!StoredRun::find(connection->database(), filter, &runs, &error))
            return fail(InputError, QStringLiteral("cannot read the database: %1").arg(error));
        if (runs.isEmpty())
            return fail(InputError, QStringLiteral("no run in the database matches"));
        // Each run is read as the text of its result file: the same reader, the same analysis.
        for (const StoredRun &run : runs) {
            StoredRunDevice device(connection->database(), run);
            builder.addFile(&device, run.name);
        }
    } else {
        for (const QString &file : files)
            builder.addFile(file);
    }
    const ReportSet set = builder.finish();
    for (const QString &warning : set.warnings)
        m_err << "benchtest-report: warning: " << warning << Qt::endl;
    if (!set.errors.isEmpty()) {
        for (qsizetype i = 0; i + 1 < set.errors.size(); ++i)
            m_err << "benchtest-report: " << set.errors.at(i) << Qt::endl;
        return fail(InputError, set.errors.last());
    }

    const QFileInfo first(files.value(0));
    const QString folder =
        parser.isSet(outputDir) ? parser.value(outputDir)
        : connection
            ? QStringLiteral("db-report")
            : first.dir().filePath(shellSafe(first.completeBaseName()) + QStringLiteral("-report"));
    if (!QDir().mkpath(folder))
        return fail(OutputError, QStringLiteral("cannot create folder %1").arg(folder));

    QList<QStringList> written;
    for (qsizetype i = 0; i < set.reports.size(); ++i) {
        const QString prefix =
            parser.isSet(perRun) ? QStringLiteral("run%1-").arg(i + 1) : QString();
        QStringList paths;
        QString error;
        if (formats &&
            !ReportPlots::write(set.reports.at(i), folder, prefix, formats, size, &paths, &error))
            return fail(OutputError, QStringLiteral("cannot write plot %1").arg(error));
        written.append(paths);
    }

    QString csvError;
    if (parser.isSet(csv) && !ReportCsv::write(set, parser.value(csv), &csvError))
        return fail(OutputError,
                    QStringLiteral("cannot write %1: %2").arg(parser.value(csv), csvError));

    const QString jsonPath =
        parser.isSet(json) ? parser.value(json) : QDir(folder).filePath("report.json");
    QSaveFile jsonFile(jsonPath);
    if (!jsonFile.open(QIODevice::WriteOnly) ||
        jsonFile.write(ReportJson::document(set, {written, parser.isSet(perCode)})) < 0 ||
        !jsonFile.commit())
        return fail(OutputError,
                    QStringLiteral("cannot write %1: %2").arg(jsonPath, jsonFile.errorString()));

    m_out << ReportSummary::text(set) << '\n';
    m_out << "JSON: " << jsonPath << '\n';
    if (parser.isSet(csv))
        m_out << "CSV: " << parser.value(csv) << '\n';
    for (const QStringList &paths : written) {
        for (const QString &path : paths)
            m_out << "Plot: " << path << '\n';
    }
    m_out.flush();
    return set.passes() ? Success : LimitFailed;
}

int ReportCommand::importFiles(DatabaseConnection &connection, const QStringList &files)
{
    ResultImporter importer(connection);
    bool allImported = true;
    for (const QString &file : files) {
        const ResultImporter::Outcome outcome = importer.importFile(file);
        for (const QString &warning : outcome.warnings)
            m_err << "benchtest-report: warning: " << file << ": " << warning << Qt::endl;
        if (!outcome.error.isEmpty()) {
            m_err << "benchtest-report: " << file << ": not imported: " << outcome.error
                  << Qt::endl;
            allImported = false;
            continue;
        }
        m_out << file << ": " << outcome.runs << " runs, " << outcome.rows
              << " rows; new: " << outcome.runsAdded << " runs, " << outcome.rowsAdded << " rows"
              << Qt::endl;
    }
    return allImported ? Success : InputError;
}

int ReportCommand::syncJournals(DatabaseConnection &connection, const QString &folder)
{
    if (!QFileInfo(folder).isDir())
        return fail(InputError, QStringLiteral("%1 is no folder").arg(folder));
    bool allStored = true;
    const QList<JournalSync::Outcome> outcomes = JournalSync::syncFolder(connection, folder);
    for (const JournalSync::Outcome &outcome : outcomes) {
        if (!outcome.error.isEmpty()) {
            m_err << "benchtest-report: " << outcome.journal << ": " << outcome.error << Qt::endl;
            allStored = false;
        } else if (!outcome.removed) {
            m_err << "benchtest-report: " << outcome.journal << ": the database has "
                  << outcome.rowsStored << " of its " << outcome.rows << " rows; kept" << Qt::endl;
            allStored = false;
        } else {
            m_out << outcome.journal << ": " << outcome.rows << " rows stored"
                  << (outcome.ended ? "" : " (the run's end is not in the journal)")
                  << "; journal removed" << Qt::endl;
        }
    }
    if (outcomes.isEmpty())
        m_out << "no journal in " << folder << Qt::endl;
    return allStored ? Success : InputError;
}
