#include "instruments/visa/GpibLibrary.h"

#include "instruments/visa/LibraryConfig.h"

#include <dlfcn.h>
#include <map>
#include <memory>
#include <mutex>

namespace visa {

namespace {

template <typename Function> bool resolve(void *handle, const char *name, Function &function)
{
    function = reinterpret_cast<Function>(::dlsym(handle, name));
    return function != nullptr;
}

} // namespace

const GpibLibrary *GpibLibrary::load()
{
    static std::mutex mutex;
    static std::map<std::string, std::unique_ptr<GpibLibrary>> loaded;
    std::lock_guard<std::mutex> lock(mutex);

    const std::string path = LibraryConfig::gpibLibrary();
    const auto found = loaded.find(path);
    if (found != loaded.end())
        return found->second.get();

    // Once loaded, the library stays: sessions may still use it.
    void *handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    auto library = std::make_unique<GpibLibrary>();
    const bool complete =
        handle != nullptr && resolve(handle, "ibdev", library->ibdev) &&
        resolve(handle, "ibonl", library->ibonl) && resolve(handle, "ibwrt", library->ibwrt) &&
        resolve(handle, "ibrd", library->ibrd) && resolve(handle, "ibtmo", library->ibtmo) &&
        resolve(handle, "ibeos", library->ibeos) && resolve(handle, "ibeot", library->ibeot);
    if (complete) {
        resolve(handle, "ibclr", library->ibclr);
        resolve(handle, "ibrsp", library->ibrsp);
        resolve(handle, "ibtrg", library->ibtrg);
        // Per-thread status where the library has it, else its globals.
        resolve(handle, "ThreadIbsta", library->threadIbsta);
        resolve(handle, "ThreadIberr", library->threadIberr);
        resolve(handle, "ThreadIbcntl", library->threadIbcntl);
        resolve(handle, "ibsta", library->globalIbsta);
        resolve(handle, "iberr", library->globalIberr);
        resolve(handle, "ibcntl", library->globalIbcntl);
    }
    // Nothing is printed here: the drivers' own log is the program's output,
    // and the status (VI_ERROR_LIBRARY_NFOUND) says what is missing.
    if (!complete || (library->threadIbcntl == nullptr && library->globalIbcntl == nullptr)) {
        if (handle != nullptr)
            ::dlclose(handle);
        return nullptr;
    }
    return loaded.emplace(path, std::move(library)).first->second.get();
}

int GpibLibrary::status() const
{
    if (threadIbsta != nullptr)
        return threadIbsta();
    return globalIbsta != nullptr ? *globalIbsta : 0;
}

int GpibLibrary::error() const
{
    if (threadIberr != nullptr)
        return threadIberr();
    return globalIberr != nullptr ? *globalIberr : 0;
}

long GpibLibrary::count() const
{
    if (threadIbcntl != nullptr)
        return threadIbcntl();
    return globalIbcntl != nullptr ? *globalIbcntl : 0;
}

int GpibLibrary::timeoutCode(unsigned long ms)
{
    // T10us (1) ... T1000s (17), in microseconds; TNONE (0) waits for ever.
    static const unsigned long long steps[] = {
        10,     30,      100,     300,      1000,     3000,      10000,     30000,     100000,
        300000, 1000000, 3000000, 10000000, 30000000, 100000000, 300000000, 1000000000};
    const unsigned long long us = static_cast<unsigned long long>(ms) * 1000;
    for (int i = 0; i < 17; ++i) {
        if (steps[i] >= us)
            return i + 1;
    }
    return 17; // the longest step there is
}

} // namespace visa
