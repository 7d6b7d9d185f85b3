// The ONC RPC side of the VXI-11 client on the bytes of a hostile server:
// record marking cut into records within the limit, each the concatenation
// of its fragments as they came, and each record read as a reply to the
// call the input names. An accepted reply's results are the record's tail.
#include "fuzz/FuzzCheck.h"
#include "instruments/visa/RpcRecord.h"

#include <cstdint>
#include <vector>

using visa::RpcRecordReader;
using visa::RpcReply;

static std::uint32_t word(const std::uint8_t *p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 6)
        return 0;
    // The first four bytes are the transaction id asked for, the next the
    // record limit and the piece size.
    const std::uint32_t xid = word(data);
    const std::size_t limit = data[4];
    const std::size_t piece = 1 + data[5] % 32;
    const std::vector<std::uint8_t> stream(data + 6, data + size);

    // The records the marks announce, worked out here on their own.
    std::vector<std::vector<std::uint8_t>> expected;
    std::vector<std::uint8_t> current;
    for (std::size_t at = 0; at + 4 <= stream.size();) {
        const std::uint32_t mark = word(&stream[at]);
        const std::size_t length = mark & 0x7FFFFFFF;
        if (length > stream.size() - at - 4)
            break;
        current.insert(current.end(), stream.begin() + std::ptrdiff_t(at + 4),
                       stream.begin() + std::ptrdiff_t(at + 4 + length));
        at += 4 + length;
        if (mark & 0x80000000u) {
            expected.push_back(current);
            current.clear();
        }
    }

    RpcRecordReader reader(limit);
    std::size_t records = 0;
    for (std::size_t appended = 0; appended < stream.size();) {
        const std::size_t count = std::min(piece, stream.size() - appended);
        reader.append(stream.data() + appended, count);
        appended += count;
        std::vector<std::uint8_t> record;
        RpcRecordReader::Result result;
        while ((result = reader.next(record)) == RpcRecordReader::Result::Record) {
            FUZZ_CHECK(record.size() <= limit);
            FUZZ_CHECK(records < expected.size() && record == expected[records]);
            ++records;
            std::vector<std::uint8_t> results;
            const RpcReply::Kind kind = RpcReply::parse(record, xid, results);
            if (kind == RpcReply::Kind::Accepted) {
                FUZZ_CHECK(record.size() >= 24 + results.size());
                FUZZ_CHECK(std::equal(results.begin(), results.end(),
                                      record.end() - std::ptrdiff_t(results.size())));
            }
            if (kind == RpcReply::Kind::OtherCall)
                FUZZ_CHECK(word(record.data()) != xid);
        }
        if (result == RpcRecordReader::Result::Invalid)
            return 0;
    }
    return 0;
}
