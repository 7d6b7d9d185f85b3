#include "instruments/visa/Vxi11Transport.h"

#include "instruments/visa/LibraryConfig.h"
#include "instruments/visa/RpcPrograms.h"
#include "instruments/visa/XdrReader.h"
#include "instruments/visa/XdrWriter.h"

#include <algorithm>
#include <atomic>

namespace visa {

namespace {

using namespace rpc;
constexpr std::uint32_t CoreProgram = Vxi11CoreProgram;
constexpr std::uint32_t CoreVersion = Vxi11CoreVersion;
constexpr std::uint32_t GetPort = PortMapperGetPort;

enum Procedure : std::uint32_t
{
    CreateLink = 10,
    DeviceWrite = 11,
    DeviceRead = 12,
    DeviceReadStb = 13,
    DeviceTrigger = 14,
    DeviceClear = 15,
    DeviceLock = 18,
    DeviceUnlock = 19,
    DestroyLink = 23,
};

constexpr std::uint32_t FlagWaitLock = 0x01;
constexpr std::uint32_t FlagEnd = 0x08;
constexpr std::uint32_t FlagTermCharSet = 0x80;
constexpr std::uint32_t ReasonEnd = 0x04;
constexpr std::int32_t DeviceLocked = 11;

// VXI-11 device error codes as VISA statuses.
ViStatus statusOf(std::int32_t error)
{
    switch (error) {
    case 0:
        return VI_SUCCESS;
    case 3:  // device not accessible
    case 21: // invalid address
        return VI_ERROR_RSRC_NFOUND;
    case 4: // invalid link identifier: the instrument no longer knows us
        return VI_ERROR_CONN_LOST;
    case 8: // operation not supported
        return VI_ERROR_NSUP_OPER;
    case DeviceLocked: // by another link
        return VI_ERROR_RSRC_LOCKED;
    case 15: // I/O timeout
        return VI_ERROR_TMO;
    default: // I/O error, abort, out of resources and the rest
        return VI_ERROR_IO;
    }
}

std::atomic<std::int32_t> nextClientId{1};

} // namespace

Vxi11Transport::~Vxi11Transport()
{
    // Telling the instrument is a courtesy: out of memory, the link just closes.
    try {
        if (linked) {
            std::vector<std::uint8_t> results;
            rpc.call(CoreProgram, CoreVersion, DestroyLink, XdrWriter().putInt(linkId).data(),
                     Deadline(DestroyLinkWaitMs), results);
        }
    } catch (...) {
    }
    rpc.close();
}

ViStatus Vxi11Transport::askPortMapper(const std::string &host, const Deadline &deadline,
                                       std::uint16_t &port)
{
    OncRpcClient mapper;
    ViStatus status = mapper.connect(host, LibraryConfig::portMapperPort(), deadline);
    if (status != VI_SUCCESS)
        return VI_ERROR_RSRC_NFOUND;
    XdrWriter arguments;
    arguments.putUint(CoreProgram).putUint(CoreVersion).putUint(ProtocolTcp).putUint(0);
    std::vector<std::uint8_t> results;
    status = mapper.call(PortMapperProgram, PortMapperVersion, GetPort, arguments.data(), deadline,
                         results);
    if (status != VI_SUCCESS)
        return VI_ERROR_RSRC_NFOUND;
    XdrReader reply(results);
    const std::uint32_t found = reply.getUint();
    if (!reply.ok() || found == 0 || found > 65535)
        return VI_ERROR_RSRC_NFOUND; // no VXI-11 service there
    port = static_cast<std::uint16_t>(found);
    return VI_SUCCESS;
}

ViStatus Vxi11Transport::open(const ResourceName &name, const Deadline &deadline)
{
    std::uint16_t port = name.port;
    if (port == 0) {
        const ViStatus status = askPortMapper(name.host, deadline, port);
        if (status != VI_SUCCESS)
            return status;
    }
    ViStatus status = rpc.connect(name.host, port, deadline);
    if (status != VI_SUCCESS)
        return status;

    XdrWriter arguments;
    arguments.putInt(nextClientId++).putUint(0).putUint(0); // no lock, lock timeout 0
    arguments.putOpaque(name.deviceName.data(), name.deviceName.size());
    std::vector<std::uint8_t> results;
    status = rpc.call(CoreProgram, CoreVersion, CreateLink, arguments.data(), deadline, results);
    if (status == VI_ERROR_TMO || status == VI_ERROR_CONN_LOST)
        return VI_ERROR_RSRC_NFOUND;
    if (status != VI_SUCCESS)
        return status;
    XdrReader reply(results);
    const std::int32_t error = reply.getInt();
    linkId = reply.getInt();
    reply.getUint(); // abort port: aborts are not used
    const std::uint32_t maxReceive = reply.getUint();
    if (!reply.ok())
        return VI_ERROR_IO;
    if (error != 0)
        return statusOf(error);
    linked = true;
    maxReceiveSize = maxReceive == 0 ? 1024 : maxReceive;
    return VI_SUCCESS;
}

ViStatus Vxi11Transport::write(const ViByte *data, std::size_t count, const IoSettings &settings,
                               const Deadline &deadline, std::size_t &written)
{
    written = 0;
    while (written < count) {
        const std::size_t chunk = std::min<std::size_t>(count - written, maxReceiveSize);
        const bool last = written + chunk == count;
        XdrWriter arguments;
        arguments.putInt(linkId).putUint(deadline.remainingMs()).putUint(0);
        arguments.putUint(last && settings.sendEnd ? FlagEnd : 0u);
        arguments.putOpaque(data + written, chunk);
        std::vector<std::uint8_t> results;
        const ViStatus status = rpc.call(CoreProgram, CoreVersion, DeviceWrite, arguments.data(),
                                         deadline.extendedBy(ReplyGraceMs), results);
        if (status != VI_SUCCESS)
            return status;
        XdrReader reply(results);
        const std::int32_t error = reply.getInt();
        const std::uint32_t size = reply.getUint();
        if (!reply.ok())
            return VI_ERROR_IO;
        written += std::min<std::size_t>(size, chunk);
        if (error != 0)
            return statusOf(error);
        // An instrument that takes a few bytes a call does not keep the
        // write going past its deadline.
        if (written < count && deadline.expired())
            return VI_ERROR_TMO;
    }
    return VI_SUCCESS;
}

ViStatus Vxi11Transport::receive(InputBuffer &in, std::size_t wanted, const IoSettings &settings,
                                 const Deadline &deadline)
{
    const std::uint32_t request =
        static_cast<std::uint32_t>(std::min<std::size_t>(wanted, MaxReadRequest));
    do {
        XdrWriter arguments;
        arguments.putInt(linkId).putUint(request).putUint(deadline.remainingMs()).putUint(0);
        arguments.putUint(settings.termCharEnabled ? FlagTermCharSet : 0u);
        arguments.putInt(settings.termChar);
        std::vector<std::uint8_t> results;
        const ViStatus status = rpc.call(CoreProgram, CoreVersion, DeviceRead, arguments.data(),
                                         deadline.extendedBy(ReplyGraceMs), results);
        if (status != VI_SUCCESS)
            return status;
        XdrReader reply(results);
        const std::int32_t error = reply.getInt();
        const std::uint32_t reason = reply.getUint();
        const std::vector<std::uint8_t> data = reply.getOpaque(request);
        if (!reply.ok())
            return VI_ERROR_IO;
        in.append(reinterpret_cast<const char *>(data.data()), data.size(),
                  (reason & ReasonEnd) != 0);
        if (error != 0)
            return statusOf(error);
        if (!data.empty())
            return VI_SUCCESS;
    } while (!deadline.expired());
    return VI_ERROR_TMO;
}

ViStatus Vxi11Transport::deviceCall(std::uint32_t procedure,
                                    const std::vector<std::uint8_t> &arguments,
                                    const Deadline &deadline, std::int32_t &error,
                                    std::vector<std::uint8_t> &results)
{
    if (!linked)
        return VI_ERROR_CONN_LOST;
    const ViStatus status = rpc.call(CoreProgram, CoreVersion, procedure, arguments,
                                     deadline.extendedBy(ReplyGraceMs), results);
    if (status != VI_SUCCESS)
        return status;
    XdrReader reply(results);
    error = reply.getInt();
    return reply.ok() ? VI_SUCCESS : VI_ERROR_IO;
}

ViStatus Vxi11Transport::clear(const Deadline &deadline)
{
    XdrWriter arguments;
    arguments.putInt(linkId).putUint(0).putUint(0).putUint(deadline.remainingMs());
    std::int32_t error = 0;
    std::vector<std::uint8_t> results;
    const ViStatus status = deviceCall(DeviceClear, arguments.data(), deadline, error, results);
    return status != VI_SUCCESS ? status : statusOf(error);
}

ViStatus Vxi11Transport::readStatusByte(ViUInt16 &status, const Deadline &deadline)
{
    XdrWriter arguments;
    arguments.putInt(linkId).putUint(0).putUint(0).putUint(deadline.remainingMs());
    std::int32_t error = 0;
    std::vector<std::uint8_t> results;
    const ViStatus called = deviceCall(DeviceReadStb, arguments.data(), deadline, error, results);
    if (called != VI_SUCCESS)
        return called;
    if (error != 0)
        return statusOf(error);
    XdrReader reply(results);
    reply.getInt();
    const std::uint32_t stb = reply.getUint();
    if (!reply.ok())
        return VI_ERROR_IO;
    status = static_cast<ViUInt16>(stb & 0xFF);
    return VI_SUCCESS;
}

ViStatus Vxi11Transport::assertTrigger(const Deadline &deadline)
{
    XdrWriter arguments;
    arguments.putInt(linkId).putUint(0).putUint(0).putUint(deadline.remainingMs());
    std::int32_t error = 0;
    std::vector<std::uint8_t> results;
    const ViStatus status = deviceCall(DeviceTrigger, arguments.data(), deadline, error, results);
    return status != VI_SUCCESS ? status : statusOf(error);
}

ViStatus Vxi11Transport::lockExclusive(const Deadline &deadline)
{
    const ViUInt32 waitMs = deadline.remainingMs();
    XdrWriter arguments;
    arguments.putInt(linkId).putUint(waitMs != 0 ? FlagWaitLock : 0u).putUint(waitMs);
    std::int32_t error = 0;
    std::vector<std::uint8_t> results;
    const ViStatus status = deviceCall(DeviceLock, arguments.data(), deadline, error, results);
    if (status != VI_SUCCESS)
        return status;
    if (error == DeviceLocked && waitMs != 0)
        return VI_ERROR_TMO; // VISA's word for a lock not obtained in time
    return statusOf(error);
}

ViStatus Vxi11Transport::unlock(const Deadline &deadline)
{
    std::int32_t error = 0;
    std::vector<std::uint8_t> results;
    const ViStatus status =
        deviceCall(DeviceUnlock, XdrWriter().putInt(linkId).data(), deadline, error, results);
    return status != VI_SUCCESS ? status : statusOf(error);
}

} // namespace visa
