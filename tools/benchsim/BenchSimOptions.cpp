#include "BenchSimOptions.h"

#include <QCommandLineParser>

namespace {

const char *description =
    "Simulated bench instruments on 127.0.0.1: a multimeter (dmm) and a dual-output\n"
    "power supply (pwr), each served as a raw SOCKET resource and over VXI-11.\n"
    "\n"
    "Once every server listens, one line goes to standard output:\n"
    "  BENCHSIM dmm=<resource> dmm-vxi11=<resource> pwr=<resource> pwr-vxi11=<resource>"
    " [portmapper=<port>]\n"
    "Keys appear only for what is served, in that order, separated by single blanks, e.g.\n"
    "  BENCHSIM dmm=TCPIP0::127.0.0.1::40001::SOCKET"
    " dmm-vxi11=TCPIP0::127.0.0.1,40002::inst0::INSTR\n"
    "Port 0 (the default everywhere) picks a free port; the line says which.\n"
    "\n"
    "Fault modes: none, silent, slow[:MS], disconnect[:N], nul, long, garbage.\n"
    "The transcript gets one line per received line: the key (dmm or pwr), a blank,\n"
    "and the bytes with C escapes (\\n, \\r, \\t, \\\\, \\xHH).\n"
    "SIGTERM or SIGINT stops the program cleanly (exit code 0).";

bool portValue(const QCommandLineParser &parser, const QString &name, quint16 &port, QString &error)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    const uint value = parser.value(name).toUInt(&ok);
    if (!ok || value > 65535) {
        error = QString("--%1 needs a port number from 0 to 65535").arg(name);
        return false;
    }
    port = quint16(value);
    return true;
}

bool numberValue(const QCommandLineParser &parser, const QString &name, double &number,
                 QString &error)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    number = parser.value(name).toDouble(&ok);
    if (!ok)
        error = QString("--%1 needs a number").arg(name);
    return ok;
}

bool faultValue(const QCommandLineParser &parser, const QString &name, FaultMode &fault,
                QString &error)
{
    if (!parser.isSet(name) || FaultMode::parse(parser.value(name), fault))
        return true;
    error = QString("--%1: unknown fault mode \"%2\"").arg(name, parser.value(name));
    return false;
}

} // namespace

bool BenchSimOptions::parse(const QStringList &arguments, BenchSimOptions &options, QString &error,
                            bool &helpShown)
{
    helpShown = false;
    QCommandLineParser parser;
    parser.setApplicationDescription(description);
    const QCommandLineOption help({"h", "help"}, "Show this help.");
    parser.addOption(help);
    parser.addOptions({
        {"dmm", "Serve the multimeter (default: both instruments)."},
        {"pwr", "Serve the power supply (default: both instruments)."},
        {"dmm-port", "Raw socket port of the multimeter.", "port"},
        {"dmm-vxi11-port", "VXI-11 core port of the multimeter.", "port"},
        {"pwr-port", "Raw socket port of the power supply.", "port"},
        {"pwr-vxi11-port", "VXI-11 core port of the power supply.", "port"},
        {"portmapper-port", "Also run a port mapper on this port.", "port"},
        {"portmapper-target", "Instrument the port mapper leads to: dmm or pwr.", "key"},
        {"transcript", "Append every received line to this file.", "file"},
        {"dmm-fault", "Fault mode of the multimeter.", "mode"},
        {"pwr-fault", "Fault mode of the power supply.", "mode"},
        {"reading", "Value of every multimeter reading (default 1.23456789).", "value"},
        {"dvm-reading", "Value of the supply's voltmeter input (default 0).", "value"},
    });
    if (!parser.parse(arguments)) {
        error = parser.errorText();
        return false;
    }
    if (parser.isSet(help)) {
        helpShown = true;
        error = parser.helpText();
        return false;
    }
    if (!parser.positionalArguments().isEmpty()) {
        error = "unexpected argument: " + parser.positionalArguments().first();
        return false;
    }

    BenchSimOptions parsed;
    if (parser.isSet("dmm") || parser.isSet("pwr")) {
        parsed.serveDmm = parser.isSet("dmm");
        parsed.servePwr = parser.isSet("pwr");
    }
    parsed.portMapper = parser.isSet("portmapper-port");
    if (!portValue(parser, "dmm-port", parsed.dmmPort, error) ||
        !portValue(parser, "dmm-vxi11-port", parsed.dmmVxi11Port, error) ||
        !portValue(parser, "pwr-port", parsed.pwrPort, error) ||
        !portValue(parser, "pwr-vxi11-port", parsed.pwrVxi11Port, error) ||
        !portValue(parser, "portmapper-port", parsed.portMapperPort, error) ||
        !numberValue(parser, "reading", parsed.reading, error) ||
        !numberValue(parser, "dvm-reading", parsed.dvmReading, error) ||
        !faultValue(parser, "dmm-fault", parsed.dmmFault, error) ||
        !faultValue(parser, "pwr-fault", parsed.pwrFault, error))
        return false;

    parsed.portMapperTarget = parser.value("portmapper-target");
    if (parsed.portMapperTarget.isEmpty())
        parsed.portMapperTarget = parsed.serveDmm ? "dmm" : "pwr";
    if ((parsed.portMapperTarget != "dmm" && parsed.portMapperTarget != "pwr") ||
        (parsed.portMapperTarget == "dmm" && !parsed.serveDmm) ||
        (parsed.portMapperTarget == "pwr" && !parsed.servePwr)) {
        error = "--portmapper-target must name a served instrument (dmm or pwr)";
        return false;
    }
    parsed.transcriptPath = parser.value("transcript");
    options = parsed;
    return true;
}
