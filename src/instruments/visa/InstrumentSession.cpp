#include "instruments/visa/InstrumentSession.h"

#include "instruments/visa/LockTable.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace visa {

namespace {

enum class Width
{
    None,
    U8,
    U16,
    U32,
    String
};

// The C type each attribute is read into by viGetAttribute.
Width widthOf(ViAttr attribute)
{
    switch (attribute) {
    case VI_ATTR_TERMCHAR:
        return Width::U8;
    case VI_ATTR_TERMCHAR_EN:
    case VI_ATTR_SEND_END_EN:
    case VI_ATTR_SUPPRESS_END_EN:
    case VI_ATTR_INTF_TYPE:
    case VI_ATTR_INTF_NUM:
    case VI_ATTR_TCPIP_PORT:
    case VI_ATTR_TCPIP_NODELAY:
    case VI_ATTR_TCPIP_KEEPALIVE:
    case VI_ATTR_GPIB_PRIMARY_ADDR:
    case VI_ATTR_GPIB_SECONDARY_ADDR:
    case VI_ATTR_MANF_ID:
    case VI_ATTR_MODEL_CODE:
    case VI_ATTR_USB_INTFC_NUM:
    case VI_ATTR_IO_PROT:
    case VI_ATTR_ASRL_DATA_BITS:
    case VI_ATTR_ASRL_PARITY:
    case VI_ATTR_ASRL_STOP_BITS:
    case VI_ATTR_ASRL_FLOW_CNTRL:
    case VI_ATTR_ASRL_END_IN:
    case VI_ATTR_ASRL_END_OUT:
        return Width::U16;
    case VI_ATTR_TMO_VALUE:
    case VI_ATTR_ASRL_BAUD:
    case VI_ATTR_RSRC_LOCK_STATE:
    case VI_ATTR_ASRL_AVAIL_NUM:
        return Width::U32;
    case VI_ATTR_RSRC_NAME:
    case VI_ATTR_RSRC_CLASS:
    case VI_ATTR_TCPIP_ADDR:
    case VI_ATTR_TCPIP_HOSTNAME:
    case VI_ATTR_TCPIP_DEVICE_NAME:
    case VI_ATTR_USB_SERIAL_NUM:
        return Width::String;
    default:
        return Width::None;
    }
}

bool isBoolean(ViAttrState value)
{
    return value == VI_TRUE || value == VI_FALSE;
}

// An IPv4 or IPv6 address rather than a name (IPv6 ones may carry a zone).
bool isNumericHost(const std::string &host)
{
    in_addr address{};
    return host.find(':') != std::string::npos || ::inet_pton(AF_INET, host.c_str(), &address) == 1;
}

} // namespace

InstrumentSession::InstrumentSession(ResourceName name, std::unique_ptr<Transport> transport)
    : name(std::move(name)), transport(std::move(transport))
{}

InstrumentSession::~InstrumentSession()
{
    // Closing the link releases the instrument's own lock.
    LockTable::instance().releaseAll(name.canonical, this);
}

bool InstrumentSession::mayAccess() const
{
    return LockTable::instance().mayAccess(name.canonical, this);
}

bool InstrumentSession::usesStrings() const
{
    return ioProtocol == VI_PROT_4882_STRS &&
           (name.kind == ResourceName::Kind::TcpipSocket || name.kind == ResourceName::Kind::Asrl);
}

ViStatus InstrumentSession::read(ViPBuf buffer, ViUInt32 count, ViUInt32 &returned)
{
    returned = 0;
    if (!mayAccess())
        return VI_ERROR_RSRC_LOCKED;
    std::lock_guard<std::mutex> lock(mutex);
    const unsigned abortsBefore = abort.taken();
    return abortedOr(readLocked(buffer, count, returned), abortsBefore);
}

ViStatus InstrumentSession::readLocked(ViPBuf buffer, ViUInt32 count, ViUInt32 &returned)
{
    returned = 0;
    const Deadline deadline(timeoutMs, &abort);
    const int endCharacter = transport->endCharacter(settings);
    std::size_t scanned = 0;
    bool receivedOnce = false; // bytes already here are taken even after the deadline
    for (;;) {
        // The first end condition among the bytes already here wins.
        const std::size_t limit = std::min<std::size_t>(input.size(), count);
        for (; scanned < limit; ++scanned) {
            const unsigned char c = input.at(scanned);
            if (settings.termCharEnabled && c == settings.termChar) {
                input.take(scanned + 1, buffer);
                returned = static_cast<ViUInt32>(scanned + 1);
                return VI_SUCCESS_TERM_CHAR;
            }
            if (input.endAfter(scanned) || c == endCharacter) {
                input.take(scanned + 1, buffer);
                returned = static_cast<ViUInt32>(scanned + 1);
                return VI_SUCCESS;
            }
        }
        if (input.size() >= count) {
            input.take(count, buffer);
            returned = count;
            return VI_SUCCESS_MAX_CNT;
        }
        // The deadline is the whole read's: a peer that trickles bytes or
        // never ends its reply does not keep it going.
        ViStatus status = VI_ERROR_TMO;
        if (!receivedOnce || !deadline.expired())
            status = transport->receive(input, count - input.size(), settings, deadline);
        receivedOnce = true;
        if (status != VI_SUCCESS) {
            if (status == VI_ERROR_TMO)
                transport->readTimedOut();
            // Hand over what did arrive, with the reason the read stopped.
            const std::size_t partial = std::min<std::size_t>(input.size(), count);
            input.take(partial, buffer);
            returned = static_cast<ViUInt32>(partial);
            return status;
        }
    }
}

ViStatus InstrumentSession::write(ViConstBuf buffer, ViUInt32 count, ViUInt32 &returned)
{
    returned = 0;
    if (!mayAccess())
        return VI_ERROR_RSRC_LOCKED;
    std::lock_guard<std::mutex> lock(mutex);
    const unsigned abortsBefore = abort.taken();
    return abortedOr(writeLocked(buffer, count, returned), abortsBefore);
}

ViStatus InstrumentSession::abortedOr(ViStatus status, unsigned abortsBefore) const
{
    return status < VI_SUCCESS && abort.taken() != abortsBefore ? VI_ERROR_ABORT : status;
}

ViStatus InstrumentSession::writeLocked(ViConstBuf buffer, ViUInt32 count, ViUInt32 &returned)
{
    returned = 0;
    if (count == 0)
        return VI_SUCCESS;
    const Deadline deadline(timeoutMs, &abort);
    std::size_t written = 0;
    const ViStatus status = transport->write(buffer, count, settings, deadline, written);
    returned = static_cast<ViUInt32>(written);
    return status;
}

ViStatus InstrumentSession::setAttribute(ViAttr attribute, ViAttrState value)
{
    std::lock_guard<std::mutex> lock(mutex);
    switch (attribute) {
    case VI_ATTR_TMO_VALUE:
        if (value > VI_TMO_INFINITE)
            return VI_ERROR_NSUP_ATTR_STATE;
        timeoutMs = static_cast<ViUInt32>(value);
        return VI_SUCCESS;
    case VI_ATTR_TERMCHAR:
        if (value > 0xFF)
            return VI_ERROR_NSUP_ATTR_STATE;
        settings.termChar = static_cast<ViUInt8>(value);
        return VI_SUCCESS;
    case VI_ATTR_TERMCHAR_EN:
        if (!isBoolean(value))
            return VI_ERROR_NSUP_ATTR_STATE;
        settings.termCharEnabled = value == VI_TRUE;
        return VI_SUCCESS;
    case VI_ATTR_SEND_END_EN:
        if (!isBoolean(value))
            return VI_ERROR_NSUP_ATTR_STATE;
        settings.sendEnd = value == VI_TRUE;
        return VI_SUCCESS;
    case VI_ATTR_SUPPRESS_END_EN:
        if (!isBoolean(value))
            return VI_ERROR_NSUP_ATTR_STATE;
        settings.suppressEnd = value == VI_TRUE;
        return VI_SUCCESS;
    case VI_ATTR_IO_PROT:
        if (value != VI_PROT_NORMAL && value != VI_PROT_4882_STRS)
            return VI_ERROR_NSUP_ATTR_STATE;
        ioProtocol = static_cast<ViUInt16>(value);
        return VI_SUCCESS;
    default: {
        // The link's attributes are the instrument's, which a lock guards.
        if (!mayAccess())
            return VI_ERROR_RSRC_LOCKED;
        const ViStatus status = transport->setAttribute(attribute, value);
        if (status == VI_ERROR_NSUP_ATTR && widthOf(attribute) != Width::None)
            return VI_ERROR_ATTR_READONLY;
        return status;
    }
    }
}

ViStatus InstrumentSession::getAttribute(ViAttr attribute, void *value)
{
    std::lock_guard<std::mutex> lock(mutex);
    const Width width = widthOf(attribute);
    if (width == Width::String) {
        const char *text = stringAttribute(attribute);
        if (text == nullptr)
            return VI_ERROR_NSUP_ATTR;
        std::snprintf(static_cast<char *>(value), VI_FIND_BUFLEN, "%s", text);
        return VI_SUCCESS;
    }
    ViAttrState state = 0;
    const ViStatus status = integerAttribute(attribute, state);
    if (status != VI_SUCCESS)
        return status;
    switch (width) {
    case Width::U8: {
        const ViUInt8 v = static_cast<ViUInt8>(state);
        std::memcpy(value, &v, sizeof v);
        break;
    }
    case Width::U16: {
        const ViUInt16 v = static_cast<ViUInt16>(state);
        std::memcpy(value, &v, sizeof v);
        break;
    }
    case Width::U32: {
        const ViUInt32 v = static_cast<ViUInt32>(state);
        std::memcpy(value, &v, sizeof v);
        break;
    }
    default: // attributes only a transport knows are 32-bit
        std::memcpy(value, &state, sizeof(ViUInt32));
        break;
    }
    return VI_SUCCESS;
}

ViStatus InstrumentSession::integerAttribute(ViAttr attribute, ViAttrState &value) const
{
    const bool tcpip = name.interfaceType() == VI_INTF_TCPIP;
    switch (attribute) {
    case VI_ATTR_TMO_VALUE:
        value = timeoutMs;
        return VI_SUCCESS;
    case VI_ATTR_TERMCHAR:
        value = settings.termChar;
        return VI_SUCCESS;
    case VI_ATTR_TERMCHAR_EN:
        value = settings.termCharEnabled;
        return VI_SUCCESS;
    case VI_ATTR_SEND_END_EN:
        value = settings.sendEnd;
        return VI_SUCCESS;
    case VI_ATTR_SUPPRESS_END_EN:
        value = settings.suppressEnd;
        return VI_SUCCESS;
    case VI_ATTR_IO_PROT:
        value = ioProtocol;
        return VI_SUCCESS;
    case VI_ATTR_RSRC_LOCK_STATE:
        value = LockTable::instance().state(name.canonical);
        return VI_SUCCESS;
    case VI_ATTR_INTF_TYPE:
        value = name.interfaceType();
        return VI_SUCCESS;
    case VI_ATTR_INTF_NUM:
        value = name.board;
        return VI_SUCCESS;
    case VI_ATTR_TCPIP_PORT:
        if (!tcpip)
            return VI_ERROR_NSUP_ATTR;
        value = name.port;
        return VI_SUCCESS;
    case VI_ATTR_GPIB_PRIMARY_ADDR:
    case VI_ATTR_GPIB_SECONDARY_ADDR:
        if (name.kind != ResourceName::Kind::Gpib)
            return VI_ERROR_NSUP_ATTR;
        value = attribute == VI_ATTR_GPIB_PRIMARY_ADDR
                    ? name.primaryAddress
                    : (name.secondaryAddress < 0 ? VI_NO_SEC_ADDR
                                                 : static_cast<unsigned>(name.secondaryAddress));
        return VI_SUCCESS;
    case VI_ATTR_MANF_ID:
    case VI_ATTR_MODEL_CODE:
        if (name.kind != ResourceName::Kind::UsbTmc)
            return VI_ERROR_NSUP_ATTR;
        value = attribute == VI_ATTR_MANF_ID ? name.vendorId : name.productId;
        return VI_SUCCESS;
    case VI_ATTR_ASRL_AVAIL_NUM: {
        // What the port holds and what was read ahead from it: a read takes both.
        ViAttrState waiting = 0;
        const ViStatus status = transport->getAttribute(attribute, waiting);
        if (status != VI_SUCCESS)
            return status;
        value = std::min<ViAttrState>(waiting + input.size(), 0xFFFFFFFFu);
        return VI_SUCCESS;
    }
    default:
        return transport->getAttribute(attribute, value);
    }
}

ViStatus InstrumentSession::clear()
{
    if (!mayAccess())
        return VI_ERROR_RSRC_LOCKED;
    std::lock_guard<std::mutex> lock(mutex);
    input = InputBuffer();
    const Deadline deadline(timeoutMs, &abort);
    ViStatus status = transport->clear(deadline);
    if (status == VI_SUCCESS && usesStrings()) {
        static const char command[] = "*CLS\n";
        ViUInt32 written = 0;
        status =
            writeLocked(reinterpret_cast<const ViByte *>(command), sizeof command - 1, written);
    }
    return status;
}

ViStatus InstrumentSession::readStatusByte(ViUInt16 &statusByte)
{
    statusByte = 0;
    if (!mayAccess())
        return VI_ERROR_RSRC_LOCKED;
    std::lock_guard<std::mutex> lock(mutex);
    if (!usesStrings())
        return transport->readStatusByte(statusByte, Deadline(timeoutMs, &abort));

    static const char query[] = "*STB?\n";
    ViUInt32 count = 0;
    ViStatus status = writeLocked(reinterpret_cast<const ViByte *>(query), sizeof query - 1, count);
    if (status != VI_SUCCESS)
        return status;
    char reply[32] = {};
    status = readLocked(reinterpret_cast<ViByte *>(reply), sizeof reply - 1, count);
    if (status < VI_SUCCESS)
        return status;
    char *end = nullptr;
    const long value = std::strtol(reply, &end, 10);
    if (end == reply || value < 0 || value > 0xFFFF)
        return VI_ERROR_IO;
    statusByte = static_cast<ViUInt16>(value);
    return VI_SUCCESS;
}

ViStatus InstrumentSession::assertTrigger(ViUInt16 protocol)
{
    if (protocol != VI_TRIG_PROT_DEFAULT)
        return VI_ERROR_INV_PROT;
    if (!mayAccess())
        return VI_ERROR_RSRC_LOCKED;
    std::lock_guard<std::mutex> lock(mutex);
    if (!usesStrings())
        return transport->assertTrigger(Deadline(timeoutMs, &abort));
    static const char command[] = "*TRG\n";
    ViUInt32 written = 0;
    return writeLocked(reinterpret_cast<const ViByte *>(command), sizeof command - 1, written);
}

ViStatus InstrumentSession::flush(ViUInt16 mask)
{
    constexpr ViUInt16 known = VI_READ_BUF | VI_WRITE_BUF | VI_READ_BUF_DISCARD |
                               VI_WRITE_BUF_DISCARD | VI_IO_IN_BUF | VI_IO_OUT_BUF |
                               VI_IO_IN_BUF_DISCARD | VI_IO_OUT_BUF_DISCARD;
    // Two actions on one buffer in a call are not allowed.
    const auto both = [mask](ViUInt16 a, ViUInt16 b) {
        return (mask & a) && (mask & b);
    };
    if (mask == 0 || (mask & ~known) || both(VI_READ_BUF, VI_READ_BUF_DISCARD) ||
        both(VI_WRITE_BUF, VI_WRITE_BUF_DISCARD) || both(VI_IO_IN_BUF, VI_IO_IN_BUF_DISCARD) ||
        both(VI_IO_OUT_BUF, VI_IO_OUT_BUF_DISCARD))
        return VI_ERROR_INV_MASK;
    if (!mayAccess())
        return VI_ERROR_RSRC_LOCKED;
    // Writes are never buffered here, so only the bytes read ahead go.
    std::lock_guard<std::mutex> lock(mutex);
    if (mask & (VI_READ_BUF | VI_READ_BUF_DISCARD | VI_IO_IN_BUF | VI_IO_IN_BUF_DISCARD))
        input = InputBuffer();
    return VI_SUCCESS;
}

ViStatus InstrumentSession::controlRemote(ViUInt16 mode)
{
    if (mode > VI_GPIB_REN_ADDRESS_GTL)
        return VI_ERROR_INV_MODE;
    if (!mayAccess())
        return VI_ERROR_RSRC_LOCKED;
    std::lock_guard<std::mutex> lock(mutex);
    return transport->controlRemote(mode, Deadline(timeoutMs));
}

ViStatus InstrumentSession::lock(ViAccessMode type, ViUInt32 lockTimeoutMs,
                                 const char *requestedKey, std::string &accessKey)
{
    if (type != VI_EXCLUSIVE_LOCK && type != VI_SHARED_LOCK)
        return VI_ERROR_INV_LOCK_TYPE;
    if (requestedKey != nullptr && std::strlen(requestedKey) >= VI_FIND_BUFLEN)
        return VI_ERROR_INV_ACCESS_KEY;
    const Deadline deadline(lockTimeoutMs);
    LockTable &table = LockTable::instance();
    const ViStatus status =
        table.lock(name.canonical, this, type, lockTimeoutMs, requestedKey, accessKey);
    if (status != VI_SUCCESS || type != VI_EXCLUSIVE_LOCK)
        return status;
    // The first exclusive level also takes the instrument's own lock, with
    // what is left of the time.
    std::lock_guard<std::mutex> guard(mutex);
    const ViStatus link = transport->lockExclusive(deadline);
    if (link != VI_SUCCESS) {
        bool ended = false;
        table.unlock(name.canonical, this, ended);
        return link;
    }
    return VI_SUCCESS;
}

ViStatus InstrumentSession::unlock()
{
    bool exclusiveEnded = false;
    const ViStatus status = LockTable::instance().unlock(name.canonical, this, exclusiveEnded);
    if (!exclusiveEnded)
        return status;
    std::lock_guard<std::mutex> guard(mutex);
    const ViStatus link = transport->unlock(Deadline(timeoutMs));
    return link == VI_SUCCESS ? status : link;
}

const char *InstrumentSession::stringAttribute(ViAttr attribute) const
{
    switch (attribute) {
    case VI_ATTR_RSRC_NAME:
        return name.canonical.c_str();
    case VI_ATTR_RSRC_CLASS:
        return name.kind == ResourceName::Kind::TcpipSocket ? "SOCKET" : "INSTR";
    case VI_ATTR_TCPIP_ADDR:
        return name.interfaceType() == VI_INTF_TCPIP ? name.host.c_str() : nullptr;
    case VI_ATTR_TCPIP_HOSTNAME:
        // The name the resource was opened by; none (no reverse lookup,
        // which can block for seconds) when it was opened by address.
        if (name.interfaceType() != VI_INTF_TCPIP)
            return nullptr;
        return isNumericHost(name.host) ? "" : name.host.c_str();
    case VI_ATTR_TCPIP_DEVICE_NAME:
        return name.kind == ResourceName::Kind::Vxi11 ? name.deviceName.c_str() : nullptr;
    case VI_ATTR_USB_SERIAL_NUM:
        return name.kind == ResourceName::Kind::UsbTmc ? name.serialNumber.c_str() : nullptr;
    default:
        return nullptr;
    }
}

} // namespace visa
