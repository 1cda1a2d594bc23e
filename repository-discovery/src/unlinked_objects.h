// The synthetic parent "TNG Unlinked Objects": discovery lists it first and describes it,
// processing places every object without a parent under it. Every comparison with the
// identifier is exact and case-sensitive, so both sides take it from here.
#pragma once

namespace quillon {

inline constexpr const char* kUnlinkedObjectsId = "10C76F32-E064-4BD7-8CDF-DF86610501AA";

}  // namespace quillon
