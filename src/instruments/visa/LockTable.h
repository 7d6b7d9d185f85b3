#pragma once

#include "instruments/visa/visa.h"

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>

namespace visa {

// The VISA locks of this process, by resource name: one session holds a
// resource exclusively, or any number of sessions share it under one
// access key. Each holder may nest its locks; every level is released by
// its own unlock. Sessions are identified by their address.
class LockTable
{
public:
    using Owner = const void *;

    // Lives until the process ends: sessions closed at exit still release here.
    static LockTable &instance();

    // Takes one level of `type` (VI_EXCLUSIVE_LOCK or VI_SHARED_LOCK),
    // waiting up to `timeoutMs` for other holders to release theirs.
    // VI_SUCCESS for a new lock, VI_SUCCESS_NESTED_EXCLUSIVE or
    // VI_SUCCESS_NESTED_SHARED when `owner` already held that type,
    // VI_ERROR_TMO when the lock stayed taken. A shared lock joins the
    // holders whose key is `requestedKey`, or starts with a new key when it
    // is null; `accessKey` gets the key in force.
    ViStatus lock(const std::string &resource, Owner owner, ViAccessMode type, ViUInt32 timeoutMs,
                  const char *requestedKey, std::string &accessKey);
    // Releases one level, the exclusive ones first. `exclusiveEnded` tells
    // whether the owner's last exclusive level went. VI_SUCCESS,
    // VI_SUCCESS_NESTED_* while levels remain, VI_ERROR_SESN_NLOCKED.
    ViStatus unlock(const std::string &resource, Owner owner, bool &exclusiveEnded);
    // Drops every level `owner` holds (the session is closing).
    void releaseAll(const std::string &resource, Owner owner);
    // False while another session holds the resource exclusively, or others
    // share it and `owner` is not among them.
    bool mayAccess(const std::string &resource, Owner owner) const;
    // VI_NO_LOCK, VI_EXCLUSIVE_LOCK or VI_SHARED_LOCK: the resource's state.
    ViAccessMode state(const std::string &resource) const;

private:
    struct Holders
    {
        Owner exclusiveOwner = nullptr;
        unsigned exclusiveLevels = 0;
        std::string sharedKey;
        std::map<Owner, unsigned> shared; // levels per session
    };

    LockTable() = default;
    bool grantable(const Holders &holders, Owner owner, ViAccessMode type,
                   const std::string &key) const;
    void forgetIfFree(std::map<std::string, Holders>::iterator it);

    mutable std::mutex mutex;
    std::condition_variable released;
    std::map<std::string, Holders> resources;
    // Resources held: lets I/O skip the table while no session holds a lock.
    std::atomic<std::size_t> lockedCount{0};
    unsigned long nextKey = 1;
};

} // namespace visa
