#include "instruments/visa/InputBuffer.h"

#include <algorithm>
#include <cstring>

namespace visa {

void InputBuffer::append(const char *data, std::size_t count, bool endAfter)
{
    bytes.append(data, count);
    if (endAfter && !bytes.empty() && (endOffsets.empty() || endOffsets.back() != bytes.size()))
        endOffsets.push_back(bytes.size());
}

bool InputBuffer::endAfter(std::size_t index) const
{
    return std::find(endOffsets.begin(), endOffsets.end(), index + 1) != endOffsets.end();
}

void InputBuffer::take(std::size_t count, ViByte *out)
{
    count = std::min(count, bytes.size());
    if (count == 0)
        return;
    std::memcpy(out, bytes.data(), count);
    bytes.erase(0, count);
    while (!endOffsets.empty() && endOffsets.front() <= count)
        endOffsets.pop_front();
    for (std::size_t &offset : endOffsets)
        offset -= count;
}

} // namespace visa
