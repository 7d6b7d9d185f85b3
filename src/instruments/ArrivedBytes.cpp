#include "instruments/ArrivedBytes.h"

#include <QElapsedTimer>

ArrivedBytes ArrivedBytes::take(ViSession vi, qsizetype keep)
{
    ArrivedBytes arrived;
    ViUInt32 timeout = 0;
    if (viGetAttribute(vi, VI_ATTR_TMO_VALUE, &timeout) != VI_SUCCESS)
        return arrived;
    viSetAttribute(vi, VI_ATTR_TMO_VALUE, VI_TMO_IMMEDIATE);
    QElapsedTimer taking;
    taking.start();
    for (;;) {
        char chunk[256];
        ViUInt32 count = 0;
        const ViStatus status = viRead(vi, reinterpret_cast<ViPBuf>(chunk), sizeof chunk, &count);
        if (arrived.bytes.size() < keep)
            arrived.bytes.append(chunk, qMin(qsizetype(count), keep - arrived.bytes.size()));
        arrived.connectionLost = status == VI_ERROR_CONN_LOST;
        if (status < VI_SUCCESS || count == 0 || taking.elapsed() > 100)
            break;
    }
    viSetAttribute(vi, VI_ATTR_TMO_VALUE, timeout);
    return arrived;
}
