#include "tools/benchsim/BenchSim.h"

#include "tools/benchsim/HislipServer.h"
#include "tools/benchsim/InstrumentFrontEnd.h"
#include "tools/benchsim/PortMapperServer.h"
#include "tools/benchsim/RawSocketServer.h"
#include "tools/benchsim/SimMultimeter.h"
#include "tools/benchsim/SimSupply.h"
#include "tools/benchsim/Vxi11Server.h"
#include "tools/boardsim/SimulatedBoard.h"

#include <QStringList>

BenchSim::BenchSim(QObject *parent) : QObject(parent) {}

BenchSim::~BenchSim()
{
    rpcbind.unregister();
    // Servers first: they use the front ends and instruments held below.
    delete portMapper;
    boardLink.remove();
    for (Served *served : {&dmmServed, &pwrServed}) {
        delete served->socketServer;
        delete served->vxi11Server;
        delete served->hislipServer;
    }
}

bool BenchSim::serve(Served &served, quint16 socketPort, quint16 vxi11Port, quint16 hislipPort,
                     QString &error)
{
    served.socketServer = new RawSocketServer(*served.frontEnd, this);
    served.vxi11Server = new Vxi11Server(*served.frontEnd, this);
    if (!served.socketServer->listen(socketPort)) {
        error = QString("%1: cannot listen on port %2: %3")
                    .arg(served.frontEnd->key())
                    .arg(socketPort)
                    .arg(served.socketServer->errorString());
        return false;
    }
    if (!served.vxi11Server->listen(vxi11Port)) {
        error = QString("%1: cannot listen on VXI-11 port %2: %3")
                    .arg(served.frontEnd->key())
                    .arg(vxi11Port)
                    .arg(served.vxi11Server->errorString());
        return false;
    }
    served.hislipServer = new HislipServer(*served.frontEnd, this);
    if (!served.hislipServer->listen(hislipPort)) {
        error = QString("%1: cannot listen on HiSLIP port %2: %3")
                    .arg(served.frontEnd->key())
                    .arg(hislipPort)
                    .arg(served.hislipServer->errorString());
        return false;
    }
    return true;
}

bool BenchSim::start(const BenchSimOptions &options, QString &error)
{
    transcript = std::make_unique<Transcript>(options.transcriptPath);
    if (!options.transcriptPath.isEmpty() && !transcript->isOpen()) {
        error = QString("cannot write transcript %1: %2")
                    .arg(options.transcriptPath, transcript->errorString());
        return false;
    }
    reading.setValue(options.reading);
    dvmReading.setValue(options.dvmReading);

    if (options.serveBoard && !startBoard(options, error))
        return false;

    if (options.serveDmm) {
        // With the board, the meter measures what the board's output does.
        if (boardReading) {
            dmm = std::make_unique<SimMultimeter>(*boardReading);
            boardReading->measureWith(dmm.get());
        } else {
            dmm = std::make_unique<SimMultimeter>(reading);
        }
        dmm->setTakesTime(!options.fast);
        dmmServed.frontEnd =
            std::make_unique<InstrumentFrontEnd>("dmm", *dmm, *transcript, options.dmmFault);
        if (!serve(dmmServed, options.dmmPort, options.dmmVxi11Port, options.dmmHislipPort, error))
            return false;
    }
    if (options.servePwr) {
        load = std::make_unique<BoardLoad>(board.get(), options.loadIdle, options.loadGain);
        pwr = std::make_unique<SimSupply>(dvmReading, *load);
        pwr->setTakesTime(!options.fast);
        pwrServed.frontEnd =
            std::make_unique<InstrumentFrontEnd>("pwr", *pwr, *transcript, options.pwrFault);
        if (!serve(pwrServed, options.pwrPort, options.pwrVxi11Port, options.pwrHislipPort, error))
            return false;
    }
    mappedServed = options.portMapperTarget == "pwr" ? &pwrServed : &dmmServed;
    if (options.portMapper) {
        portMapper = new PortMapperServer(this);
        portMapper->addMapping(Vxi11Server::CoreProgram, Vxi11Server::CoreVersion,
                               mappedServed->vxi11Server->port());
        if (!portMapper->listen(options.portMapperPort)) {
            error = QString("cannot listen on port mapper port %1: %2")
                        .arg(options.portMapperPort)
                        .arg(portMapper->errorString());
            return false;
        }
    }
    // Our own port mapper on port 111 is the only one there is.
    const bool ownsPort111 = portMapper != nullptr && portMapper->port() == StandardPortMapperPort;
    if (options.registerWithRpcbind && !ownsPort111)
        rpcbind.registerPort(Vxi11Server::CoreProgram, Vxi11Server::CoreVersion,
                             mappedServed->vxi11Server->port());
    return true;
}

bool BenchSim::startBoard(const BenchSimOptions &options, QString &error)
{
    board = std::make_unique<SimulatedBoard>();
    if (!board->start(&error))
        return false;
    connect(board.get(), &SimulatedBoard::valueReceived, this, [this](qint32 value) {
        transcript->record("board", "value " + QByteArray::number(value));
    });
    connect(board.get(), &SimulatedBoard::badFrameReceived, this, [this](const QByteArray &bytes) {
        transcript->record("board", "bad " + bytes.toHex(' '));
    });
    boardPath = board->devicePath();
    if (!options.boardLink.isEmpty()) {
        if (!boardLink.create(options.boardLink, board->devicePath(), &error))
            return false;
        boardPath = options.boardLink;
    }
    boardReading = std::make_unique<BoardFollowingReading>(
        *board, options.output, options.voltageNoise, options.currentNoise, options.seed);
    return true;
}

QString BenchSim::vxi11Resource(const Served &served) const
{
    // The standard form needs a port mapper where every client looks for
    // it, ours or the system's; elsewhere the "host,port" form names the
    // core channel directly.
    const bool onPort111 = rpcbind.isRegistered() ||
                           (portMapper != nullptr && portMapper->port() == StandardPortMapperPort);
    if (onPort111 && &served == mappedServed)
        return "TCPIP0::127.0.0.1::inst0::INSTR";
    return QString("TCPIP0::127.0.0.1,%1::inst0::INSTR").arg(served.vxi11Server->port());
}

QString BenchSim::addressLine() const
{
    QStringList fields{"BENCHSIM"};
    const auto add = [this, &fields](const QString &key, const Served &served) {
        if (served.socketServer == nullptr)
            return;
        fields
            << QString("%1=TCPIP0::127.0.0.1::%2::SOCKET").arg(key).arg(served.socketServer->port())
            << QString("%1-vxi11=%2").arg(key, vxi11Resource(served))
            << QString("%1-hislip=TCPIP0::127.0.0.1::hislip0,%2::INSTR")
                   .arg(key)
                   .arg(served.hislipServer->port());
    };
    add("dmm", dmmServed);
    add("pwr", pwrServed);
    if (portMapper != nullptr)
        fields << QString("portmapper=%1").arg(portMapper->port());
    if (board)
        fields << "board=" + boardPath;
    return fields.join(' ');
}
