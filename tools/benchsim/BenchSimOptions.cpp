#include "tools/benchsim/BenchSimOptions.h"

#include "commandline/CommandLine.h"

#include <QCommandLineParser>

namespace {

const char *description =
    "Simulated bench instruments on 127.0.0.1: a multimeter (dmm) and a dual-output\n"
    "power supply (pwr), each served as a raw SOCKET resource, over VXI-11 and over\n"
    "HiSLIP, and\n"
    "with --board the board under test on a pseudo-terminal (115200 8N1, 5-byte\n"
    "value frames). With the board, every meter reading is the output the board's\n"
    "last value produces: for DC voltage (after CONF:VOLT:DC) offset + gain x code\n"
    "+ bow x 4x(1-x) with x = code / full-scale, stuck codes repeating the code\n"
    "below; for DC current (after CONF:CURR:DC) sink-offset + sink-gain x code;\n"
    "plus seeded Gaussian noise.\n"
    "\n"
    "The meter takes its time: a reading lasts NPLC cycles of 50 Hz (NPLC 10, the\n"
    "default, is 200 ms; 0.02, 0.2, 1, 10 and 100 are had, others round up), and\n"
    "each connection's lines are worked on one after the other. --fast answers at\n"
    "once, as the test suite wants. Ranges are fixed or AUTO per function (0.1 V to\n"
    "1000 V, 100 uA to 10 A); a reading beyond 120 % of a fixed range is +9.9E37.\n"
    "The supply's outputs can be set to 15 V / 3 A (output 1) and 12 V / 1.5 A\n"
    "(output 2); MEAS:CURR? of an output that is on gives load-idle + load-gain x\n"
    "the board's last value, 0 when it is off.\n"
    "\n"
    "Both speak the IEEE 488.2 common commands (*IDN? *RST *TST? *CLS *ESE *ESR?\n"
    "*SRE *STB? *OPC *OPC? *WAI *TRG) and SYST:ERR?: an unknown command queues\n"
    "-113,\"Undefined header\" and sets the command error bit of *ESR?; a refused\n"
    "setting queues -222,\"Data out of range\" and sets the execution error bit.\n"
    "The status byte has the error queue (4), MAV (16), ESB (32) and MSS/RQS (64)\n"
    "bits; *ESE and *SRE set their masks. *TRG, VXI-11 device_trigger and the\n"
    "HiSLIP trigger make the meter take a reading that FETC? returns.\n"
    "\n"
    "Once every server listens, one line goes to standard output:\n"
    "  BENCHSIM dmm=<resource> dmm-vxi11=<resource> dmm-hislip=<resource> pwr=<resource>"
    " pwr-vxi11=<resource> pwr-hislip=<resource> [portmapper=<port>] [board=<device path>]\n"
    "Keys appear only for what is served, in that order, separated by single blanks, e.g.\n"
    "  BENCHSIM dmm=TCPIP0::127.0.0.1::40001::SOCKET"
    " dmm-vxi11=TCPIP0::127.0.0.1,40002::inst0::INSTR"
    " dmm-hislip=TCPIP0::127.0.0.1::hislip0,40003::INSTR\n"
    "Port 0 (the default everywhere) picks a free port; the line says which.\n"
    "\n"
    "A VXI-11 resource names its core channel's port after the host (\"host,port\"),\n"
    "a form this project's VISA library opens without a port mapper. Other VISA\n"
    "libraries find the port through the port mapper on port 111. When a system\n"
    "rpcbind answers there, benchsim registers the core channel of the\n"
    "--portmapper-target instrument with it (no root needed; unregistered on exit;\n"
    "an entry whose server is gone is replaced, a live one is left alone) and\n"
    "prints that instrument in the standard form TCPIP0::127.0.0.1::inst0::INSTR.\n"
    "Without rpcbind, --portmapper-port 111 serves a port mapper of our own, which\n"
    "needs root and a free port 111; a private network namespace gives both, with\n"
    "the client inside it too:\n"
    "  unshare -rn sh -c 'ip link set lo up; benchsim --portmapper-port 111 & sleep 1;\n"
    "                    rpcinfo -p 127.0.0.1; python3 my_script.py; kill $!'\n"
    "\n"
    "Every client is bounded: a line longer than 16 KiB is not executed (-363,\n"
    "\"Input buffer overrun\"); a client that leaves 16 KiB of replies unread is\n"
    "not read from until it takes them (a VXI-11 link loses them: -430); each\n"
    "server keeps 64 connections at most.\n"
    "\n"
    "Fault modes: none, silent, slow[:MS], disconnect[:N], nul, long, garbage.\n"
    "slow:MS is also the way to give the meter a response delay.\n"
    "The transcript gets one line per received line: the key (dmm or pwr), a blank,\n"
    "and the bytes with C escapes (\\n, \\r, \\t, \\\\, \\xHH); the board's lines read\n"
    "\"board value N\" and \"board bad <hex bytes>\".\n"
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
                            bool &shown)
{
    shown = false;
    const CommandLine commandLine(QStringLiteral("benchsim"));
    QCommandLineParser parser;
    parser.setApplicationDescription(description);
    const QCommandLineOption help = CommandLine::helpOption();
    const QCommandLineOption version = CommandLine::versionOption();
    parser.addOptions({help, version});
    parser.addOptions({
        {"dmm", "Serve the multimeter (default: both instruments)."},
        {"pwr", "Serve the power supply (default: both instruments)."},
        {"dmm-port", "Raw socket port of the multimeter.", "port"},
        {"dmm-vxi11-port", "VXI-11 core port of the multimeter.", "port"},
        {"dmm-hislip-port", "HiSLIP port of the multimeter.", "port"},
        {"pwr-port", "Raw socket port of the power supply.", "port"},
        {"pwr-vxi11-port", "VXI-11 core port of the power supply.", "port"},
        {"pwr-hislip-port", "HiSLIP port of the power supply.", "port"},
        {"portmapper-port", "Also run a port mapper (TCP and UDP) on this port.", "port"},
        {"portmapper-target", "Instrument the port mappers lead to: dmm or pwr.", "key"},
        {"no-rpcbind", "Do not register with a system rpcbind."},
        {"fast", "Answer at once: readings take no integration time."},
        {"transcript", "Append every received line to this file.", "file"},
        {"dmm-fault", "Fault mode of the multimeter.", "mode"},
        {"pwr-fault", "Fault mode of the power supply.", "mode"},
        {"reading", "Value of every multimeter reading (default 1.23456789).", "value"},
        {"dvm-reading", "Value of the supply's voltmeter input (default 0).", "value"},
        {"load-idle", "Current the board draws from each output that is on (default 0.02).",
         "amperes"},
        {"load-gain", "Further current per code of the board's last value (default 1e-5).",
         "amperes"},
        {"board", "Serve the board under test on a pseudo-terminal too."},
        {"board-link", "Make <path> a symbolic link to the board's device.", "path"},
        {"gain", "DAC output per code in volts (default 0.001).", "volts"},
        {"offset", "DAC output at code 0 in volts (default 0).", "volts"},
        {"bow", "Peak integral non-linearity at mid-scale in volts (default 0).", "volts"},
        {"full-scale", "Codes the bow spans (default 4096).", "codes"},
        {"missing-codes", "Comma-separated codes stuck at the code below.", "list"},
        {"sink-gain", "Sink current per code in amperes (default 1e-6).", "amperes"},
        {"sink-offset", "Sink current at code 0 in amperes (default 0).", "amperes"},
        {"noise", "Voltage noise, volts rms (default 0).", "volts"},
        {"current-noise", "Current noise, amperes rms (default 0).", "amperes"},
        {"seed", "Seed of the noise (default 1): equal seeds give equal runs.", "n"},
    });
    if (!parser.parse(arguments)) {
        error = parser.errorText();
        return false;
    }
    if (parser.isSet(help) || parser.isSet(version)) {
        shown = true;
        error = parser.isSet(help) ? commandLine.helpText(parser) : commandLine.versionText();
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
    parsed.registerWithRpcbind = !parser.isSet("no-rpcbind");
    parsed.fast = parser.isSet("fast");
    if (!portValue(parser, "dmm-port", parsed.dmmPort, error) ||
        !portValue(parser, "dmm-vxi11-port", parsed.dmmVxi11Port, error) ||
        !portValue(parser, "dmm-hislip-port", parsed.dmmHislipPort, error) ||
        !portValue(parser, "pwr-port", parsed.pwrPort, error) ||
        !portValue(parser, "pwr-vxi11-port", parsed.pwrVxi11Port, error) ||
        !portValue(parser, "pwr-hislip-port", parsed.pwrHislipPort, error) ||
        !portValue(parser, "portmapper-port", parsed.portMapperPort, error) ||
        !numberValue(parser, "reading", parsed.reading, error) ||
        !numberValue(parser, "dvm-reading", parsed.dvmReading, error) ||
        !numberValue(parser, "load-idle", parsed.loadIdle, error) ||
        !numberValue(parser, "load-gain", parsed.loadGain, error) ||
        !faultValue(parser, "dmm-fault", parsed.dmmFault, error) ||
        !faultValue(parser, "pwr-fault", parsed.pwrFault, error) ||
        !numberValue(parser, "gain", parsed.output.gain, error) ||
        !numberValue(parser, "offset", parsed.output.offset, error) ||
        !numberValue(parser, "bow", parsed.output.bow, error) ||
        !numberValue(parser, "sink-gain", parsed.output.sinkGain, error) ||
        !numberValue(parser, "sink-offset", parsed.output.sinkOffset, error) ||
        !numberValue(parser, "noise", parsed.voltageNoise, error) ||
        !numberValue(parser, "current-noise", parsed.currentNoise, error))
        return false;

    parsed.serveBoard = parser.isSet("board") || parser.isSet("board-link");
    parsed.boardLink = parser.value("board-link");
    if (parser.isSet("full-scale")) {
        bool ok = false;
        parsed.output.fullScale = parser.value("full-scale").toLongLong(&ok);
        if (!ok || parsed.output.fullScale <= 0) {
            error = "--full-scale needs a positive number of codes";
            return false;
        }
    }
    if (parser.isSet("seed")) {
        bool ok = false;
        parsed.seed = parser.value("seed").toUInt(&ok);
        if (!ok) {
            error = "--seed needs a whole number from 0 to 4294967295";
            return false;
        }
    }
    for (const QString &code : parser.value("missing-codes").split(',', Qt::SkipEmptyParts)) {
        bool ok = false;
        parsed.output.missingCodes.insert(code.trimmed().toLongLong(&ok));
        if (!ok) {
            error = "--missing-codes needs comma-separated whole numbers";
            return false;
        }
    }
    if (parsed.voltageNoise < 0 || parsed.currentNoise < 0) {
        error = "noise must not be negative";
        return false;
    }

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
