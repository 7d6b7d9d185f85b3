#pragma once

#include "instruments/visa/FindList.h"
#include "instruments/visa/InstrumentSession.h"
#include "instruments/visa/visa.h"

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>

namespace visa {

// The process-wide table from handles to resource managers, instrument
// sessions and find lists. Handles are never reused, so a closed or unknown
// handle stays invalid (VI_ERROR_INV_OBJECT) and closing twice is harmless.
// Instrument sessions and find lists belong to the resource manager they
// were opened through, and close with it.
class SessionTable
{
public:
    static SessionTable &instance();

    ViSession addResourceManager();
    // VI_NULL when `manager` is no open resource manager (closed meanwhile):
    // the session is dropped then.
    ViSession addInstrument(ViSession manager, std::shared_ptr<InstrumentSession> session);
    bool isResourceManager(ViSession handle) const;
    // Null for a resource manager, an unknown or a closed handle.
    std::shared_ptr<InstrumentSession> instrument(ViSession handle) const;
    bool contains(ViSession handle) const;

    // A viFindRsrc result; a handle of its own that viClose closes. VI_NULL
    // as for addInstrument.
    ViFindList addFindList(ViSession manager, std::shared_ptr<FindList> list);
    // Null for any other handle.
    std::shared_ptr<FindList> findList(ViFindList handle) const;

    // VI_ATTR_USER_DATA of any open handle: false for an unknown one.
    bool setUserData(ViObject handle, ViAttrState value);
    bool userData(ViObject handle, ViAttrState &value) const;

    // VI_SUCCESS, VI_WARN_NULL_OBJECT for VI_NULL, VI_ERROR_INV_OBJECT
    // otherwise. A resource manager takes its sessions and find lists along.
    ViStatus close(ViObject handle);
    // Open handles of every kind; lets tests check that nothing leaks.
    std::size_t openCount() const;

private:
    struct Entry
    {
        ViSession manager = VI_NULL; // the owner; VI_NULL for a resource manager
        std::shared_ptr<InstrumentSession> instrument;
        std::shared_ptr<FindList> findList;
        ViAttrState userData = 0;
    };

    ViObject add(Entry entry);
    ViObject takeHandle(); // with the mutex held

    mutable std::mutex mutex;
    std::map<ViObject, Entry> entries;
    ViObject nextHandle = 1;
};

} // namespace visa
