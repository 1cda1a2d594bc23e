// Owners for the COM references and strings the managers hold, so every exit path gives
// them back.
#pragma once
#include <oleauto.h>

#include <memory>
#include <string_view>

namespace auralink::hub {

template <typename Interface>
struct ComRelease {
  void operator()(Interface* object) const { object->Release(); }
};
template <typename Interface>
using ComHolder = std::unique_ptr<Interface, ComRelease<Interface>>;

struct BstrFree {
  void operator()(OLECHAR* text) const { SysFreeString(text); }
};
using BstrHolder = std::unique_ptr<OLECHAR, BstrFree>;

inline BstrHolder MakeBstr(std::string_view narrow) { return BstrHolder(platform::AllocBstr(narrow)); }

}  // namespace auralink::hub
