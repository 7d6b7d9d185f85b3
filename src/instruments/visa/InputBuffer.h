#pragma once

#include "instruments/visa/visa.h"

#include <cstddef>
#include <deque>
#include <string>

namespace visa {

// Bytes received from an instrument and not yet handed to a reader, with the
// places where the transport reported END (end of message).
class InputBuffer
{
public:
    void append(const char *data, std::size_t count, bool endAfter = false);
    std::size_t size() const { return bytes.size(); }
    unsigned char at(std::size_t index) const { return static_cast<unsigned char>(bytes[index]); }
    // True when END was reported right after the byte at `index`.
    bool endAfter(std::size_t index) const;
    // Moves the first `count` bytes to `out` and forgets them.
    void take(std::size_t count, ViByte *out);

private:
    std::string bytes;
    std::deque<std::size_t> endOffsets; // byte counts after which END came, ascending
};

} // namespace visa
