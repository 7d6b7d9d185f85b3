#include "instruments/visa/SessionTable.h"

namespace visa {

SessionTable &SessionTable::instance()
{
    static SessionTable table;
    return table;
}

ViSession SessionTable::takeHandle()
{
    if (nextHandle == VI_NULL) // wrapped after 2^32 opens; skip the null handle
        ++nextHandle;
    return nextHandle++;
}

ViSession SessionTable::addEntry(std::shared_ptr<InstrumentSession> session)
{
    std::lock_guard<std::mutex> lock(mutex);
    const ViSession handle = takeHandle();
    entries.emplace(handle, std::move(session));
    return handle;
}

ViFindList SessionTable::addFindList(std::shared_ptr<FindList> list)
{
    std::lock_guard<std::mutex> lock(mutex);
    const ViFindList handle = takeHandle();
    findLists.emplace(handle, std::move(list));
    return handle;
}

std::shared_ptr<FindList> SessionTable::findList(ViFindList handle) const
{
    std::lock_guard<std::mutex> lock(mutex);
    const auto it = findLists.find(handle);
    return it == findLists.end() ? nullptr : it->second;
}

ViSession SessionTable::addResourceManager()
{
    return addEntry(nullptr);
}

ViSession SessionTable::addInstrument(std::shared_ptr<InstrumentSession> session)
{
    return addEntry(std::move(session));
}

bool SessionTable::isResourceManager(ViSession handle) const
{
    std::lock_guard<std::mutex> lock(mutex);
    const auto it = entries.find(handle);
    return it != entries.end() && !it->second;
}

std::shared_ptr<InstrumentSession> SessionTable::instrument(ViSession handle) const
{
    std::lock_guard<std::mutex> lock(mutex);
    const auto it = entries.find(handle);
    return it == entries.end() ? nullptr : it->second;
}

bool SessionTable::contains(ViSession handle) const
{
    std::lock_guard<std::mutex> lock(mutex);
    return entries.count(handle) != 0 || findLists.count(handle) != 0;
}

ViStatus SessionTable::close(ViSession handle)
{
    if (handle == VI_NULL)
        return VI_WARN_NULL_OBJECT;
    std::shared_ptr<InstrumentSession> session;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (findLists.erase(handle) != 0)
            return VI_SUCCESS;
        const auto it = entries.find(handle);
        if (it == entries.end())
            return VI_ERROR_INV_OBJECT;
        session = std::move(it->second);
        entries.erase(it);
    }
    // The link is shut down here, outside the lock, once no call uses it.
    session.reset();
    return VI_SUCCESS;
}

std::size_t SessionTable::openCount() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return entries.size() + findLists.size();
}

} // namespace visa
