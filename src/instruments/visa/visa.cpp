// The C entry points: look the handle up, then hand over to the session.
// Each body runs inside entryPoint, so no exception leaves the library.

#include "instruments/visa/visa.h"

#include "instruments/visa/EntryPoint.h"
#include "instruments/visa/InstrumentSession.h"
#include "instruments/visa/KnownResources.h"
#include "instruments/visa/LibraryAttributes.h"
#include "instruments/visa/ResourceName.h"
#include "instruments/visa/SessionTable.h"
#include "instruments/visa/StatusDescription.h"
#include "instruments/visa/TransportFactory.h"

#include <cstdio>
#include <cstring>
#include <string>

using visa::entryPoint;
using visa::SessionTable;

namespace {

bool isUserData(ViAttr attribute)
{
    return attribute == VI_ATTR_USER_DATA_32 || attribute == VI_ATTR_USER_DATA_64;
}

ViStatus setUserData(ViObject vi, ViAttr attribute, ViAttrState value)
{
    if (attribute == VI_ATTR_USER_DATA_32 && value > 0xFFFFFFFFu)
        return VI_ERROR_NSUP_ATTR_STATE;
    return SessionTable::instance().setUserData(vi, value) ? VI_SUCCESS : VI_ERROR_INV_OBJECT;
}

ViStatus getUserData(ViObject vi, ViAttr attribute, void *value)
{
    ViAttrState data = 0;
    if (!SessionTable::instance().userData(vi, data))
        return VI_ERROR_INV_OBJECT;
    if (attribute == VI_ATTR_USER_DATA_32) {
        const ViUInt32 narrow = static_cast<ViUInt32>(data);
        std::memcpy(value, &narrow, sizeof narrow);
    } else {
        const ViUInt64 wide = data;
        std::memcpy(value, &wide, sizeof wide);
    }
    return VI_SUCCESS;
}

} // namespace

extern "C" {

ViStatus viOpenDefaultRM(ViPSession vi)
{
    return entryPoint([&]() -> ViStatus {
        if (vi == nullptr)
            return VI_ERROR_INV_PARAMETER;
        *vi = VI_NULL;
        *vi = SessionTable::instance().addResourceManager();
        return VI_SUCCESS;
    });
}

ViStatus viOpen(ViSession sesn, ViConstRsrc name, ViAccessMode mode, ViUInt32 timeout,
                ViPSession vi)
{
    return entryPoint([&]() -> ViStatus {
        if (vi == nullptr)
            return VI_ERROR_INV_PARAMETER;
        *vi = VI_NULL;
        SessionTable &table = SessionTable::instance();
        if (!table.isResourceManager(sesn))
            return VI_ERROR_INV_OBJECT;
        const ViAccessMode lockType = mode & (VI_EXCLUSIVE_LOCK | VI_SHARED_LOCK);
        if ((mode & ~static_cast<ViAccessMode>(VI_EXCLUSIVE_LOCK | VI_SHARED_LOCK |
                                               VI_LOAD_CONFIG)) != 0 ||
            lockType == (VI_EXCLUSIVE_LOCK | VI_SHARED_LOCK))
            return VI_ERROR_INV_ACC_MODE;

        visa::ResourceName resource;
        ViStatus status = visa::ResourceName::parse(name, resource);
        if (status != VI_SUCCESS)
            return status;
        std::unique_ptr<visa::Transport> transport;
        status = visa::TransportFactory::open(resource, timeout, transport);
        if (status != VI_SUCCESS)
            return status;
        auto session = std::make_shared<visa::InstrumentSession>(resource, std::move(transport));
        if (lockType != VI_NO_LOCK) {
            // The open timeout is how long to wait for other sessions' locks.
            std::string key;
            status = session->lock(lockType, timeout, nullptr, key);
            if (status < VI_SUCCESS)
                return status == VI_ERROR_TMO ? VI_ERROR_RSRC_LOCKED : status;
        }
        visa::KnownResources::remember(resource); // for viFindRsrc
        const ViSession handle = table.addInstrument(sesn, std::move(session));
        if (handle == VI_NULL)
            return VI_ERROR_INV_OBJECT; // the manager was closed meanwhile
        *vi = handle;
        return VI_SUCCESS;
    });
}

ViStatus viClose(ViObject vi)
{
    return entryPoint([&]() -> ViStatus { return SessionTable::instance().close(vi); });
}

ViStatus viSetAttribute(ViObject vi, ViAttr attrName, ViAttrState attrValue)
{
    return entryPoint([&]() -> ViStatus {
        if (isUserData(attrName))
            return setUserData(vi, attrName, attrValue);
        SessionTable &table = SessionTable::instance();
        if (const auto session = table.instrument(vi))
            return session->setAttribute(attrName, attrValue);
        return table.contains(vi) ? VI_ERROR_NSUP_ATTR : VI_ERROR_INV_OBJECT;
    });
}

ViStatus viGetAttribute(ViObject vi, ViAttr attrName, void *attrValue)
{
    return entryPoint([&]() -> ViStatus {
        if (attrValue == nullptr)
            return VI_ERROR_USER_BUF;
        if (isUserData(attrName))
            return getUserData(vi, attrName, attrValue);
        SessionTable &table = SessionTable::instance();
        if (const auto session = table.instrument(vi)) {
            const ViStatus status = session->getAttribute(attrName, attrValue);
            return status == VI_ERROR_NSUP_ATTR ? visa::libraryAttribute(attrName, attrValue)
                                                : status;
        }
        if (!table.contains(vi))
            return VI_ERROR_INV_OBJECT;
        if (attrName == VI_ATTR_RSRC_LOCK_STATE) {
            const ViAccessMode unlocked = VI_NO_LOCK; // a resource manager is never locked
            std::memcpy(attrValue, &unlocked, sizeof unlocked);
            return VI_SUCCESS;
        }
        return visa::libraryAttribute(attrName, attrValue);
    });
}

ViStatus viStatusDesc(ViObject, ViStatus status, ViChar desc[])
{
    return entryPoint([&]() -> ViStatus {
        if (desc == nullptr)
            return VI_ERROR_USER_BUF;
        const char *text = visa::statusDescription(status);
        if (text == nullptr) {
            std::snprintf(desc, VI_FIND_BUFLEN, "Unknown status 0x%08X.",
                          static_cast<unsigned>(status));
            return VI_WARN_UNKNOWN_STATUS;
        }
        std::snprintf(desc, VI_FIND_BUFLEN, "%s", text);
        return VI_SUCCESS;
    });
}

ViStatus viRead(ViSession vi, ViPBuf buf, ViUInt32 cnt, ViPUInt32 retCnt)
{
    ViUInt32 returned = 0;
    const ViStatus status = entryPoint([&]() -> ViStatus {
        SessionTable &table = SessionTable::instance();
        if (const auto session = table.instrument(vi))
            return buf == nullptr && cnt > 0 ? VI_ERROR_USER_BUF
                                             : session->read(buf, cnt, returned);
        return table.contains(vi) ? VI_ERROR_NSUP_OPER : VI_ERROR_INV_OBJECT;
    });
    if (retCnt != nullptr)
        *retCnt = returned;
    return status;
}

ViStatus viWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViPUInt32 retCnt)
{
    ViUInt32 returned = 0;
    const ViStatus status = entryPoint([&]() -> ViStatus {
        SessionTable &table = SessionTable::instance();
        if (const auto session = table.instrument(vi))
            return buf == nullptr && cnt > 0 ? VI_ERROR_USER_BUF
                                             : session->write(buf, cnt, returned);
        return table.contains(vi) ? VI_ERROR_NSUP_OPER : VI_ERROR_INV_OBJECT;
    });
    if (retCnt != nullptr)
        *retCnt = returned;
    return status;
}

} // extern "C"
