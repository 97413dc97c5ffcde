// The views the engine has read, for the engine's other view functions
// (the record conversions in fml32_target.cpp).
#pragma once

#include <memory>

#include "fml32_viewfile.h"

namespace Tx::Fml32Builtin {

// The view called `name`, or null with Ferror32 set (FBADVIEW, FVFOPEN,
// FVFSYNTAX, FMALLOC). The description stays valid while the caller holds
// it, across Fvrefresh32 and Fvopt32.
std::shared_ptr<const ViewDescription> FindView(const char* name) noexcept;

}  // namespace Tx::Fml32Builtin
