#include "instruments/visa/SessionTable.h"

#include <vector>

namespace visa {

SessionTable &SessionTable::instance()
{
    static SessionTable table;
    return table;
}

ViObject SessionTable::takeHandle()
{
    if (nextHandle == VI_NULL) // wrapped after 2^32 opens; skip the null handle
        ++nextHandle;
    return nextHandle++;
}

ViObject SessionTable::add(Entry entry)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (entry.manager != VI_NULL) {
        const auto owner = entries.find(entry.manager);
        if (owner == entries.end() || owner->second.manager != VI_NULL)
            return VI_NULL;
    }
    const ViObject handle = takeHandle();
    entries.emplace(handle, std::move(entry));
    return handle;
}

ViSession SessionTable::addResourceManager()
{
    return add(Entry());
}

ViSession SessionTable::addInstrument(ViSession manager, std::shared_ptr<InstrumentSession> session)
{
    Entry entry;
    entry.manager = manager;
    entry.instrument = std::move(session);
    return manager == VI_NULL ? VI_NULL : add(std::move(entry));
}

ViFindList SessionTable::addFindList(ViSession manager, std::shared_ptr<FindList> list)
{
    Entry entry;
    entry.manager = manager;
    entry.findList = std::move(list);
    return manager == VI_NULL ? VI_NULL : add(std::move(entry));
}

std::shared_ptr<FindList> SessionTable::findList(ViFindList handle) const
{
    std::lock_guard<std::mutex> lock(mutex);
    const auto it = entries.find(handle);
    return it == entries.end() ? nullptr : it->second.findList;
}

bool SessionTable::isResourceManager(ViSession handle) const
{
    std::lock_guard<std::mutex> lock(mutex);
    const auto it = entries.find(handle);
    return it != entries.end() && it->second.manager == VI_NULL;
}

std::shared_ptr<InstrumentSession> SessionTable::instrument(ViSession handle) const
{
    std::lock_guard<std::mutex> lock(mutex);
    const auto it = entries.find(handle);
    return it == entries.end() ? nullptr : it->second.instrument;
}

bool SessionTable::contains(ViSession handle) const
{
    std::lock_guard<std::mutex> lock(mutex);
    return entries.count(handle) != 0;
}

bool SessionTable::setUserData(ViObject handle, ViAttrState value)
{
    std::lock_guard<std::mutex> lock(mutex);
    const auto it = entries.find(handle);
    if (it == entries.end())
        return false;
    it->second.userData = value;
    return true;
}

bool SessionTable::userData(ViObject handle, ViAttrState &value) const
{
    std::lock_guard<std::mutex> lock(mutex);
    const auto it = entries.find(handle);
    if (it == entries.end())
        return false;
    value = it->second.userData;
    return true;
}

ViStatus SessionTable::close(ViObject handle)
{
    if (handle == VI_NULL)
        return VI_WARN_NULL_OBJECT;
    std::vector<Entry> closed;
    {
        std::lock_guard<std::mutex> lock(mutex);
        const auto it = entries.find(handle);
        if (it == entries.end())
            return VI_ERROR_INV_OBJECT;
        const bool manager = it->second.manager == VI_NULL;
        // All or nothing: the room is taken before anything is removed.
        std::size_t owned = 0;
        for (const auto &entry : entries)
            owned += manager && entry.second.manager == handle ? 1 : 0;
        closed.reserve(owned + 1);
        closed.push_back(std::move(it->second));
        entries.erase(it);
        for (auto entry = entries.begin(); owned > 0 && entry != entries.end();) {
            if (entry->second.manager != handle) {
                ++entry;
                continue;
            }
            closed.push_back(std::move(entry->second));
            entry = entries.erase(entry);
        }
    }
    // The links are shut down here, outside the lock, once no call uses them.
    closed.clear();
    return VI_SUCCESS;
}

std::size_t SessionTable::openCount() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return entries.size();
}

} // namespace visa
