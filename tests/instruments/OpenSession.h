#pragma once

#include "instruments/visa/SessionTable.h"
#include "instruments/visa/visa.h"
#include "tests/support/LoopbackPort.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

using Read = QPair<ViStatus, QByteArray>;

// Sessions and managers open in this process.
inline std::size_t openHandles()
{
    return visa::SessionTable::instance().openCount();
}

// A SOCKET resource whose connections the kernel takes and nobody accepts:
// sessions open on it, and no reply ever comes. One listener per process.
inline QByteArray unansweredSocket()
{
    static const quint16 port = [] {
        quint16 listening = 0;
        loopbackListener(1024, &listening);
        return listening;
    }();
    return QString("TCPIP0::127.0.0.1::%1::SOCKET").arg(port).toUtf8();
}

// A resource manager and one instrument session on `resource`, closed again
// at the end of the scope; `timeoutMs` other than 0 sets the I/O timeout.
class OpenSession
{
public:
    explicit OpenSession(const QString &resource, ViUInt32 timeoutMs = 0)
    {
        viOpenDefaultRM(&rm);
        status = viOpen(rm, resource.toUtf8().constData(), VI_NULL, 2000, &vi);
        if (status == VI_SUCCESS && timeoutMs != 0)
            viSetAttribute(vi, VI_ATTR_TMO_VALUE, timeoutMs);
    }
    // The manager alone, for a session made by other means.
    OpenSession() { viOpenDefaultRM(&rm); }
    ~OpenSession()
    {
        viClose(vi);
        viClose(rm);
    }
    OpenSession(const OpenSession &) = delete;
    OpenSession &operator=(const OpenSession &) = delete;

    // All bytes in one call; a short write counts as an I/O error.
    ViStatus write(const QByteArray &bytes)
    {
        ViUInt32 written = 0;
        const ViStatus result = viWrite(vi, reinterpret_cast<ViConstBuf>(bytes.constData()),
                                        ViUInt32(bytes.size()), &written);
        return result == VI_SUCCESS && written != ViUInt32(bytes.size()) ? VI_ERROR_IO : result;
    }
    // One viRead of at most `count` bytes; a byte stored past the count
    // returned is an error of its own.
    Read read(ViUInt32 count = 200)
    {
        QByteArray buffer(int(count) + 64, '\xAA');
        ViUInt32 returned = count + 1;
        const ViStatus result =
            viRead(vi, reinterpret_cast<ViPBuf>(buffer.data()), count, &returned);
        if (returned > count ||
            buffer.mid(int(returned)) != QByteArray(buffer.size() - int(returned), '\xAA'))
            return {VI_ERROR_SYSTEM_ERROR, "stored past the count returned"};
        return {result, buffer.left(int(returned))};
    }

    ViSession rm = VI_NULL;
    ViSession vi = VI_NULL;
    ViStatus status = VI_SUCCESS;
};
