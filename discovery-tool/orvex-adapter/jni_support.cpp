#include "jni_support.h"

#include <windows.h>
#include <stringapiset.h>

#include <cstdio>
#include <vector>
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

jstring NewJavaString(JNIEnv* env, const std::string& utf8) {
  // Java strings are UTF-16; the VM's own UTF-8 entry takes only its modified form, which
  // differs for NUL and for characters beyond the basic plane.
  std::wstring wide = auralink::platform::ToWide(utf8);
  std::vector<jchar> units;
  units.reserve(wide.size());
  for (wchar_t c : wide) {
    auto code = static_cast<char32_t>(c);
    if (code >= 0x10000) {
      code -= 0x10000;
      units.push_back(static_cast<jchar>(0xD800 + (code >> 10)));
      units.push_back(static_cast<jchar>(0xDC00 + (code & 0x3FF)));
    } else {
      units.push_back(static_cast<jchar>(code));
    }
  }
  return env->NewString(units.data(), static_cast<jsize>(units.size()));
}

bool ReadJavaString(JNIEnv* env, jstring text, std::string& out) {
  const char* chars = text ? env->GetStringUTFChars(text, nullptr) : nullptr;
  if (!chars) return false;
  out = chars;
  env->ReleaseStringUTFChars(text, chars);
  return true;
}

}  // namespace auralink::orvex
