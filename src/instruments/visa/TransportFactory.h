#pragma once

#include "instruments/visa/ResourceName.h"
#include "instruments/visa/Transport.h"

#include <memory>

namespace visa {

// Opens the link a resource name asks for.
class TransportFactory
{
public:
    // `openTimeoutMs` bounds connecting (0 means the default 2000 ms).
    static ViStatus open(const ResourceName &name, ViUInt32 openTimeoutMs,
                         std::unique_ptr<Transport> &transport);
};

} // namespace visa
