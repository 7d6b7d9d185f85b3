#pragma once

#include "instruments/visa/visa.h"

namespace visa {

// The attributes every session answers the same, the resource manager's
// included: who made this library and which versions it implements.
// VI_ERROR_NSUP_ATTR for any other attribute.
ViStatus libraryAttribute(ViAttr attribute, void *value);

} // namespace visa
