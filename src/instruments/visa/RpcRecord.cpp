#include "instruments/visa/RpcRecord.h"

#include "instruments/visa/XdrReader.h"

namespace visa {

namespace {

constexpr std::uint32_t LastFragment = 0x80000000u;
constexpr std::size_t MarkSize = 4;
constexpr std::uint32_t Reply = 1;
constexpr std::uint32_t MessageAccepted = 0;
constexpr std::uint32_t Success = 0;
constexpr std::size_t MaxAuthBody = 400; // RFC 5531's limit on a verifier

} // namespace

void RpcRecordReader::append(const std::uint8_t *data, std::size_t count)
{
    pending.insert(pending.end(), data, data + count);
}

void RpcRecordReader::clear()
{
    pending.clear();
    fragments.clear();
}

RpcRecordReader::Result RpcRecordReader::next(std::vector<std::uint8_t> &record)
{
    for (;;) {
        if (pending.size() < MarkSize)
            return Result::NeedMore;
        XdrReader header(pending.data(), MarkSize);
        const std::uint32_t mark = header.getUint();
        const std::size_t length = mark & ~LastFragment;
        if (length > limit || fragments.size() + length > limit)
            return Result::Invalid;
        if (pending.size() - MarkSize < length)
            return Result::NeedMore;
        const auto begin = pending.begin() + std::ptrdiff_t(MarkSize);
        const auto end = begin + std::ptrdiff_t(length);
        fragments.insert(fragments.end(), begin, end);
        pending.erase(pending.begin(), end);
        if (mark & LastFragment) {
            record.swap(fragments);
            fragments.clear();
            return Result::Record;
        }
    }
}

RpcReply::Kind RpcReply::parse(const std::vector<std::uint8_t> &record, std::uint32_t xid,
                               std::vector<std::uint8_t> &results)
{
    return parse(record.data(), record.size(), xid, results);
}

RpcReply::Kind RpcReply::parse(const std::uint8_t *data, std::size_t size, std::uint32_t xid,
                               std::vector<std::uint8_t> &results)
{
    XdrReader reply(data, size);
    const std::uint32_t replyXid = reply.getUint();
    if (!reply.ok())
        return Kind::Malformed;
    if (replyXid != xid)
        return Kind::OtherCall;
    const std::uint32_t messageType = reply.getUint();
    const std::uint32_t replyStatus = reply.getUint();
    if (!reply.ok() || messageType != Reply)
        return Kind::Malformed;
    if (replyStatus != MessageAccepted)
        return Kind::Refused;
    reply.getUint();              // verifier flavour
    reply.getOpaque(MaxAuthBody); // verifier body
    const std::uint32_t acceptStatus = reply.getUint();
    if (!reply.ok())
        return Kind::Malformed;
    if (acceptStatus != Success)
        return Kind::Refused;
    results = reply.rest();
    return Kind::Accepted;
}

} // namespace visa
