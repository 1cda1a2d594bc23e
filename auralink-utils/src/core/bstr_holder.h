// A BSTR that frees itself.
#pragma once
#include <oleauto.h>

#include <memory>
#include <string_view>

namespace auralink::core {

struct BstrFree {
  void operator()(OLECHAR* text) const { SysFreeString(text); }
};
using BstrHolder = std::unique_ptr<OLECHAR, BstrFree>;

inline BstrHolder MakeBstr(std::string_view narrow) { return BstrHolder(platform::AllocBstr(narrow)); }

}  // namespace auralink::core
