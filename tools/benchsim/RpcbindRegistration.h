#pragma once

#include <QString>

// The VXI-11 core channel of one simulated instrument in the system's
// rpcbind on 127.0.0.1 port 111 (port mapper version 2 over TCP), so that
// standard clients find it by "TCPIP::127.0.0.1::inst0::INSTR". rpcbind takes
// such registrations from local callers without root. One program number
// has one entry: an entry whose port nobody listens on any more is stale
// (a simulator that was killed) and replaced; a live one is left alone.
class RpcbindRegistration
{
public:
    RpcbindRegistration() = default;
    ~RpcbindRegistration();
    RpcbindRegistration(const RpcbindRegistration &) = delete;
    RpcbindRegistration &operator=(const RpcbindRegistration &) = delete;

    // True when the program now leads to `port`; false when no rpcbind
    // answers or the entry belongs to a live server (`why` says which).
    bool registerPort(quint32 program, quint32 version, quint16 port, QString *why = nullptr);
    // Removes the entry, if it is still ours.
    void unregister();
    bool isRegistered() const { return registeredPort != 0; }

private:
    quint32 program = 0;
    quint32 version = 0;
    quint16 registeredPort = 0;
};
