#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace visa {

// Decodes XDR words and opaque data from a received record. Reading past
// the end, or an opaque longer than allowed, makes ok() false; every later
// value is then zero or empty.
class XdrReader
{
public:
    XdrReader(const std::uint8_t *data, std::size_t size) : data(data), size(size) {}
    explicit XdrReader(const std::vector<std::uint8_t> &bytes)
        : XdrReader(bytes.data(), bytes.size())
    {}

    std::uint32_t getUint();
    std::int32_t getInt() { return static_cast<std::int32_t>(getUint()); }
    std::vector<std::uint8_t> getOpaque(std::size_t maxLength);
    void skip(std::size_t count);
    bool ok() const { return good; }
    // The bytes not read yet.
    std::vector<std::uint8_t> rest() const;

private:
    const std::uint8_t *data;
    std::size_t size;
    std::size_t offset = 0;
    bool good = true;
};

} // namespace visa
