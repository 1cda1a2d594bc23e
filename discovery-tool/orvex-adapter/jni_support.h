// Small owners for JNI work on any thread: the calling thread's environment (attached for
// the length of one call when it was not attached yet), a frame of local references
// released at the end of a call, and text conversion between our UTF-8 and Java strings.
#pragma once
#include <jni.h>

#include <string>
#include <string_view>

namespace auralink::orvex {

// The JNI environment of the calling thread. A thread that is not attached to the VM is
// attached here and detached again when the owner goes. Failures write the console lines
// "Error attaching the current thread!!" / "Error detaching the current thread!!"; without
// an environment Get() is null.
class ThreadEnvironment {
 public:
  explicit ThreadEnvironment(JavaVM* vm);
  ~ThreadEnvironment();
  ThreadEnvironment(const ThreadEnvironment&) = delete;
  ThreadEnvironment& operator=(const ThreadEnvironment&) = delete;

  JNIEnv* Get() const { return env_; }

 private:
  JavaVM* vm_;
  JNIEnv* env_ = nullptr;
  bool attachedHere_ = false;
};

// Every local reference made while it lives is released when it goes. The main thread
// never returns to Java, so without this each call would leave its references behind.
class LocalFrame {
 public:
  explicit LocalFrame(JNIEnv* env, jint capacity = 16) : env_(env) { pushed_ = env_->PushLocalFrame(capacity) == 0; }
  ~LocalFrame() {
    if (pushed_) env_->PopLocalFrame(nullptr);
  }
  LocalFrame(const LocalFrame&) = delete;
  LocalFrame& operator=(const LocalFrame&) = delete;

 private:
  JNIEnv* env_;
  bool pushed_ = false;
};

// Appends the UTF-16 units of wide text (wchar_t holds whole characters here) or of UTF-8
// text: characters beyond the basic plane become surrogate pairs, as Java keeps them.
void AppendUtf16(std::u16string& out, std::wstring_view wide);
void AppendUtf16(std::u16string& out, std::string_view utf8);

// A Java string of UTF-8 text (any Unicode character, including those beyond the basic
// plane). Null when the VM cannot make it.
jstring NewJavaString(JNIEnv* env, const std::string& utf8);
// A Java string of UTF-16 units.
jstring NewJavaString(JNIEnv* env, const std::u16string& units);

// The characters of a Java string as modified UTF-8; false when the VM cannot give them.
bool ReadJavaString(JNIEnv* env, jstring text, std::string& out);

}  // namespace auralink::orvex
