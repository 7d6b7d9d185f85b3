#pragma once

#include "instruments/visa/FindList.h"
#include "instruments/visa/InstrumentSession.h"
#include "instruments/visa/visa.h"

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>

namespace visa {

// The process-wide table from session handles to sessions. Handles are never
// reused, so a closed or unknown handle stays invalid (VI_ERROR_INV_OBJECT)
// and closing twice is harmless.
class SessionTable
{
public:
    static SessionTable &instance();

    ViSession addResourceManager();
    ViSession addInstrument(std::shared_ptr<InstrumentSession> session);
    bool isResourceManager(ViSession handle) const;
    // Null for a resource manager, an unknown or a closed handle.
    std::shared_ptr<InstrumentSession> instrument(ViSession handle) const;
    bool contains(ViSession handle) const;

    // A viFindRsrc result; a handle of its own that viClose closes.
    ViFindList addFindList(std::shared_ptr<FindList> list);
    // Null for any other handle.
    std::shared_ptr<FindList> findList(ViFindList handle) const;

    // VI_SUCCESS, VI_WARN_NULL_OBJECT for VI_NULL, VI_ERROR_INV_OBJECT otherwise.
    ViStatus close(ViSession handle);
    // Open sessions and find lists; lets tests check that nothing leaks.
    std::size_t openCount() const;

private:
    ViSession addEntry(std::shared_ptr<InstrumentSession> session);
    ViSession takeHandle(); // with the mutex held

    mutable std::mutex mutex;
    // A resource manager's entry holds no instrument session.
    std::map<ViSession, std::shared_ptr<InstrumentSession>> entries;
    std::map<ViFindList, std::shared_ptr<FindList>> findLists;
    ViSession nextHandle = 1;
};

} // namespace visa
