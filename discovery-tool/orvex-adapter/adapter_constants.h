// The Java adapter's constants as this side names them. Each value is also the index of
// the constant in the bridge's table of the Java values, which may differ: whenever a
// constant crosses to Java, its Java value is looked up there.
#pragma once

namespace auralink::orvex {

enum AdapterConstant : int {
  SUPPORTS_NONE = 0,
  SUPPORTS_BULK = 1,
  SUPPORTS_DELTA = 2,
  BULK_DISCOVERY = 3,
  SUPPORTS_ATWILL = 4,
  DELTA_DISCOVERY = 5,
  ASYNC_ERROR_RESPONSE = 6,
  WAIT_RESPONSE_FOREVER = 7,
  SUPPORTS_EVENTS = 8,
  SUPPORTS_METHODS = 16,
};

// Slots 0 to 16; 9 to 15 stay unused.
inline constexpr int kAdapterConstantSlots = 17;

}  // namespace auralink::orvex
