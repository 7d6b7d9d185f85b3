#pragma once

#include "tools/benchsim/FaultMode.h"
#include "tools/benchsim/OutputModel.h"

#include <QString>
#include <QStringList>

// The command line of benchsim; `help` documents every option and the
// address line the program prints.
struct BenchSimOptions
{
    bool serveDmm = true;
    bool servePwr = true;
    quint16 dmmPort = 0; // 0: any free port
    quint16 dmmVxi11Port = 0;
    quint16 dmmHislipPort = 0;
    quint16 pwrPort = 0;
    quint16 pwrVxi11Port = 0;
    quint16 pwrHislipPort = 0;
    bool portMapper = false;
    quint16 portMapperPort = 0;
    QString portMapperTarget;        // "dmm" or "pwr"; empty: the meter if served
    bool registerWithRpcbind = true; // with a system rpcbind on port 111
    bool fast = false;               // every answer at once, however long a reading takes
    QString transcriptPath;
    FaultMode dmmFault;
    FaultMode pwrFault;
    double reading = 1.23456789;
    double dvmReading = 0.0;
    double loadIdle = 0.02; // amperes the board draws from each output that is on
    double loadGain = 1e-5; // and more per code of its last value

    // The simulated board on a pseudo-terminal; with it the meter measures
    // the board's output instead of the fixed reading.
    bool serveBoard = false;
    QString boardLink; // a symbolic link to the board's device, made and removed by us
    OutputModel output;
    double voltageNoise = 0.0; // volts rms
    double currentNoise = 0.0; // amperes rms
    quint32 seed = 1;

    // False with a message in `error` for a bad command line; `shown` is set
    // when --help or --version was asked for (the text is in `error` then).
    static bool parse(const QStringList &arguments, BenchSimOptions &options, QString &error,
                      bool &shown);
};
