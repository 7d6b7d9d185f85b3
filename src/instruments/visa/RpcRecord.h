#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace visa {

// Cuts the bytes of an ONC RPC stream into records (RFC 5531 record
// marking: fragments behind a 4-byte mark, the last one flagged). It never
// holds more than one record of at most `recordLimit` bytes and the last
// piece appended: a record that would grow past the limit is refused.
class RpcRecordReader
{
public:
    enum class Result
    {
        Record,   // `record` holds the next whole record
        NeedMore, // no whole record yet
        Invalid,  // a record over the limit: the stream is lost
    };

    explicit RpcRecordReader(std::size_t recordLimit) : limit(recordLimit) {}

    void append(const std::uint8_t *data, std::size_t count);
    Result next(std::vector<std::uint8_t> &record);
    void clear();

private:
    std::size_t limit;
    std::vector<std::uint8_t> pending;   // received, not yet a whole fragment
    std::vector<std::uint8_t> fragments; // fragments of the record being read
};

// The reply to one ONC RPC call, taken from a whole record.
struct RpcReply
{
    enum class Kind
    {
        Accepted,  // `results` holds the procedure's results
        OtherCall, // a reply to another transaction: the late answer to an earlier call
        Refused,   // denied, or accepted without success (no such program, procedure…)
        Malformed, // not an RPC reply at all
    };

    static Kind parse(const std::vector<std::uint8_t> &record, std::uint32_t xid,
                      std::vector<std::uint8_t> &results);
    static Kind parse(const std::uint8_t *data, std::size_t size, std::uint32_t xid,
                      std::vector<std::uint8_t> &results);
};

} // namespace visa
