#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

namespace visa {

// The names a viFindRsrc call found beyond the first, handed out one by one
// by viFindNext.
class FindList
{
public:
    explicit FindList(std::vector<std::string> names) : names(std::move(names)) {}

    // The next name; false once all were handed out.
    bool next(std::string &name)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (position >= names.size())
            return false;
        name = names[position++];
        return true;
    }

private:
    std::mutex mutex;
    const std::vector<std::string> names;
    std::size_t position = 0;
};

} // namespace visa
