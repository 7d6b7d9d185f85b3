#pragma once

#include "instruments/visa/visa.h"

#include <new>

namespace visa {

// Runs the body of a vi* function: no C++ exception may reach a C or Python
// caller, so each one becomes a status (out of memory: VI_ERROR_ALLOC,
// anything else: VI_ERROR_SYSTEM_ERROR). Every exported function goes
// through here.
template <typename Body> ViStatus entryPoint(Body &&body) noexcept
{
    try {
        return body();
    } catch (const std::bad_alloc &) {
        return VI_ERROR_ALLOC;
    } catch (...) {
        return VI_ERROR_SYSTEM_ERROR;
    }
}

} // namespace visa
