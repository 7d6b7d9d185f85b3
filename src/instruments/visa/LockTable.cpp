#include "instruments/visa/LockTable.h"

#include <chrono>

namespace visa {

LockTable &LockTable::instance()
{
    static LockTable *const table = new LockTable;
    return *table;
}

bool LockTable::grantable(const Holders &holders, Owner owner, ViAccessMode type,
                          const std::string &key) const
{
    if (holders.exclusiveOwner != nullptr && holders.exclusiveOwner != owner)
        return false;
    const bool othersShare = holders.shared.size() > 1 ||
                             (holders.shared.size() == 1 && holders.shared.begin()->first != owner);
    if (type == VI_EXCLUSIVE_LOCK)
        return !othersShare;
    return !othersShare || key == holders.sharedKey;
}

ViStatus LockTable::lock(const std::string &resource, Owner owner, ViAccessMode type,
                         ViUInt32 timeoutMs, const char *requestedKey, std::string &accessKey)
{
    std::unique_lock<std::mutex> guard(mutex);
    const auto held = resources.find(resource);
    std::string key;
    if (type == VI_SHARED_LOCK) {
        if (held != resources.end()) {
            Holders &holders = held->second;
            const auto own = holders.shared.find(owner);
            if (own != holders.shared.end()) {
                if (requestedKey != nullptr && holders.sharedKey != requestedKey)
                    return VI_ERROR_INV_ACCESS_KEY;
                ++own->second;
                accessKey = holders.sharedKey;
                return VI_SUCCESS_NESTED_SHARED;
            }
        }
        key = requestedKey != nullptr ? requestedKey : "shared-" + std::to_string(nextKey++);
    } else if (held != resources.end() && held->second.exclusiveOwner == owner) {
        ++held->second.exclusiveLevels;
        return VI_SUCCESS_NESTED_EXCLUSIVE;
    }

    // A resource has an entry only while somebody holds it.
    const auto ready = [&] {
        const auto it = resources.find(resource);
        return it == resources.end() || grantable(it->second, owner, type, key);
    };
    if (timeoutMs == VI_TMO_INFINITE)
        released.wait(guard, ready);
    else if (!released.wait_for(guard, std::chrono::milliseconds(timeoutMs), ready))
        return VI_ERROR_TMO;

    Holders &holders = resources[resource];
    if (type == VI_EXCLUSIVE_LOCK) {
        holders.exclusiveOwner = owner;
        holders.exclusiveLevels = 1;
    } else {
        holders.sharedKey = key;
        holders.shared[owner] = 1;
        accessKey = key;
    }
    lockedCount = resources.size();
    return VI_SUCCESS;
}

ViStatus LockTable::unlock(const std::string &resource, Owner owner, bool &exclusiveEnded)
{
    exclusiveEnded = false;
    std::lock_guard<std::mutex> guard(mutex);
    const auto it = resources.find(resource);
    if (it == resources.end())
        return VI_ERROR_SESN_NLOCKED;
    Holders &holders = it->second;
    const auto own = holders.shared.find(owner);
    if (holders.exclusiveOwner == owner) {
        if (--holders.exclusiveLevels == 0) {
            holders.exclusiveOwner = nullptr;
            exclusiveEnded = true;
        }
    } else if (own != holders.shared.end()) {
        if (--own->second == 0)
            holders.shared.erase(own);
    } else {
        return VI_ERROR_SESN_NLOCKED;
    }
    const bool exclusiveLeft = holders.exclusiveOwner == owner;
    const bool sharedLeft = holders.shared.count(owner) != 0;
    forgetIfFree(it);
    released.notify_all();
    if (exclusiveLeft)
        return VI_SUCCESS_NESTED_EXCLUSIVE;
    return sharedLeft ? VI_SUCCESS_NESTED_SHARED : VI_SUCCESS;
}

void LockTable::releaseAll(const std::string &resource, Owner owner)
{
    std::lock_guard<std::mutex> guard(mutex);
    const auto it = resources.find(resource);
    if (it == resources.end())
        return;
    if (it->second.exclusiveOwner == owner) {
        it->second.exclusiveOwner = nullptr;
        it->second.exclusiveLevels = 0;
    }
    it->second.shared.erase(owner);
    forgetIfFree(it);
    released.notify_all();
}

void LockTable::forgetIfFree(std::map<std::string, Holders>::iterator it)
{
    if (it->second.exclusiveOwner == nullptr && it->second.shared.empty())
        resources.erase(it);
    lockedCount = resources.size();
}

bool LockTable::mayAccess(const std::string &resource, Owner owner) const
{
    if (lockedCount.load(std::memory_order_acquire) == 0)
        return true;
    std::lock_guard<std::mutex> guard(mutex);
    const auto it = resources.find(resource);
    if (it == resources.end())
        return true;
    const Holders &holders = it->second;
    if (holders.exclusiveOwner != nullptr)
        return holders.exclusiveOwner == owner;
    return holders.shared.empty() || holders.shared.count(owner) != 0;
}

ViAccessMode LockTable::state(const std::string &resource) const
{
    std::lock_guard<std::mutex> guard(mutex);
    const auto it = resources.find(resource);
    if (it == resources.end())
        return VI_NO_LOCK;
    if (it->second.exclusiveOwner != nullptr)
        return VI_EXCLUSIVE_LOCK;
    return it->second.shared.empty() ? VI_NO_LOCK : VI_SHARED_LOCK;
}

} // namespace visa
