// A stand-in for linux-gpib's libgpib, built only for the tests. Board 0
// holds an instrument at primary address 5 that answers "*IDN?" and echoes
// other queries; nothing listens at any other address; board 1 does not
// exist. Functions named stub_* let a test see what the library was asked.

#include <cstring>
#include <string>

namespace {

constexpr int Err = 0x8000;
constexpr int Timo = 0x4000;
constexpr int End = 0x2000;
constexpr int Cmpl = 0x100;
constexpr int Enol = 2;
constexpr int Eabo = 6;
constexpr int Edvr = 0;
constexpr int Reos = 0x400;

struct Device
{
    int pad = 0;
    int eos = 0;
    bool online = false;
    std::string reply;
};

Device devices[16];
int deviceCount = 0;
int lastSad = -1;
int lastTimeout = -1;
int lastEot = -1;
int offlineCalls = 0;
std::string written;

int status = 0;
int error = 0;
long count = 0;

int finish(int bits, int code, long bytes)
{
    status = bits | Cmpl;
    error = code;
    count = bytes;
    return status;
}

Device *find(int ud)
{
    return ud >= 0 && ud < deviceCount && devices[ud].online ? &devices[ud] : nullptr;
}

} // namespace

extern "C" {

int ThreadIbsta()
{
    return status;
}
int ThreadIberr()
{
    return error;
}
long ThreadIbcntl()
{
    return count;
}

int ibdev(int board, int pad, int sad, int timeout, int eot, int eos)
{
    lastSad = sad;
    lastTimeout = timeout;
    lastEot = eot;
    if (board != 0 || deviceCount == 16) {
        finish(Err, Edvr, 0);
        return -1;
    }
    devices[deviceCount] = Device{pad, eos, true, std::string()};
    finish(0, 0, 0);
    return deviceCount++;
}

int ibonl(int ud, int online)
{
    if (Device *device = find(ud)) {
        if (online == 0) {
            device->online = false;
            ++offlineCalls;
        }
        return finish(0, 0, 0);
    }
    return finish(Err, Edvr, 0);
}

int ibtmo(int ud, int timeout)
{
    lastTimeout = timeout;
    return find(ud) ? finish(0, 0, 0) : finish(Err, Edvr, 0);
}

int ibeot(int ud, int eot)
{
    lastEot = eot;
    return find(ud) ? finish(0, 0, 0) : finish(Err, Edvr, 0);
}

int ibeos(int ud, int eos)
{
    Device *device = find(ud);
    if (device == nullptr)
        return finish(Err, Edvr, 0);
    device->eos = eos;
    return finish(0, 0, 0);
}

int ibwrt(int ud, const void *data, long bytes)
{
    Device *device = find(ud);
    if (device == nullptr)
        return finish(Err, Edvr, 0);
    if (device->pad != 5)
        return finish(Err, Enol, 0);
    const std::string command(static_cast<const char *>(data), std::size_t(bytes));
    written += command;
    if (command == "*IDN?\n")
        device->reply = "STUB,GPIB,5,1.0\n";
    else if (command.size() >= 2 && command.compare(command.size() - 2, 2, "?\n") == 0)
        device->reply = "REPLY:" + command;
    return finish(0, 0, bytes);
}

int ibrd(int ud, void *buffer, long bytes)
{
    Device *device = find(ud);
    if (device == nullptr)
        return finish(Err, Edvr, 0);
    if (device->reply.empty())
        return finish(Err | Timo, Eabo, 0); // no talker: the read times out
    std::size_t n = std::min(std::size_t(bytes), device->reply.size());
    bool end = false;
    if (device->eos & Reos) {
        const std::size_t at = device->reply.find(char(device->eos & 0xFF));
        if (at != std::string::npos && at < n) {
            n = at + 1;
            end = true;
        }
    }
    std::memcpy(buffer, device->reply.data(), n);
    device->reply.erase(0, n);
    end = end || device->reply.empty(); // EOI on the last byte
    return finish(end ? End : 0, 0, long(n));
}

int stub_last_timeout()
{
    return lastTimeout;
}
int stub_last_sad()
{
    return lastSad;
}
int stub_last_eot()
{
    return lastEot;
}
int stub_offline_calls()
{
    return offlineCalls;
}
const char *stub_written()
{
    return written.c_str();
}

} // extern "C"
