#include "tools/runner/RunnerOptions.h"

#include "commandline/CommandLine.h"

#include <QCommandLineParser>

namespace {

// Takes the field's text as the window will read it; only text that the
// window would silently turn into 0 is refused.
bool isParameterText(const QString &text)
{
    if (text.isEmpty())
        return true;
    bool ok = false;
    text.toLongLong(&ok, 10);
    return ok;
}

bool setVar(RunnerOptions *options, int number, const QString &value, QString *error)
{
    std::optional<QString> &slot = options->vars[size_t(number - 1)];
    if (slot) {
        *error = QStringLiteral("Var_%1 is given more than once").arg(number);
        return false;
    }
    if (!isParameterText(value)) {
        *error = QStringLiteral("Var_%1: '%2' is not a whole number").arg(number).arg(value);
        return false;
    }
    if (number == 1 && value.toLongLong() < 1) {
        *error = QStringLiteral("Var_1 (number of steps) must be at least 1, not '%1'").arg(value);
        return false;
    }
    // The window takes no reading column then but still reads once a step:
    // a file whose rows do not match its heading.
    if (number == 3 && value.toLongLong() < 1) {
        *error =
            QStringLiteral("Var_3 (readings per step) must be at least 1, not '%1'").arg(value);
        return false;
    }
    slot = value;
    return true;
}

// "N=VALUE" with N in 1..12.
bool setVarAssignment(RunnerOptions *options, const QString &assignment, QString *error)
{
    const qsizetype equals = assignment.indexOf(QLatin1Char('='));
    bool ok = false;
    const int number = equals > 0 ? assignment.left(equals).toInt(&ok, 10) : 0;
    if (!ok || number < 1 || number > 12) {
        *error =
            QStringLiteral("--var wants N=VALUE with N from 1 to 12, not '%1'").arg(assignment);
        return false;
    }
    return setVar(options, number, assignment.mid(equals + 1), error);
}

// Reads `option`, when given, into `setting` with the option as its origin.
template <typename T, typename Parse>
bool readSetting(const QCommandLineParser &parser, const QCommandLineOption &option,
                 Setting<T> *setting, Parse parse, QString *error)
{
    if (!parser.isSet(option))
        return true;
    const QString name = QStringLiteral("--") + option.names().constFirst();
    T value{};
    QString message;
    if (!parse(parser.value(option), &value, &message)) {
        *error = name + QStringLiteral(": ") + message;
        return false;
    }
    setting->set(value, name);
    return true;
}

bool takeText(const QString &text, QString *value, QString *)
{
    *value = text;
    return true;
}

// The options of the run plan and of its checks before the run.
struct PlanOptions
{
    QCommandLineOption plan{QStringLiteral("plan"), QString(), QStringLiteral("file")};
    QCommandLineOption dryRun{QStringLiteral("dry-run"), QString()};
    QCommandLineOption allowNoMeter{QStringLiteral("allow-no-meter"), QString()};
    QCommandLineOption events{QStringLiteral("events"), QString(), QStringLiteral("format")};
    QCommandLineOption expectIdn{QStringLiteral("expect-idn"), QString(),
                                 QStringLiteral("pattern")};
    QCommandLineOption codes{QStringLiteral("codes"), QString(), QStringLiteral("list")};
    QCommandLineOption direction{QStringLiteral("direction"), QString(), QStringLiteral("way")};
    QCommandLineOption repeat{QStringLiteral("repeat"), QString(), QStringLiteral("n")};
    QCommandLineOption order{QStringLiteral("order"), QString(), QStringLiteral("order")};
    QCommandLineOption seed{QStringLiteral("seed"), QString(), QStringLiteral("s")};
    QCommandLineOption function{QStringLiteral("function"), QString(), QStringLiteral("volt|curr")};
    QCommandLineOption range{QStringLiteral("range"), QString(), QStringLiteral("range")};
    QCommandLineOption nplc{QStringLiteral("nplc"), QString(), QStringLiteral("cycles")};
    QCommandLineOption autozero{QStringLiteral("autozero"), QString(), QStringLiteral("mode")};
    QCommandLineOption impedance{QStringLiteral("impedance"), QString(), QStringLiteral("z")};

    QList<QCommandLineOption> all() const
    {
        return {plan,  dryRun, allowNoMeter, events, expectIdn, codes,    direction, repeat,
                order, seed,   function,     range,  nplc,      autozero, impedance};
    }

    bool read(const QCommandLineParser &parser, RunnerOptions *options, QString *error) const
    {
        PlanSettings &s = options->planOptions;
        if (parser.isSet(plan)) {
            options->planFile = parser.value(plan);
            if (options->planFile.isEmpty()) {
                *error = QStringLiteral("--plan needs a value");
                return false;
            }
        }
        options->dryRun = parser.isSet(dryRun);
        options->allowNoMeter = parser.isSet(allowNoMeter);
        if (parser.isSet(events)) {
            if (parser.value(events) != QLatin1String("json")) {
                *error = QStringLiteral("--events takes json, not '%1'").arg(parser.value(events));
                return false;
            }
            options->eventsJson = true;
        }
        return readSetting(parser, expectIdn, &s.expectIdn, &takeText, error) &&
               readSetting(
                   parser, codes, &s.codes,
                   [](const QString &text, QString *value, QString *message) {
                       *value = text;
                       return SweepPlan::checkCodes(text, message);
                   },
                   error) &&
               readSetting(parser, direction, &s.direction, &SweepPlan::parseDirection, error) &&
               readSetting(parser, repeat, &s.repeat, &PlanValues::parseInteger, error) &&
               readSetting(parser, order, &s.order, &SweepPlan::parseOrder, error) &&
               readSetting(parser, seed, &s.seed, &PlanValues::parseSeed, error) &&
               readSetting(parser, function, &s.function, &MeterSetup::parseFunction, error) &&
               readSetting(parser, range, &s.range, &MeterSetup::parseRange, error) &&
               readSetting(parser, nplc, &s.nplc, &MeterSetup::parseNplc, error) &&
               readSetting(parser, autozero, &s.autozero, &MeterSetup::parseAutozero, error) &&
               readSetting(parser, impedance, &s.impedance, &MeterSetup::parseImpedance, error);
    }
};

// The window's fields as the plan's settings, each with its option as origin.
void addFieldSettings(const QCommandLineParser &parser, const QCommandLineOption &test,
                      RunnerOptions *options)
{
    PlanSettings &s = options->planOptions;
    if (parser.isSet(test))
        s.test.set(options->test == RunnerOptions::Test::Isink ? TestChoice::Isink
                                                               : TestChoice::Dac,
                   QStringLiteral("--test"));
    if (!options->dmmResource.isEmpty())
        s.meterResource.set(options->dmmResource, QStringLiteral("--dmm"));
    if (!options->serialPort.isEmpty())
        s.serialPort.set(options->serialPort, QStringLiteral("--serial"));
    if (options->item)
        s.item.set(*options->item, QStringLiteral("--item"));
    if (options->tester)
        s.tester.set(*options->tester, QStringLiteral("--tester"));
    // Checked as whole numbers already; an empty field is the 0 the window takes.
    Setting<qint64> *fields[] = {&s.steps, &s.settleMs, &s.readingsPerStep, &s.readingIntervalMs};
    for (int i = 0; i < 4; ++i) {
        if (options->vars[size_t(i)])
            fields[i]->set(options->vars[size_t(i)]->toLongLong(),
                           QStringLiteral("--var%1").arg(i + 1));
    }
}

} // namespace

bool RunnerOptions::parse(const QStringList &arguments, RunnerOptions *options, QString *error)
{
    *options = RunnerOptions();

    QCommandLineParser parser;
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString());
    const QCommandLineOption version(QStringLiteral("version"), QString());
    const QCommandLineOption verbose = CommandLine::verboseOption();
    const QCommandLineOption singleStep(QStringLiteral("single-step"), QString());
    const QCommandLineOption test(QStringLiteral("test"), QString(), QStringLiteral("kind"));
    const QCommandLineOption dmm(QStringLiteral("dmm"), QString(), QStringLiteral("resource"));
    const QCommandLineOption serial(QStringLiteral("serial"), QString(), QStringLiteral("port"));
    const QCommandLineOption var(QStringLiteral("var"), QString(), QStringLiteral("n=value"));
    const QCommandLineOption item(QStringLiteral("item"), QString(), QStringLiteral("text"));
    const QCommandLineOption tester(QStringLiteral("tester"), QString(), QStringLiteral("name"));
    const QCommandLineOption output(QStringLiteral("output"), QString(), QStringLiteral("dir"));
    const QCommandLineOption listResources(QStringLiteral("list-resources"), QString());
    const QCommandLineOption probeSerial(QStringLiteral("probe-serial"), QString());
    const QCommandLineOption database(QStringLiteral("db"), QString(), QStringLiteral("url"));
    QList<QCommandLineOption> numberedVars;
    for (int i = 1; i <= 12; ++i)
        numberedVars << QCommandLineOption(QStringLiteral("var%1").arg(i), QString(),
                                           QStringLiteral("value"));
    const QCommandLineOption resume{QStringLiteral("resume"), QString(), QStringLiteral("file")};
    const QCommandLineOption force{QStringLiteral("force"), QString()};
    parser.addOptions({help, version, verbose, singleStep, test, dmm, serial, var, item, tester,
                       output, listResources, probeSerial, database, resume, force});
    parser.addOptions(numberedVars);
    const PlanOptions planOptions;
    parser.addOptions(planOptions.all());

    if (!parser.parse(arguments)) {
        *error = parser.errorText();
        return false;
    }
    // The pattern is the one argument that is not an option.
    const QStringList positional = parser.positionalArguments();
    options->listResources = parser.isSet(listResources);
    options->probeSerial = parser.isSet(probeSerial);
    if (options->probeSerial && !options->listResources) {
        *error = QStringLiteral("--probe-serial goes with --list-resources");
        return false;
    }
    if (options->listResources && positional.size() == 1) {
        options->resourcePattern = positional.constFirst();
    } else if (!positional.isEmpty()) {
        *error = QStringLiteral("unexpected argument '%1'").arg(positional.constFirst());
        return false;
    }
    for (const QString &name : parser.optionNames()) {
        if (name != QLatin1String("var") && parser.optionNames().count(name) > 1) {
            *error = QStringLiteral("--%1 is given more than once").arg(name);
            return false;
        }
    }
    if (parser.isSet(help) || parser.isSet(version)) {
        options->helpRequested = parser.isSet(help);
        options->versionRequested = !options->helpRequested;
        return true;
    }
    if (parser.isSet(singleStep)) {
        *error = QStringLiteral("single-step runs need an operator at the window; "
                                "benchtest-run only runs automatically");
        return false;
    }

    options->verbose = parser.isSet(verbose);
    if (parser.isSet(test)) {
        const QString kind = parser.value(test).toLower();
        if (kind == QLatin1String("dac")) {
            options->test = Test::Dac;
        } else if (kind == QLatin1String("isink")) {
            options->test = Test::Isink;
        } else {
            *error = QStringLiteral("--test takes dac or isink, not '%1'").arg(parser.value(test));
            return false;
        }
    }
    // An empty text here is a script's unset variable, not a choice.
    for (const auto &[option, field] :
         {std::pair{&dmm, &options->dmmResource}, std::pair{&serial, &options->serialPort},
          std::pair{&output, &options->outputDir}, std::pair{&database, &options->databaseUrl}}) {
        if (!parser.isSet(*option))
            continue;
        *field = parser.value(*option);
        if (field->isEmpty()) {
            *error = QStringLiteral("--%1 needs a value").arg(option->names().constFirst());
            return false;
        }
    }
    if (parser.isSet(resume)) {
        options->resume = parser.value(resume);
        if (options->resume.isEmpty()) {
            *error = QStringLiteral("--resume needs a value");
            return false;
        }
    }
    options->force = parser.isSet(force);
    if (options->force && options->resume.isEmpty()) {
        *error = QStringLiteral("--force goes with --resume");
        return false;
    }
    if (parser.isSet(item))
        options->item = parser.value(item);
    if (parser.isSet(tester))
        options->tester = parser.value(tester);

    for (int i = 1; i <= 12; ++i) {
        const QCommandLineOption &option = numberedVars[i - 1];
        if (parser.isSet(option) && !setVar(options, i, parser.value(option), error))
            return false;
    }
    for (const QString &assignment : parser.values(var)) {
        if (!setVarAssignment(options, assignment, error))
            return false;
    }
    if (!planOptions.read(parser, options, error))
        return false;
    if (options->planOptions.codes && options->vars[0]) {
        *error = QStringLiteral("--codes and Var_1 both choose the sweep; give one of them");
        return false;
    }
    addFieldSettings(parser, test, options);
    return true;
}

QString RunnerOptions::helpText()
{
    return QStringLiteral(
        "Usage: benchtest-run [options]\n"
        "\n"
        "Runs one bench test from the command line, for scripts and unattended runs,\n"
        "with the run engine of the window: the same wire bytes, waits, result file\n"
        "and log lines as a run an operator starts with the same entries.\n"
        "\n"
        "Options:\n"
        "  --test dac|isink      Test to run (default: dac).\n"
        "  --dmm <resource>      VISA resource of the multimeter, e.g.\n"
        "                        TCPIP0::192.168.1.20::5025::SOCKET (default: the\n"
        "                        plan's, else the address in the window's\n"
        "                        config.ini, or in the file $BENCHTEST_CONFIG names;\n"
        "                        the file is read, never written). Without one the\n"
        "                        run is refused, unless --allow-no-meter.\n"
        "  --serial <port>       Serial port of the board under test: a port name\n"
        "                        (ttyUSB0) or a device path (/dev/pts/3). Without it\n"
        "                        no values are sent, as with the window's serial box\n"
        "                        unticked.\n"
        "  --var1 <value> ... --var12 <value>\n"
        "                        Test parameters Var_1 to Var_12 (whole numbers).\n"
        "  --var <n>=<value>     The same, e.g. --var 2=50; may be repeated.\n"
        "                        Unset parameters keep the form's defaults. The\n"
        "                        built-in tests use Var_1 steps (at least 1, default\n"
        "                        10), Var_2 settle time in ms (100), Var_3 readings\n"
        "                        per step (at least 1, default 3) and Var_4 reading\n"
        "                        interval in ms (100).\n"
        "  --item <text>         Test item, part of the result file's name.\n"
        "  --tester <name>       Tester, part of the result file's name.\n"
        "  --output <dir>        Existing folder for the result file (default: the\n"
        "                        current directory).\n"
        "  --resume <file>       Take up the interrupted run of <file> (the result\n"
        "                        file or its .json record) at the first step without\n"
        "                        a whole row, in the same file: a row begun is cut\n"
        "                        back (and kept in the record). The run's test,\n"
        "                        parameters, names, meter and port come from its\n"
        "                        record; a start whose software, test, parameters or\n"
        "                        serial device differ, or whose meter answers *IDN?\n"
        "                        otherwise, is refused.\n"
        "  --force               With --resume: resume although they differ.\n"
        "  --db <url>            Also store the run in this PostgreSQL database,\n"
        "                        postgresql://user@host:port/database (default: the\n"
        "                        [database] url of config.ini, if set). The run never\n"
        "                        waits for the server: rows it cannot take wait in\n"
        "                        <result>.dbjournal beside the result file for\n"
        "                        benchtest-report --db <url> --sync <folder>.\n"
        "  --list-resources [<pattern>]\n"
        "                        Instead of a run, list the instruments that are\n"
        "                        connected, one per line: the VISA resource, a tab\n"
        "                        and its answer to *IDN? (or \"(no answer: <status>)\"\n"
        "                        when none comes within a second), with control\n"
        "                        characters shown as C escapes (\\n, \\x1b). <pattern>\n"
        "                        is a VISA search expression (default ?*, all), e.g.\n"
        "                        'TCPIP?*' or 'ASRL?*INSTR': quote it for the shell.\n"
        "                        Serial ports, USBTMC devices, VXI-11 instruments\n"
        "                        that answer a broadcast, and the resources named in\n"
        "                        BENCHTEST_VISA_RESOURCES are searched. All are\n"
        "                        asked at once (at most 128; the listing takes at\n"
        "                        most 3 s); serial ports are listed, not asked.\n"
        "  --probe-serial        With --list-resources: send *IDN? into the serial\n"
        "                        ports too. Bytes sent to an unknown serial device\n"
        "                        (the board under test) can make it act.\n"
        "\n"
        "Run plan (docs/plan.md):\n"
        "  --plan <file>         A plan file: test, names, sweep, timing, meter and its\n"
        "                        set-up, serial port, supply. Options given here\n"
        "                        override it.\n"
        "  --codes <list>        Codes to send instead of 1 ... Var_1: ranges\n"
        "                        START:STOP[:STEP] and codes, joined by commas, e.g.\n"
        "                        0:4095:64,4095 (a range runs down when START is above\n"
        "                        STOP). 32-bit signed codes, at most 10000000 steps.\n"
        "  --direction up|down|updown\n"
        "                        The codes as written, reversed, or as written and back\n"
        "                        (the turning code once). Default: up.\n"
        "  --repeat <n>          Passes of the whole sweep (default 1).\n"
        "  --order sequential|shuffled\n"
        "                        Shuffled: each pass in an order drawn from --seed, the\n"
        "                        same on every machine; without --seed one is chosen\n"
        "                        and shown.\n"
        "  --seed <s>            Seed of a shuffled order, 0 to 18446744073709551615.\n"
        "  --function volt|curr  What the meter measures, DC (default: the test's).\n"
        "  --range <r>|auto      Meter range in V or A (default: 10 V, 0.001 A).\n"
        "  --nplc <n>            Integration time in power-line cycles (default 10).\n"
        "  --autozero on|off|once\n"
        "                        Autozero (default: no command, the meter's own).\n"
        "  --impedance auto|10M|1G\n"
        "                        Input impedance, voltage only (default auto; 1G needs\n"
        "                        a fixed range of 10 V or less).\n"
        "  --dry-run             Print the effective plan, as a plan file, with the\n"
        "                        estimated duration, and exit: no file, instrument or\n"
        "                        port is touched.\n"
        "  --events json         Machine-readable output, one JSON object per line on\n"
        "                        standard output (docs/events.md); for now with\n"
        "                        --dry-run only.\n"
        "\n"
        "Checks before the run, in this order: the plan is valid; the result folder\n"
        "is writable and has room for the estimated file; the serial port opens; the\n"
        "multimeter answers *IDN? and takes its set-up (its error queue, SYST:ERR?,\n"
        "is empty after it). A failure exits with status 2 and one line on standard\n"
        "error within 3 seconds, before any file is written.\n"
        "  --expect-idn <pattern>\n"
        "                        A regular expression the meter's *IDN? answer must\n"
        "                        match, e.g. ',34461A,'.\n"
        "  --allow-no-meter      Run without a meter, for board bring-up: no meter\n"
        "                        configured, or one that does not answer, is then no\n"
        "                        failure, and its readings are recorded as ERR.\n"
        "\n"
        "  -v, --verbose         Copy the run's log lines to standard error.\n"
        "  -h, --help            Show this help and exit.\n"
        "      --version         Show the version and exit.\n"
        "\n"
        "Single-step runs (--single-step) are not supported: they need an operator\n"
        "pressing the button between phases, and this tool is for unattended runs.\n"
        "\n"
        "Output: on a terminal, a progress bar with the percentage, the remaining\n"
        "time (each step with the wait before the next) and the elapsed time,\n"
        "redrawn twice a second; otherwise one line per completed step:\n"
        "  step 4/10  40%  remaining 2m 15s  elapsed 1m 30s\n"
        "The last line on standard output is the path of the result file. The file\n"
        "is named after item, tester and the second the run starts in; when the\n"
        "folder holds a result file of the current second, the start waits for\n"
        "the next one rather than append to that file.\n"
        "Messages and, with --verbose, the run's log go to standard error.\n"
        "\n"
        "Ctrl-C (SIGINT) or SIGTERM stops the run the way the operator's second click\n"
        "on Start does: the result file ends at the last piece written. A hang-up\n"
        "(SIGHUP) or a closed standard output does not stop the measurement: the run\n"
        "goes on to its end and completes its file.\n"
        "\n"
        "Exit status:\n"
        "  0    the run finished clean: every value sent, every reading taken (no\n"
        "       ERR cell), every piece in the result file\n"
        "  1    the run finished, but not clean; standard error says why in one line\n"
        "       (ERR cells, values not sent, the rest of the results in a recovery\n"
        "       file, pieces lost)\n"
        "  2    bad options or plan, or a check before the run failed (no meter, a\n"
        "       meter that does not answer or refuses its set-up, serial port missing\n"
        "       or not openable, result folder missing, not writable or too full); no\n"
        "       file is written; with --list-resources, a malformed pattern (0\n"
        "       otherwise, found or not)\n"
        "  130  stopped by SIGINT (Ctrl-C)\n"
        "  143  stopped by SIGTERM\n");
}
