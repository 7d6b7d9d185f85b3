// The C entry points for resource names and discovery.

#include "instruments/visa/visa.h"

#include "instruments/visa/EntryPoint.h"
#include "instruments/visa/FindExpression.h"
#include "instruments/visa/FindList.h"
#include "instruments/visa/ResourceFinder.h"
#include "instruments/visa/ResourceName.h"
#include "instruments/visa/SessionTable.h"

#include <cstdio>

using visa::entryPoint;
using visa::SessionTable;

namespace {

void copyName(ViChar destination[], const std::string &text)
{
    if (destination != nullptr)
        std::snprintf(destination, VI_FIND_BUFLEN, "%s", text.c_str());
}

} // namespace

extern "C" {

ViStatus viParseRsrcEx(ViSession rmSesn, ViConstRsrc rsrcName, ViPUInt16 intfType,
                       ViPUInt16 intfNum, ViChar rsrcClass[], ViChar expandedUnaliasedName[],
                       ViChar aliasIfExists[])
{
    return entryPoint([&]() -> ViStatus {
        if (!SessionTable::instance().isResourceManager(rmSesn))
            return VI_ERROR_INV_OBJECT;
        visa::ResourceName name;
        const ViStatus status = visa::ResourceName::parse(rsrcName, name);
        if (status != VI_SUCCESS)
            return status;
        if (intfType != nullptr)
            *intfType = name.interfaceType();
        if (intfNum != nullptr)
            *intfNum = static_cast<ViUInt16>(name.board);
        copyName(rsrcClass, name.resourceClass());
        copyName(expandedUnaliasedName, name.canonical);
        copyName(aliasIfExists, std::string()); // no aliases are configured
        return VI_SUCCESS;
    });
}

ViStatus viParseRsrc(ViSession rmSesn, ViConstRsrc rsrcName, ViPUInt16 intfType, ViPUInt16 intfNum)
{
    return viParseRsrcEx(rmSesn, rsrcName, intfType, intfNum, nullptr, nullptr, nullptr);
}

ViStatus viFindRsrc(ViSession sesn, ViConstString expr, ViPFindList vi, ViPUInt32 retCnt,
                    ViChar desc[])
{
    if (vi != nullptr)
        *vi = VI_NULL;
    if (retCnt != nullptr)
        *retCnt = 0;
    return entryPoint([&]() -> ViStatus {
        SessionTable &table = SessionTable::instance();
        if (!table.isResourceManager(sesn))
            return VI_ERROR_INV_OBJECT;
        visa::FindExpression expression;
        const ViStatus status = expression.compile(expr);
        if (status != VI_SUCCESS)
            return status;
        std::vector<std::string> found = visa::ResourceFinder::find(expression);
        if (found.empty())
            return VI_ERROR_RSRC_NFOUND;
        const std::string first = found.front();
        const auto count = static_cast<ViUInt32>(found.size());
        found.erase(found.begin());
        // Without a place for the handle, nobody could walk or close the list.
        if (vi != nullptr) {
            *vi = table.addFindList(sesn, std::make_shared<visa::FindList>(std::move(found)));
            if (*vi == VI_NULL)
                return VI_ERROR_INV_OBJECT; // the manager was closed meanwhile
        }
        copyName(desc, first);
        if (retCnt != nullptr)
            *retCnt = count;
        return VI_SUCCESS;
    });
}

ViStatus viFindNext(ViFindList vi, ViChar desc[])
{
    return entryPoint([&]() -> ViStatus {
        const auto list = SessionTable::instance().findList(vi);
        if (!list)
            return VI_ERROR_INV_OBJECT;
        if (desc == nullptr)
            return VI_ERROR_USER_BUF;
        std::string name;
        if (!list->next(name))
            return VI_ERROR_RSRC_NFOUND;
        copyName(desc, name);
        return VI_SUCCESS;
    });
}

} // extern "C"
