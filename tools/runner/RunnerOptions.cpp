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
    QList<QCommandLineOption> numberedVars;
    for (int i = 1; i <= 12; ++i)
        numberedVars << QCommandLineOption(QStringLiteral("var%1").arg(i), QString(),
                                           QStringLiteral("value"));
    parser.addOptions({help, version, verbose, singleStep, test, dmm, serial, var, item, tester,
                       output, listResources});
    parser.addOptions(numberedVars);

    if (!parser.parse(arguments)) {
        *error = parser.errorText();
        return false;
    }
    // The pattern is the one argument that is not an option.
    const QStringList positional = parser.positionalArguments();
    options->listResources = parser.isSet(listResources);
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
          std::pair{&output, &options->outputDir}}) {
        if (!parser.isSet(*option))
            continue;
        *field = parser.value(*option);
        if (field->isEmpty()) {
            *error = QStringLiteral("--%1 needs a value").arg(option->names().constFirst());
            return false;
        }
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
        "                        address in the window's config.ini, or in the file\n"
        "                        $BENCHTEST_CONFIG names). The file is read, never\n"
        "                        written.\n"
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
        "  --list-resources [<pattern>]\n"
        "                        Instead of a run, list the instruments that are\n"
        "                        connected, one per line: the VISA resource, a tab\n"
        "                        and its answer to *IDN? (or \"(no answer: <status>)\"\n"
        "                        when none comes within a second). <pattern> is a\n"
        "                        VISA search expression (default ?*, all), e.g.\n"
        "                        'TCPIP?*' or 'ASRL?*INSTR': quote it for the shell.\n"
        "                        Serial ports, USBTMC devices, VXI-11 instruments\n"
        "                        that answer a broadcast, and the resources named in\n"
        "                        BENCHTEST_VISA_RESOURCES are searched.\n"
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
        "  2    bad options, or the run could not start (serial port missing or not\n"
        "       openable, result folder missing or not writable); no file is written;\n"
        "       with --list-resources, a malformed pattern (0 otherwise, found or not)\n"
        "  130  stopped by SIGINT (Ctrl-C)\n"
        "  143  stopped by SIGTERM\n");
}
