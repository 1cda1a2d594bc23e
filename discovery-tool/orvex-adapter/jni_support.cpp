#include "jni_support.h"

#include <windows.h>
#include <stringapiset.h>

#include <cstdio>

#include <auralink/platform/text.h>

namespace auralink::orvex {

ThreadEnvironment::ThreadEnvironment(JavaVM* vm) : vm_(vm) {
  if (!vm_) return;
  void* env = nullptr;
  jint state = vm_->GetEnv(&env, JNI_VERSION_1_2);
  if (state == JNI_EDETACHED) {
    if (vm_->AttachCurrentThread(&env, nullptr) == JNI_OK) {
      attachedHere_ = true;
    } else {
      std::fputs("Error attaching the current thread!!", stdout);
      std::fflush(stdout);
      env = nullptr;
    }
  } else if (state != JNI_OK) {
    env = nullptr;
  }
  env_ = static_cast<JNIEnv*>(env);
}

ThreadEnvironment::~ThreadEnvironment() {
  if (attachedHere_ && vm_->DetachCurrentThread() != JNI_OK) {
    std::fputs("Error detaching the current thread!!", stdout);
    std::fflush(stdout);
  }
}

namespace {

// A template, so that the branch for the other width of wchar_t is never instantiated.
template <typename WideChar>
void AppendWideAsUtf16(std::u16string& out, std::basic_string_view<WideChar> wide) {
  if constexpr (sizeof(WideChar) == sizeof(char16_t)) {
    // Windows: wide text is UTF-16 already.
    out.append(reinterpret_cast<const char16_t*>(wide.data()), wide.size());
  } else {
    // Characters of the basic plane, nearly all text, are one unit each and are copied in
    // one pass; from the first character beyond it on, each such character is two units.
    const size_t start = out.size();
    out.resize(start + wide.size());
    char16_t* unit = out.data() + start;
    size_t i = 0;
    for (; i < wide.size() && static_cast<char32_t>(wide[i]) < 0x10000; ++i) unit[i] = static_cast<char16_t>(wide[i]);
    if (i == wide.size()) return;
    out.resize(start + i);
    for (; i < wide.size(); ++i) {
      auto code = static_cast<char32_t>(wide[i]);
      if (code >= 0x10000) {
        code -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (code >> 10));
        out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
      } else {
        out += static_cast<char16_t>(code);
      }
    }
  }
}

}  // namespace

void AppendUtf16(std::u16string& out, std::wstring_view wide) { AppendWideAsUtf16(out, wide); }

void AppendUtf16(std::u16string& out, std::string_view utf8) {
  AppendUtf16(out, std::wstring_view(auralink::platform::ToWide(utf8)));
}

jstring NewJavaString(JNIEnv* env, const std::string& utf8) {
  // ASCII reads the same in the VM's own modified UTF-8, which differs from UTF-8 only for
  // NUL and for characters beyond ASCII: such text goes to the VM as it is.
  bool ascii = true;
  for (char c : utf8) {
    if (c == 0 || static_cast<unsigned char>(c) >= 0x80) {
      ascii = false;
      break;
    }
  }
  if (ascii) return env->NewStringUTF(utf8.c_str());
  std::u16string units;
  AppendUtf16(units, std::string_view(utf8));
  return NewJavaString(env, units);
}

jstring NewJavaString(JNIEnv* env, const std::u16string& units) {
  static_assert(sizeof(char16_t) == sizeof(jchar));
  return env->NewString(reinterpret_cast<const jchar*>(units.data()), static_cast<jsize>(units.size()));
}

bool ReadJavaString(JNIEnv* env, jstring text, std::string& out) {
  const char* chars = text ? env->GetStringUTFChars(text, nullptr) : nullptr;
  if (!chars) return false;
  out = chars;
  env->ReleaseStringUTFChars(text, chars);
  return true;
}

}  // namespace auralink::orvex
