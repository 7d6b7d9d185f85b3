#include "instruments/visa/LibraryAttributes.h"

#include "Version.h"

#include <cstdio>
#include <cstring>

namespace visa {

namespace {

template <typename T> void store(void *value, T v)
{
    std::memcpy(value, &v, sizeof v);
}

} // namespace

ViStatus libraryAttribute(ViAttr attribute, void *value)
{
    switch (attribute) {
    case VI_ATTR_RSRC_MANF_NAME:
        std::snprintf(static_cast<char *>(value), VI_FIND_BUFLEN, "%s", "benchtest");
        return VI_SUCCESS;
    case VI_ATTR_RSRC_MANF_ID:
        store<ViUInt16>(value, 0); // no VXIplug&play number assigned
        return VI_SUCCESS;
    case VI_ATTR_RSRC_IMPL_VERSION:
        store<ViVersion>(value, BENCHTEST_VISA_IMPL_VERSION);
        return VI_SUCCESS;
    case VI_ATTR_RSRC_SPEC_VERSION:
        store<ViVersion>(value, VI_SPEC_VERSION);
        return VI_SUCCESS;
    default:
        return VI_ERROR_NSUP_ATTR;
    }
}

} // namespace visa
