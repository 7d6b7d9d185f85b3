#pragma once

#include "instruments/visa/visa.h"

namespace visa {

// The text viStatusDesc gives for a status, or null for an unknown status.
const char *statusDescription(ViStatus status);

} // namespace visa
