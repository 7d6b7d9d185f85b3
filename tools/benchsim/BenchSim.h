#pragma once

#include "tools/benchsim/BenchSimOptions.h"
#include "tools/benchsim/BoardFollowingReading.h"
#include "tools/benchsim/BoardLoad.h"
#include "tools/benchsim/FixedReading.h"
#include "tools/benchsim/RpcbindRegistration.h"
#include "tools/benchsim/Transcript.h"
#include "tools/boardsim/DeviceLink.h"

#include <QObject>
#include <QString>

#include <memory>

class HislipServer;
class InstrumentFrontEnd;
class PortMapperServer;
class RawSocketServer;
class SimMultimeter;
class SimSupply;
class SimulatedBoard;
class Vxi11Server;

// The simulated instruments and their servers, as the options ask.
class BenchSim : public QObject
{
    Q_OBJECT

public:
    explicit BenchSim(QObject *parent = nullptr);
    ~BenchSim() override;

    // Opens the transcript and starts every server; false with a message
    // when one cannot listen. A system rpcbind, when one answers, is told
    // where the VXI-11 core channel is (unless the options say not to).
    bool start(const BenchSimOptions &options, QString &error);
    // "BENCHSIM dmm=... dmm-vxi11=... dmm-hislip=... pwr=... pwr-vxi11=... pwr-hislip=...
    // [portmapper=...] [board=...]"
    QString addressLine() const;

    static constexpr quint16 StandardPortMapperPort = 111;

    SimMultimeter *multimeter() const { return dmm.get(); }
    SimulatedBoard *simulatedBoard() const { return board.get(); }
    FixedReading &meterReading() { return reading; }

private:
    struct Served
    {
        std::unique_ptr<InstrumentFrontEnd> frontEnd;
        RawSocketServer *socketServer = nullptr;
        Vxi11Server *vxi11Server = nullptr;
        HislipServer *hislipServer = nullptr;
    };

    QString vxi11Resource(const Served &served) const;
    bool serve(Served &served, quint16 socketPort, quint16 vxi11Port, quint16 hislipPort,
               QString &error);
    bool startBoard(const BenchSimOptions &options, QString &error);

    std::unique_ptr<Transcript> transcript;
    FixedReading reading;
    FixedReading dvmReading;
    std::unique_ptr<SimulatedBoard> board;
    std::unique_ptr<BoardFollowingReading> boardReading;
    std::unique_ptr<BoardLoad> load;
    DeviceLink boardLink;
    QString boardPath;
    std::unique_ptr<SimMultimeter> dmm;
    std::unique_ptr<SimSupply> pwr;
    Served dmmServed;
    Served pwrServed;
    PortMapperServer *portMapper = nullptr;
    const Served *mappedServed = nullptr; // what the port mappers lead to
    RpcbindRegistration rpcbind;
};
