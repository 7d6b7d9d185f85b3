#pragma once

#include "visa/visa.h"

#include <QByteArray>
#include <QPair>
#include <QString>

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
    QPair<ViStatus, QByteArray> read(ViUInt32 count = 200)
    {
        QByteArray buffer(int(count), '\0');
        ViUInt32 returned = 0;
        const ViStatus result =
            viRead(vi, reinterpret_cast<ViPBuf>(buffer.data()), count, &returned);
        return {result, buffer.left(int(returned))};
    }

    ViSession rm = VI_NULL;
    ViSession vi = VI_NULL;
    ViStatus status = VI_SUCCESS;
};
