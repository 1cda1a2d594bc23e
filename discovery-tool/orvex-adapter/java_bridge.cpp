#include "java_bridge.h"

#include <auralink/trace_utils.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "adapter_exception.h"
#include "jni_support.h"
#include "jvm_library.h"

using namespace auralink::orvex;

namespace {

constexpr const char* kComponent = "OrvexAdapter";
#define ORVEX_PACKAGE "com/kestrova/hubrelay/orvexadapter"

// The VM and the bridge live until the process ends.
std::mutex g_bridgeMutex;
JavaVM* g_vm = nullptr;
JavaBridge* g_bridge = nullptr;

void PrintLine(const char* text) {
  std::fputs(text, stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

JavaVM* StartJavaVm() {
  if (g_vm) return g_vm;
  CTraceUtils* trace = CTraceUtils::GetInstance();
  std::string loaded;
  std::string failures;
  CreateJavaVmFunction create = LoadJvmLibrary(JvmLibraryCandidates(), loaded, failures);
  if (!create) {
    trace->LogMsg(0, kComponent, "Unable to load the Java VM library; looked at %s", failures.c_str());
    throw AdapterException("ERROR CREATING JVM");
  }
  std::string classPath = JavaClassPathOption(std::getenv("APATH"));
  trace->LogMsg(2, kComponent, "Starting the Java VM of %s with %s", loaded.c_str(), classPath.c_str());
  JavaVMOption options[1] = {};
  options[0].optionString = classPath.data();
  JavaVMInitArgs args = {};
  args.version = JNI_VERSION_1_2;
  args.nOptions = 1;
  args.options = options;
  args.ignoreUnrecognized = JNI_FALSE;
  JavaVM* vm = nullptr;
  void* env = nullptr;  // the creating thread stays attached
  if (create(&vm, &env, &args) != JNI_OK || !vm) throw AdapterException("ERROR CREATING JVM");
  g_vm = vm;
  return g_vm;
}

JNIEnv* RequireEnvironment(const ThreadEnvironment& thread) {
  if (!thread.Get()) throw AdapterException("No Java environment for the calling thread");
  return thread.Get();
}

}  // namespace

JavaBridge* JavaBridge::GetInstance(const std::string& configFile) {
  std::lock_guard<std::mutex> lock(g_bridgeMutex);
  if (g_bridge) return g_bridge;
  JavaVM* vm = StartJavaVm();
  std::unique_ptr<JavaBridge> bridge(new JavaBridge());
  bridge->vm_ = vm;
  bridge->Bind(configFile);  // a throw drops the half-bound bridge and its references
  g_bridge = bridge.release();
  return g_bridge;
}

JavaBridge::JavaBridge() {
  // A constant whose Java field is missing keeps the value of this side.
  for (int i = 0; i < kAdapterConstantSlots; ++i) constants_[i] = i;
}

JavaBridge::~JavaBridge() {
  ThreadEnvironment thread(vm_);
  if (JNIEnv* env = thread.Get())
    for (jobject global : globals_) env->DeleteGlobalRef(global);
}

jobject JavaBridge::MakeGlobal(JNIEnv* env, jobject local) {
  if (!local) return nullptr;
  jobject global = env->NewGlobalRef(local);
  env->DeleteLocalRef(local);
  if (global) globals_.push_back(global);
  return global;
}

jclass JavaBridge::FindGlobalClass(JNIEnv* env, const char* name, const char* failure) {
  jclass cls = static_cast<jclass>(MakeGlobal(env, env->FindClass(name)));
  if (!cls) {
    PrintLine(failure);
    env->ExceptionClear();  // a class missing from the class path must not fail later calls
  }
  return cls;
}

jmethodID JavaBridge::FindMethod(JNIEnv* env, jclass cls, const char* name, const char* signature,
                                 const char* failure) {
  jmethodID method = cls ? env->GetMethodID(cls, name, signature) : nullptr;
  if (!method) {
    PrintLine(failure);
    env->ExceptionClear();
  }
  return method;
}

void JavaBridge::Bind(const std::string& configFile) {
  ThreadEnvironment thread(vm_);
  JNIEnv* env = RequireEnvironment(thread);
  BindClassesAndConstants(env);
  ObtainAdapter(env, configFile);
  BindAdapterMethods(env);
  BindListener(env);
}

void JavaBridge::BindClassesAndConstants(JNIEnv* env) {
  stringClass_ = FindGlobalClass(env, "java/lang/String", "ERROR - java class String not found");
  stringGetBytes_ =
      FindMethod(env, stringClass_, "getBytes", "()[B", "ERROR - java method Strig::getMessageBytes() not found");
  exceptionClass_ = FindGlobalClass(env, ORVEX_PACKAGE "/client/AdapterException",
                                    "ERROR - java class AdapterException not found");
  exceptionGetMessage_ = FindMethod(env, exceptionClass_, "getMessage", "()Ljava/lang/String;",
                                    "ERROR - java method AdapterException::getMessage() not found");
  adapterClass_ = FindGlobalClass(env, ORVEX_PACKAGE "/client/Adapter", "ERROR - java class Adapter not found");
  instances_.cls = FindGlobalClass(env, ORVEX_PACKAGE "/parameter/InstancesParameter",
                                   "ERROR - java class InstancesParameter not found");
  instances_.constructor = FindMethod(env, instances_.cls, "<init>", "(Ljava/lang/String;)V",
                                      "ERROR - java method InstancesParameter::<init>(String xmlText) not found");
  links_.cls = FindGlobalClass(env, ORVEX_PACKAGE "/parameter/LinksParameter",
                               "ERROR - java class LinksParameter not found");
  links_.constructor = FindMethod(env, links_.cls, "<init>", "(Ljava/lang/String;)V",
                                  "ERROR - java method LinksParameter::<init>(String xmlText) not found");
  events_.cls = FindGlobalClass(env, ORVEX_PACKAGE "/parameter/EventsParameter",
                                "ERROR - java class EventsParameter not found");
  events_.constructor = FindMethod(env, events_.cls, "<init>", "(Ljava/lang/String;)V",
                                   "ERROR - java method EventsParameter::<init>(String xmlText) not found");

  struct ConstantField {
    const char* name;
    AdapterConstant slot;
  };
  static constexpr ConstantField kConstantFields[] = {
      {"SUPPORTS_NONE", SUPPORTS_NONE},         {"SUPPORTS_BULK", SUPPORTS_BULK},
      {"SUPPORTS_DELTA", SUPPORTS_DELTA},       {"SUPPORTS_ATWILL", SUPPORTS_ATWILL},
      {"SUPPORTS_EVENTS", SUPPORTS_EVENTS},     {"SUPPORTS_METHODS", SUPPORTS_METHODS},
      {"BULK_DISCOVERY", BULK_DISCOVERY},       {"DELTA_DISCOVERY", DELTA_DISCOVERY},
      {"ASYNC_ERROR_RESPONSE", ASYNC_ERROR_RESPONSE}, {"WAIT_RESPONSE_FOREVER", WAIT_RESPONSE_FOREVER},
  };
  for (const ConstantField& field : kConstantFields) {
    jfieldID id = adapterClass_ ? env->GetStaticFieldID(adapterClass_, field.name, "I") : nullptr;
    if (!id) {
      std::string failure = std::string("ERROR - const Adapter::") + field.name + " not found";
      PrintLine(failure.c_str());
      env->ExceptionClear();
      continue;
    }
    constants_[field.slot] = env->GetStaticIntField(adapterClass_, id);
  }
}

void JavaBridge::ObtainAdapter(JNIEnv* env, const std::string& configFile) {
  getInstance_.id = adapterClass_ ? env->GetStaticMethodID(adapterClass_, "getInstance",
                                                           "(Ljava/lang/String;)L" ORVEX_PACKAGE "/client/Adapter;")
                                  : nullptr;
  env->ExceptionClear();
  LocalFrame frame(env);
  jstring path = NewJavaString(env, configFile);
  if (!path) PrintLine("ERROR - configurationFile String creation failed");
  env->ExceptionClear();
  jobject adapter = getInstance_.id ? env->CallStaticObjectMethod(adapterClass_, getInstance_.id, path) : nullptr;
  if (!adapter) PrintLine("ERROR - Adapter object refernce is null");
  CheckException();
  // Without the adapter object every later call would be refused; say so now rather than
  // report an adapter that is not there.
  if (!adapter) throw AdapterException("The Java adapter object could not be obtained");
  adapter_ = env->NewGlobalRef(adapter);
  if (adapter_) globals_.push_back(adapter_);
}

void JavaBridge::BindAdapterMethods(JNIEnv* env) {
  struct AdapterMethod {
    Method* method;
    const char* name;
    const char* signature;
    const char* failure;
  };
#define ORVEX_REGISTER_SIGNATURE "(Ljava/lang/String;I[Ljava/lang/String;[Ljava/lang/String;)Ljava/lang/String;"
#define ORVEX_INSTANCES_SIGNATURE "(Ljava/lang/String;L" ORVEX_PACKAGE "/parameter/InstancesParameter;I)V"
#define ORVEX_LINKS_SIGNATURE "(Ljava/lang/String;L" ORVEX_PACKAGE "/parameter/LinksParameter;I)V"
  const AdapterMethod methods[] = {
      {&authenticate_, "authenticate", "(Ljava/lang/String;Ljava/lang/String;)V",
       "ERROR - java method Adapter::authenticate() not found"},
      {&registerInstrumentation_, "registerInstrumentation", ORVEX_REGISTER_SIGNATURE,
       "ERROR - java method Adapter::registerInstrumentation() not found"},
      {&registerLoggingMode_, "registerLoggingMode", ORVEX_REGISTER_SIGNATURE,
       "ERROR - java method Adapter::registerLoggingMode() not found"},
      {&unregisterInstrumentation_, "unregisterInstrumentation", "(Ljava/lang/String;)V",
       "ERROR - java method Adapter::unregisterInstrumentation() not found"},
      {&beginDiscovery_, "beginDiscovery", "(Ljava/lang/String;I)V",
       "ERROR - java method Adapter::beginDiscovery() not found"},
      {&commitDiscovery_, "commitDiscovery", "(Ljava/lang/String;)V",
       "ERROR - java method Adapter::commitDiscovery() not found"},
      {&rollbackDiscovery_, "rollbackDiscovery", "(Ljava/lang/String;)V",
       "ERROR - java method Adapter::rollbackDiscovery() not found"},
      {&addObjectInstances_, "addObjectInstances", ORVEX_INSTANCES_SIGNATURE,
       "ERROR - java method Adapter::addObjectInstances() not found"},
      {&modifyObjectInstances_, "modifyObjectInstances", ORVEX_INSTANCES_SIGNATURE,
       "ERROR - java method Adapter::modifyObjectInstances() not found"},
      {&deleteObjectInstances_, "deleteObjectInstances", ORVEX_INSTANCES_SIGNATURE,
       "ERROR - java method Adapter::deleteObjectInstances() not found"},
      {&addLinkInstances_, "addLinkInstances", ORVEX_LINKS_SIGNATURE,
       "ERROR - java method Adapter::addLinkInstances() not found"},
      {&deleteLinkInstances_, "deleteLinkInstances", ORVEX_LINKS_SIGNATURE,
       "ERROR - java method Adapter::deleteLinkInstances() not found"},
      {&setAdapterListenerIF_, "setAdapterListenerIF", "(L" ORVEX_PACKAGE "/client/AdapterListenerIF;)V",
       "ERROR - java method Adapter::setAdapterListenerIF() not found"},
      {&shutdown_, "shutdown", "()V", "ERROR - java method Adapter::shutdown() not found"},
      {&sendEvent_, "sendEvent", "(Ljava/lang/String;L" ORVEX_PACKAGE "/parameter/EventsParameter;)V",
       "ERROR - java method Adapter::sendEvent() not found"},
  };
#undef ORVEX_REGISTER_SIGNATURE
#undef ORVEX_INSTANCES_SIGNATURE
#undef ORVEX_LINKS_SIGNATURE
  for (const AdapterMethod& entry : methods)
    entry.method->id = FindMethod(env, adapterClass_, entry.name, entry.signature, entry.failure);
}

void JavaBridge::BindListener(JNIEnv* env) {
  env->ExceptionClear();
  // Each step describes (prints) and clears what the VM raised.
  auto describe = [env] {
    if (env->ExceptionCheck()) {
      env->ExceptionDescribe();
      env->ExceptionClear();
    }
  };
  jclass listener = env->FindClass(ORVEX_PACKAGE "/client/NativeAdapterListener");
  if (!listener) PrintLine("ERROR - java class NativeAdapterListener not found");
  describe();
  listenerClass_ = static_cast<jclass>(MakeGlobal(env, listener));
  auto find = [&](const char* name, const char* signature, const char* failure) {
    jmethodID method = listenerClass_ ? env->GetMethodID(listenerClass_, name, signature) : nullptr;
    if (!method) PrintLine(failure);
    describe();
    return method;
  };
  listenerConstructor_ = find("<init>", "()V", "ERROR - java method NativeAdapterListener::<init>() not found");
  listenerRemoveNativePointer_ = find("removeNativePointer", "(J)V",
                                      "ERROR - java method NativeAdapterListener::removeNativePointer(:long) not found");
  listenerSetNativePointer_ = find("setNativePointer", "(J)V",
                                   "ERROR - java method NativeAdapterListener::setNativePointer(:long) not found");
  jobject object = listenerConstructor_ ? env->NewObject(listenerClass_, listenerConstructor_) : nullptr;
  if (!object) PrintLine("ERROR - creation of the java object NativeAdapterListener failed");
  describe();
  listener_ = MakeGlobal(env, object);
}

void JavaBridge::RequireAdapterMethod(const Method& method) const {
  if (!adapter_) throw AdapterException("The Java adapter object is missing");
  if (!method.id) throw AdapterException(std::string("The java method ") + method.name + " is not bound");
}

void JavaBridge::CheckException() {
  ThreadEnvironment thread(vm_);
  JNIEnv* env = thread.Get();
  if (!env || !env->ExceptionCheck()) return;
  LocalFrame frame(env);
  jthrowable thrown = env->ExceptionOccurred();
  env->ExceptionClear();
  // The bound getMessage serves the adapter's own exceptions; any other throwable is asked
  // through its own class.
  jmethodID getMessage = exceptionGetMessage_;
  if (!exceptionClass_ || !getMessage || !env->IsInstanceOf(thrown, exceptionClass_))
    getMessage = env->GetMethodID(env->GetObjectClass(thrown), "getMessage", "()Ljava/lang/String;");
  jstring message = getMessage ? static_cast<jstring>(env->CallObjectMethod(thrown, getMessage)) : nullptr;
  if (env->ExceptionCheck()) {
    env->ExceptionClear();
    message = nullptr;
  }
  if (!message) throw AdapterException("No message got from Java");
  std::string text;
  if (!ReadJavaString(env, message, text)) {
    PrintLine("JNI Error - 'GetStringUTFChars' returned NULL");
    text = "No message provided";
  }
  env->ExceptionClear();
  throw AdapterException(text);
}

void JavaBridge::authenticate(const std::string& sign, const std::string& certificate) {
  RequireAdapterMethod(authenticate_);
  ThreadEnvironment thread(vm_);
  JNIEnv* env = RequireEnvironment(thread);
  LocalFrame frame(env);
  jstring jsign = NewJavaString(env, sign);
  if (!jsign) PrintLine("ERROR - creation of the Stringa jsign failed");
  jstring jcert = NewJavaString(env, certificate);
  if (!jcert) PrintLine("ERROR - creation of the Stringa jcert failed");
  env->ExceptionClear();
  env->CallVoidMethod(adapter_, authenticate_.id, jsign, jcert);
  CheckException();
}

std::string JavaBridge::registerInstrumentation(const std::string& name, int flags,
                                                const std::vector<std::string>& classes,
                                                const std::vector<std::string>& linkTypes) {
  RequireAdapterMethod(registerInstrumentation_);
  if (!stringClass_) throw AdapterException("The java class String is not bound");
  ThreadEnvironment thread(vm_);
  JNIEnv* env = RequireEnvironment(thread);
  LocalFrame frame(env);
  jstring jname = NewJavaString(env, name);
  if (!jname) PrintLine("ERROR - creation of the Stringa jinstrumentationID failed");
  jint javaFlags = 0;
  for (int bit : {SUPPORTS_BULK, SUPPORTS_DELTA, SUPPORTS_ATWILL, SUPPORTS_EVENTS, SUPPORTS_METHODS})
    if (flags & bit) javaFlags += constants_[bit];
  auto makeArray = [&](const std::vector<std::string>& texts) {
    jstring empty = env->NewStringUTF("");
    jobjectArray array = env->NewObjectArray(static_cast<jsize>(texts.size()), stringClass_, empty);
    for (jsize i = 0; array && i < static_cast<jsize>(texts.size()); ++i) {
      jstring element = NewJavaString(env, texts[i]);
      env->SetObjectArrayElement(array, i, element);
      env->DeleteLocalRef(element);  // one reference per element would outgrow the frame
    }
    return array;
  };
  jobjectArray jclasses = makeArray(classes);
  jobjectArray jlinks = makeArray(linkTypes);
  env->ExceptionClear();
  jobject result = env->CallObjectMethod(adapter_, registerInstrumentation_.id, jname, javaFlags, jclasses, jlinks);
  CheckException();
  if (!result) throw AdapterException("registerInstrumentation returned no identifier");
  std::string id;
  if (!ReadJavaString(env, static_cast<jstring>(result), id)) {
    PrintLine("JNI Error - 'GetStringUTFChars' returned NULL");
    throw AdapterException("GetStringUTFChars failed");
  }
  return id;
}

void JavaBridge::CallWithId(const Method& method, const std::string& id) {
  RequireAdapterMethod(method);
  ThreadEnvironment thread(vm_);
  JNIEnv* env = RequireEnvironment(thread);
  LocalFrame frame(env);
  jstring jid = NewJavaString(env, id);
  if (!jid) PrintLine("ERROR - creation of the Stringa jsid failed");
  env->ExceptionClear();
  env->CallVoidMethod(adapter_, method.id, jid);
  CheckException();
}

void JavaBridge::unregisterInstrumentation(const std::string& id) { CallWithId(unregisterInstrumentation_, id); }

void JavaBridge::commitDiscovery(const std::string& id) { CallWithId(commitDiscovery_, id); }

void JavaBridge::beginDiscovery(const std::string& id, int kind) {
  RequireAdapterMethod(beginDiscovery_);
  if (kind < 0 || kind >= kAdapterConstantSlots) throw AdapterException("Unknown discovery kind");
  ThreadEnvironment thread(vm_);
  JNIEnv* env = RequireEnvironment(thread);
  LocalFrame frame(env);
  jstring jid = NewJavaString(env, id);
  if (!jid) PrintLine("ERROR - creation of the Stringa jsid failed");
  env->ExceptionClear();
  env->CallVoidMethod(adapter_, beginDiscovery_.id, jid, constants_[kind]);
  CheckException();
}

void JavaBridge::CallWithParameter(const Method& method, const ParameterClass& parameterClass, const std::string& id,
                                   const XmlTextParameter& parameter, const int* wait) {
  RequireAdapterMethod(method);
  if (!parameterClass.cls || !parameterClass.constructor)
    throw AdapterException(std::string("The java class ") + parameterClass.name + " is not bound");
  ThreadEnvironment thread(vm_);
  JNIEnv* env = RequireEnvironment(thread);
  LocalFrame frame(env);
  jstring jid = NewJavaString(env, id);
  if (!jid) PrintLine("ERROR - creation of the Stringa jsid failed");
  jstring jxml = nullptr;
  if (!parameter.HasText()) {
    PrintLine("ERROR - no xmltext value to set");
  } else if (!(jxml = NewJavaString(env, parameter.Units()))) {
    PrintLine("ERROR - creation of the Stringa jxmltext failed");
  }
  env->ExceptionClear();
  jobject jparameter = env->NewObject(parameterClass.cls, parameterClass.constructor, jxml);
  if (!jparameter) PrintLine("ERROR - creation of the Java InstancesParameter failed");
  env->ExceptionClear();
  if (wait) {
    jint javaWait = *wait == WAIT_RESPONSE_FOREVER ? constants_[WAIT_RESPONSE_FOREVER] : *wait;
    env->CallVoidMethod(adapter_, method.id, jid, jparameter, javaWait);
  } else {
    env->CallVoidMethod(adapter_, method.id, jid, jparameter);
  }
  CheckException();
}

void JavaBridge::addObjectInstances(const std::string& id, const XmlTextParameter& parameter, int wait) {
  CallWithParameter(addObjectInstances_, instances_, id, parameter, &wait);
}
void JavaBridge::modifyObjectInstances(const std::string& id, const XmlTextParameter& parameter, int wait) {
  CallWithParameter(modifyObjectInstances_, instances_, id, parameter, &wait);
}
void JavaBridge::deleteObjectInstances(const std::string& id, const XmlTextParameter& parameter, int wait) {
  CallWithParameter(deleteObjectInstances_, instances_, id, parameter, &wait);
}
void JavaBridge::addLinkInstances(const std::string& id, const XmlTextParameter& parameter, int wait) {
  CallWithParameter(addLinkInstances_, links_, id, parameter, &wait);
}
void JavaBridge::deleteLinkInstances(const std::string& id, const XmlTextParameter& parameter, int wait) {
  CallWithParameter(deleteLinkInstances_, links_, id, parameter, &wait);
}
void JavaBridge::sendEvent(const std::string& id, const XmlTextParameter& parameter) {
  CallWithParameter(sendEvent_, events_, id, parameter, nullptr);
}
