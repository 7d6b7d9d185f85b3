#include "instruments/visa/ResourceName.h"

#include <arpa/inet.h>

#include <cctype>
#include <cstdio>
#include <vector>

namespace visa {

namespace {

bool equalsNoCase(const std::string &a, const char *b)
{
    std::size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return i == a.size() && b[i] == '\0';
}

bool startsWithNoCase(const std::string &text, const char *prefix)
{
    std::size_t i = 0;
    for (; prefix[i] != '\0'; ++i) {
        if (i >= text.size() || std::tolower(static_cast<unsigned char>(text[i])) !=
                                    std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    }
    return true;
}

// Splits at "::", except inside a bracketed IPv6 address.
bool splitTokens(const std::string &text, std::vector<std::string> &tokens)
{
    std::string current;
    bool inBrackets = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '[') {
            if (inBrackets)
                return false;
            inBrackets = true;
        } else if (c == ']') {
            if (!inBrackets)
                return false;
            inBrackets = false;
        } else if (!inBrackets && c == ':' && i + 1 < text.size() && text[i + 1] == ':') {
            tokens.push_back(current);
            current.clear();
            ++i;
            continue;
        }
        current += c;
    }
    if (inBrackets)
        return false;
    tokens.push_back(current);
    return true;
}

bool parseDecimal(const std::string &text, unsigned long max, unsigned long &value)
{
    if (text.empty() || text.size() > 10)
        return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    return value <= max;
}

// USB ids are hexadecimal with a "0x" prefix or decimal without one.
bool parseUsbNumber(const std::string &text, std::uint16_t &value)
{
    unsigned long v = 0;
    if (startsWithNoCase(text, "0x")) {
        const std::string digits = text.substr(2);
        if (digits.empty() || digits.size() > 4)
            return false;
        for (char c : digits) {
            if (!std::isxdigit(static_cast<unsigned char>(c)))
                return false;
            const int digit = std::isdigit(static_cast<unsigned char>(c))
                                  ? c - '0'
                                  : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
            v = v * 16 + static_cast<unsigned long>(digit);
        }
    } else if (!parseDecimal(text, 0xFFFF, v)) {
        return false;
    }
    value = static_cast<std::uint16_t>(v);
    return true;
}

bool isPrintableWord(const std::string &text)
{
    if (text.empty())
        return false;
    for (unsigned char c : text) {
        if (c <= ' ' || c == 0x7F)
            return false;
    }
    return true;
}

// A host is a name or dotted IPv4 address, or an IPv6 address in brackets
// (with an optional zone, "[fe80::1%eth0]"). Brackets are removed.
bool parseHost(const std::string &text, std::string &host)
{
    if (text.empty())
        return false;
    if (text.front() == '[') {
        if (text.size() < 3 || text.back() != ']')
            return false;
        host = text.substr(1, text.size() - 2);
        const std::string address = host.substr(0, host.find('%'));
        in6_addr parsed{};
        return inet_pton(AF_INET6, address.c_str(), &parsed) == 1;
    }
    for (unsigned char c : text) {
        if (!std::isalnum(c) && c != '.' && c != '-' && c != '_')
            return false;
    }
    host = text;
    return true;
}

std::string bracketed(const std::string &host)
{
    return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

bool parseBoard(const std::string &token, const char *interfaceName, unsigned &board)
{
    const std::string digits = token.substr(std::char_traits<char>::length(interfaceName));
    if (digits.empty()) {
        board = 0;
        return true;
    }
    unsigned long value = 0;
    if (!parseDecimal(digits, 65535, value))
        return false;
    board = static_cast<unsigned>(value);
    return true;
}

// Removes `resourceClass` from the end of `tokens` if it is there; the
// interface name alone is never taken for a class.
bool takeClass(std::vector<std::string> &tokens, const char *resourceClass)
{
    if (tokens.size() < 2 || !equalsNoCase(tokens.back(), resourceClass))
        return false;
    tokens.pop_back();
    return true;
}

// "KEYWORDn", e.g. "SLOT4".
bool parseKeyedNumber(const std::string &token, const char *keyword, unsigned long max, int &value)
{
    unsigned long number = 0;
    if (!startsWithNoCase(token, keyword) ||
        !parseDecimal(token.substr(std::char_traits<char>::length(keyword)), max, number))
        return false;
    value = static_cast<int>(number);
    return true;
}

bool parseNumber(const std::string &text, unsigned long max, int &value)
{
    unsigned long number = 0;
    if (!parseDecimal(text, max, number))
        return false;
    value = static_cast<int>(number);
    return true;
}

bool parseTcpip(std::vector<std::string> tokens, ResourceName &out)
{
    const std::string board = std::to_string(out.board);
    // Only the two-part name: "TCPIP0::host::SERVANT" stays a VXI-11 device name.
    if (tokens.size() == 2 && takeClass(tokens, "SERVANT")) {
        out.kind = ResourceName::Kind::TcpipServant;
        out.canonical = "TCPIP" + board + "::SERVANT";
        return true;
    }
    if (equalsNoCase(tokens.back(), "SOCKET")) {
        if (tokens.size() != 4)
            return false;
        unsigned long port = 0;
        if (!parseHost(tokens[1], out.host) || !parseDecimal(tokens[2], 65535, port) || port == 0)
            return false;
        out.kind = ResourceName::Kind::TcpipSocket;
        out.port = static_cast<std::uint16_t>(port);
        out.canonical =
            "TCPIP" + board + "::" + bracketed(out.host) + "::" + std::to_string(port) + "::SOCKET";
        return true;
    }
    takeClass(tokens, "INSTR");
    if (tokens.size() < 2 || tokens.size() > 3)
        return false;

    // "host,port" reaches the VXI-11 core channel without the port mapper.
    std::string hostText = tokens[1];
    const std::size_t bracketEnd = hostText.rfind(']');
    const std::size_t comma = hostText.rfind(',');
    if (comma != std::string::npos && (bracketEnd == std::string::npos || comma > bracketEnd)) {
        unsigned long port = 0;
        if (!parseDecimal(hostText.substr(comma + 1), 65535, port) || port == 0)
            return false;
        out.port = static_cast<std::uint16_t>(port);
        hostText.erase(comma);
    }
    if (!parseHost(hostText, out.host))
        return false;

    out.deviceName = tokens.size() == 3 ? tokens[2] : "inst0";
    if (!isPrintableWord(out.deviceName))
        return false;
    out.kind = startsWithNoCase(out.deviceName, "hislip") ? ResourceName::Kind::Hislip
                                                          : ResourceName::Kind::Vxi11;
    // HiSLIP gives its port after the sub-address: "hislip0,4880".
    const std::size_t subAddressEnd = out.deviceName.find(',');
    if (out.kind == ResourceName::Kind::Hislip && subAddressEnd != std::string::npos) {
        unsigned long port = 0;
        if (out.port != 0 || !parseDecimal(out.deviceName.substr(subAddressEnd + 1), 65535, port) ||
            port == 0)
            return false;
        out.port = static_cast<std::uint16_t>(port);
        out.deviceName.erase(subAddressEnd);
        out.canonical = "TCPIP" + board + "::" + bracketed(out.host) + "::" + out.deviceName + "," +
                        std::to_string(out.port) + "::INSTR";
        return true;
    }
    std::string host = bracketed(out.host);
    if (out.port != 0)
        host += "," + std::to_string(out.port);
    out.canonical = "TCPIP" + board + "::" + host + "::" + out.deviceName + "::INSTR";
    return true;
}

bool parseUsb(std::vector<std::string> tokens, ResourceName &out)
{
    const bool raw = takeClass(tokens, "RAW");
    if (!raw)
        takeClass(tokens, "INSTR");
    if (tokens.size() < 4 || tokens.size() > 5)
        return false;
    if (!parseUsbNumber(tokens[1], out.vendorId) || !parseUsbNumber(tokens[2], out.productId) ||
        !isPrintableWord(tokens[3]))
        return false;
    out.serialNumber = tokens[3];
    if (tokens.size() == 5 && !parseNumber(tokens[4], 255, out.usbInterface))
        return false;
    out.kind = raw ? ResourceName::Kind::UsbRaw : ResourceName::Kind::UsbTmc;
    char ids[32];
    std::snprintf(ids, sizeof ids, "0x%04X::0x%04X", out.vendorId, out.productId);
    out.canonical = "USB" + std::to_string(out.board) + "::" + ids + "::" + out.serialNumber;
    if (out.usbInterface >= 0)
        out.canonical += "::" + std::to_string(out.usbInterface);
    out.canonical += raw ? "::RAW" : "::INSTR";
    return true;
}

bool parseGpib(std::vector<std::string> tokens, ResourceName &out)
{
    const std::string prefix = "GPIB" + std::to_string(out.board);
    if (tokens.size() == 2 && takeClass(tokens, "INTFC")) {
        out.kind = ResourceName::Kind::GpibIntfc;
        out.canonical = prefix + "::INTFC";
        return true;
    }
    if (tokens.size() == 2 && takeClass(tokens, "SERVANT")) {
        out.kind = ResourceName::Kind::GpibServant;
        out.canonical = prefix + "::SERVANT";
        return true;
    }
    takeClass(tokens, "INSTR");
    if (tokens.size() < 2 || tokens.size() > 3)
        return false;
    unsigned long pad = 0;
    if (!parseDecimal(tokens[1], 30, pad))
        return false;
    out.primaryAddress = static_cast<unsigned>(pad);
    out.canonical = prefix + "::" + std::to_string(pad);
    if (tokens.size() == 3) {
        if (!parseNumber(tokens[2], 30, out.secondaryAddress))
            return false;
        out.canonical += "::" + std::to_string(out.secondaryAddress);
    }
    out.kind = ResourceName::Kind::Gpib;
    out.canonical += "::INSTR";
    return true;
}

// VXI and GPIB-VXI share their forms; only VXI has a SERVANT.
bool parseVxi(std::vector<std::string> tokens, bool throughGpib, ResourceName &out)
{
    using Kind = ResourceName::Kind;
    const std::string prefix = (throughGpib ? "GPIB-VXI" : "VXI") + std::to_string(out.board);
    if (tokens.size() == 2 && takeClass(tokens, "MEMACC")) {
        out.kind = throughGpib ? Kind::GpibVxiMemacc : Kind::VxiMemacc;
        out.canonical = prefix + "::MEMACC";
        return true;
    }
    if (!throughGpib && tokens.size() == 2 && takeClass(tokens, "SERVANT")) {
        out.kind = Kind::VxiServant;
        out.canonical = prefix + "::SERVANT";
        return true;
    }
    // A BACKPLANE's logical address is that of the mainframe, 0 unless given.
    const bool backplane = takeClass(tokens, "BACKPLANE");
    if (!backplane)
        takeClass(tokens, "INSTR");
    if (tokens.size() > 2 || (!backplane && tokens.size() != 2))
        return false;
    out.logicalAddress = 0;
    if (tokens.size() == 2 && !parseNumber(tokens[1], 255, out.logicalAddress))
        return false;
    if (backplane)
        out.kind = throughGpib ? Kind::GpibVxiBackplane : Kind::VxiBackplane;
    else
        out.kind = throughGpib ? Kind::GpibVxiInstr : Kind::VxiInstr;
    out.canonical = prefix + "::" + std::to_string(out.logicalAddress) +
                    (backplane ? "::BACKPLANE" : "::INSTR");
    return true;
}

bool parseGpibVxi(std::vector<std::string> tokens, ResourceName &out)
{
    return parseVxi(std::move(tokens), true, out);
}

bool parseVxiBus(std::vector<std::string> tokens, ResourceName &out)
{
    return parseVxi(std::move(tokens), false, out);
}

// PXI INSTR in its three spellings; the bus forms share one canonical one.
bool parsePxiInstr(const std::vector<std::string> &tokens, ResourceName &out)
{
    if (tokens.size() >= 3 && startsWithNoCase(tokens[1], "CHASSIS")) {
        if (tokens.size() > 4 || !parseKeyedNumber(tokens[1], "CHASSIS", 65535, out.pxiChassis) ||
            !parseKeyedNumber(tokens[2], "SLOT", 255, out.pxiSlot) ||
            (tokens.size() == 4 && !parseKeyedNumber(tokens[3], "FUNC", 7, out.pxiFunction)))
            return false;
    } else if (tokens.size() == 2 && tokens[1].find('-') != std::string::npos) {
        // bus-device[.function]
        const std::string &text = tokens[1];
        const std::size_t dash = text.find('-');
        const std::size_t dot = text.find('.', dash);
        const std::string device =
            text.substr(dash + 1, dot == std::string::npos ? std::string::npos : dot - dash - 1);
        if (!parseNumber(text.substr(0, dash), 255, out.pxiBus) ||
            !parseNumber(device, 31, out.pxiDevice) ||
            (dot != std::string::npos && !parseNumber(text.substr(dot + 1), 7, out.pxiFunction)))
            return false;
    } else {
        // PXI<bus>::device[::function] on interface 0.
        if (tokens.size() < 2 || tokens.size() > 3 || out.board > 255)
            return false;
        out.pxiBus = static_cast<int>(out.board);
        out.board = 0;
        if (!parseNumber(tokens[1], 31, out.pxiDevice) ||
            (tokens.size() == 3 && !parseNumber(tokens[2], 7, out.pxiFunction)))
            return false;
    }
    out.kind = ResourceName::Kind::PxiInstr;
    out.canonical = "PXI" + std::to_string(out.board) + "::";
    const std::string function = std::to_string(out.pxiFunction);
    if (out.pxiChassis >= 0) {
        out.canonical +=
            "CHASSIS" + std::to_string(out.pxiChassis) + "::SLOT" + std::to_string(out.pxiSlot);
        if (out.pxiFunction >= 0)
            out.canonical += "::FUNC" + function;
    } else {
        out.canonical += std::to_string(out.pxiBus) + "-" + std::to_string(out.pxiDevice);
        if (out.pxiFunction >= 0)
            out.canonical += "." + function;
    }
    out.canonical += "::INSTR";
    return true;
}

bool parsePxi(std::vector<std::string> tokens, ResourceName &out)
{
    const std::string prefix = "PXI" + std::to_string(out.board);
    if (tokens.size() == 2 && takeClass(tokens, "MEMACC")) {
        out.kind = ResourceName::Kind::PxiMemacc;
        out.canonical = prefix + "::MEMACC";
        return true;
    }
    if (takeClass(tokens, "BACKPLANE")) {
        if (tokens.size() != 2 || !parseNumber(tokens[1], 65535, out.pxiChassis))
            return false;
        out.kind = ResourceName::Kind::PxiBackplane;
        out.canonical = prefix + "::" + std::to_string(out.pxiChassis) + "::BACKPLANE";
        return true;
    }
    takeClass(tokens, "INSTR");
    return parsePxiInstr(tokens, out);
}

// ASRL1 is the first serial port, /dev/ttyS0; "ASRL/dev/ttyUSB0" names a node.
bool parseAsrl(std::vector<std::string> tokens, ResourceName &out)
{
    takeClass(tokens, "INSTR");
    if (tokens.size() != 1)
        return false;
    const std::string rest = tokens[0].substr(4);
    if (!rest.empty() && rest.front() == '/') {
        if (!isPrintableWord(rest))
            return false;
        out.devicePath = rest;
        out.canonical = "ASRL" + rest + "::INSTR";
    } else {
        unsigned long number = 0;
        if (!parseDecimal(rest, 65535, number) || number == 0)
            return false;
        out.board = static_cast<unsigned>(number);
        out.devicePath = "/dev/ttyS" + std::to_string(number - 1);
        out.canonical = "ASRL" + std::to_string(number) + "::INSTR";
    }
    out.kind = ResourceName::Kind::Asrl;
    return true;
}

} // namespace

ViStatus ResourceName::parse(const char *text, ResourceName &out)
{
    out = ResourceName();
    if (text == nullptr)
        return VI_ERROR_INV_RSRC_NAME;
    std::string name(text);
    const char *blanks = " \t\r\n";
    const std::size_t first = name.find_first_not_of(blanks);
    if (first == std::string::npos)
        return VI_ERROR_INV_RSRC_NAME;
    name = name.substr(first, name.find_last_not_of(blanks) - first + 1);

    std::vector<std::string> tokens;
    if (!splitTokens(name, tokens))
        return VI_ERROR_INV_RSRC_NAME;
    // A part that begins or ends in ':' touches a "::" ambiguously:
    // "ASRL/dev/x:::INSTR" could be cut after either colon pair.
    for (const std::string &token : tokens) {
        if (token.empty() || token.front() == ':' || token.back() == ':')
            return VI_ERROR_INV_RSRC_NAME;
    }

    // GPIB-VXI before GPIB: the longer name wins.
    struct Interface
    {
        const char *name;
        bool (*parse)(std::vector<std::string>, ResourceName &);
    };
    static const Interface interfaces[] = {
        {"TCPIP", parseTcpip}, {"USB", parseUsb},    {"GPIB-VXI", parseGpibVxi},
        {"GPIB", parseGpib},   {"VXI", parseVxiBus}, {"PXI", parsePxi},
    };
    const std::string &head = tokens[0];
    bool ok = false;
    if (startsWithNoCase(head, "ASRL")) {
        ok = parseAsrl(tokens, out);
    } else {
        for (const Interface &interface : interfaces) {
            if (startsWithNoCase(head, interface.name)) {
                ok = parseBoard(head, interface.name, out.board) && interface.parse(tokens, out);
                break;
            }
        }
    }
    if (!ok) {
        out = ResourceName();
        return VI_ERROR_INV_RSRC_NAME;
    }
    return VI_SUCCESS;
}

ViUInt16 ResourceName::interfaceType() const
{
    switch (kind) {
    case Kind::TcpipSocket:
    case Kind::Vxi11:
    case Kind::Hislip:
    case Kind::TcpipServant:
        return VI_INTF_TCPIP;
    case Kind::UsbTmc:
    case Kind::UsbRaw:
        return VI_INTF_USB;
    case Kind::Gpib:
    case Kind::GpibIntfc:
    case Kind::GpibServant:
        return VI_INTF_GPIB;
    case Kind::Asrl:
        return VI_INTF_ASRL;
    case Kind::GpibVxiInstr:
    case Kind::GpibVxiMemacc:
    case Kind::GpibVxiBackplane:
        return VI_INTF_GPIB_VXI;
    case Kind::VxiInstr:
    case Kind::VxiMemacc:
    case Kind::VxiBackplane:
    case Kind::VxiServant:
        return VI_INTF_VXI;
    case Kind::PxiInstr:
    case Kind::PxiMemacc:
    case Kind::PxiBackplane:
        return VI_INTF_PXI;
    }
    return 0;
}

const char *ResourceName::resourceClass() const
{
    switch (kind) {
    case Kind::TcpipSocket:
        return "SOCKET";
    case Kind::UsbRaw:
        return "RAW";
    case Kind::GpibIntfc:
        return "INTFC";
    case Kind::TcpipServant:
    case Kind::GpibServant:
    case Kind::VxiServant:
        return "SERVANT";
    case Kind::GpibVxiMemacc:
    case Kind::VxiMemacc:
    case Kind::PxiMemacc:
        return "MEMACC";
    case Kind::GpibVxiBackplane:
    case Kind::VxiBackplane:
    case Kind::PxiBackplane:
        return "BACKPLANE";
    default:
        return "INSTR";
    }
}

} // namespace visa
