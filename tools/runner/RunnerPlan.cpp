#include "tools/runner/RunnerPlan.h"

#include "plan/PlanFile.h"
#include "settings/ConfigLocation.h"
#include "tools/runner/ProgressPrinter.h"
#include "tools/runner/RunEvents.h"

#include <QRandomGenerator>
#include <QSettings>

#include <cmath>

namespace {

// The meter the window would use, from the one configuration file: read,
// never written, and no built-in address behind it.
PlanSettings configuredMeter()
{
    PlanSettings settings;
    const QString path = usableProgramConfigFile();
    if (path.isEmpty())
        return settings;
    const QSettings config(path, QSettings::IniFormat);
    const QString address = config.value(QStringLiteral("defaultAddr/DMM")).toString();
    if (!address.isEmpty())
        settings.meterResource.set(address, path);
    return settings;
}

QString codesPreview(const SweepPlan &sweep)
{
    const qint64 shown = 5;
    QStringList codes;
    for (qint64 i = 0; i < sweep.count() && i < shown; ++i)
        codes << QString::number(sweep.codeAt(i));
    if (sweep.count() > 2 * shown)
        codes << QStringLiteral("…");
    for (qint64 i = qMax(shown, sweep.count() - shown); i < sweep.count(); ++i)
        codes << QString::number(sweep.codeAt(i));
    return codes.join(QStringLiteral(", "));
}

QString bytesText(qint64 bytes)
{
    if (bytes < 10 * 1024)
        return QStringLiteral("%1 bytes").arg(bytes);
    if (bytes < 10 * 1024 * 1024)
        return QStringLiteral("%1 KiB").arg((bytes + 1023) / 1024);
    return QStringLiteral("%1 MiB").arg((bytes + (1 << 20) - 1) >> 20);
}

} // namespace

namespace RunnerPlan {

bool resolve(const RunnerOptions &options, RunPlan *plan, QString *error)
{
    PlanSettings settings = configuredMeter();
    if (!options.planFile.isEmpty()) {
        PlanSettings file;
        if (!PlanFile::read(options.planFile, &file, error))
            return false;
        settings.override(file);
    }
    settings.override(options.planOptions);
    if (settings.order && *settings.order == SweepPlan::Order::Shuffled && !settings.seed)
        settings.seed.set(QRandomGenerator::system()->generate64(),
                          QStringLiteral("a seed drawn at random"));
    return RunPlan::resolve(settings, plan, error);
}

bool engineRunsAsPlanned(const RunPlan &plan, QString *error)
{
    QStringList other;
    if (!plan.sweep.isCounting())
        other << QStringLiteral("its sweep is not the codes 1 to N upwards once");
    if (plan.meter != MeterSetup::defaults(plan.meter.function()))
        other << QStringLiteral("its meter set-up is not the test's own");
    if (plan.supply)
        other << QStringLiteral("it sets up a power supply");
    if (other.isEmpty())
        return true;
    *error = QStringLiteral("this plan cannot be run yet: %1; the run engine does not carry "
                            "that out (--dry-run shows the plan)")
                 .arg(other.join(QStringLiteral("; ")));
    return false;
}

RunnerOptions sessionOptions(const RunnerOptions &options, const RunPlan &plan)
{
    RunnerOptions session = options;
    session.test =
        plan.test == TestChoice::Isink ? RunnerOptions::Test::Isink : RunnerOptions::Test::Dac;
    session.dmmResource = plan.meterResource;
    session.serialPort = plan.serialPort;
    if (!plan.item.isEmpty())
        session.item = plan.item;
    if (!plan.tester.isEmpty())
        session.tester = plan.tester;
    // The plan file's values as the texts a field would hold; the command
    // line's own texts and the defaults stay as they are.
    const PlanSettings &line = options.planOptions;
    const qint64 values[] = {plan.sweep.count(), plan.settleMs, plan.readingsPerStep,
                             plan.readingIntervalMs};
    const bool fromLine[] = {bool(line.steps), bool(line.settleMs), bool(line.readingsPerStep),
                             bool(line.readingIntervalMs)};
    const bool isDefault[] = {plan.sweep.count() == RunPlan::kDefaultSteps,
                              plan.settleMs == RunPlan::kDefaultSettleMs,
                              plan.readingsPerStep == RunPlan::kDefaultReadingsPerStep,
                              plan.readingIntervalMs == RunPlan::kDefaultReadingIntervalMs};
    for (size_t i = 0; i < 4; ++i) {
        if (!fromLine[i] && !isDefault[i])
            session.vars[i] = QString::number(values[i]);
    }
    return session;
}

void printDryRun(const RunPlan &plan, bool eventsJson, std::FILE *out)
{
    if (eventsJson) {
        RunEvents events(out);
        events.plan(plan.toJson());
        return;
    }
    const qint64 seconds = (plan.estimatedDurationMs() + 999) / 1000;
    QString text =
        QStringLiteral("# The effective plan: %1 steps, about %2, a file of about %3.\n")
            .arg(plan.sweep.count())
            .arg(ProgressPrinter::duration(seconds), bytesText(plan.estimatedFileBytes()));
    text += PlanFile::write(plan);
    text += QStringLiteral("\n# Codes: %1\n").arg(codesPreview(plan.sweep));
    text += QStringLiteral("# Meter set-up: %1\n")
                .arg(plan.meter.commands().join(QStringLiteral("; ")));
    text += QStringLiteral("# Estimated duration: %1 (%2 ms: the settle time, the readings at "
                           "NPLC %3 of 50 Hz and their intervals, and the run's own waits)\n")
                .arg(ProgressPrinter::duration(seconds))
                .arg(plan.estimatedDurationMs())
                .arg(MeterSetup::numberText(plan.meter.nplc()));
    std::fputs(text.toUtf8().constData(), out);
    std::fflush(out);
}

} // namespace RunnerPlan
