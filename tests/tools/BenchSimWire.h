#pragma once

// benchsim's wire formats written out by hand for the tests, so that no
// protocol code of the simulator or of the VISA library stands between a
// test and the bytes: XDR words and opaque data, an ONC RPC call to the
// VXI-11 core program with its record mark, and a HiSLIP message.

#include <QByteArray>
#include <QtEndian>

#include <initializer_list>

namespace benchsimwire {

inline QByteArray words(std::initializer_list<quint32> values)
{
    QByteArray bytes;
    for (quint32 value : values) {
        char be[4];
        qToBigEndian(value, be);
        bytes.append(be, 4);
    }
    return bytes;
}

inline QByteArray opaque(const QByteArray &data)
{
    return words({quint32(data.size())}) + data + QByteArray((4 - data.size() % 4) % 4, '\0');
}

// The `index`th word of `bytes`, all ones past the end.
inline quint32 word(const QByteArray &bytes, int index)
{
    return bytes.size() >= 4 * (index + 1) ? qFromBigEndian<quint32>(bytes.constData() + 4 * index)
                                           : 0xFFFFFFFFu;
}

// A call of `procedure` of the VXI-11 core program (AUTH_NONE), record mark first.
inline QByteArray vxi11Call(quint32 xid, quint32 procedure, const QByteArray &arguments)
{
    const QByteArray call = words({xid, 0, 2, 0x0607AF, 1, procedure, 0, 0, 0, 0}) + arguments;
    return words({0x80000000u | quint32(call.size())}) + call;
}

inline QByteArray hislipMessage(quint8 type, quint8 control, quint32 parameter,
                                const QByteArray &payload = {})
{
    QByteArray header("HS", 2);
    header.append(char(type)).append(char(control));
    return header + words({parameter, 0, quint32(payload.size())}) + payload;
}

} // namespace benchsimwire
