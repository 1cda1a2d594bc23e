// The JNI layer in front of the Orvex adapter's Java classes. One bridge per process,
// made on the first GetInstance: it starts the Java VM (class path from APATH), binds the
// adapter's classes, methods and constants once, and obtains the Java adapter object.
//
// Every wrapper works from any thread (attaching it for the call when needed) and turns a
// Java exception raised by the call into an AdapterException carrying the exception's
// message. A wrapper whose Java class or method could not be bound throws an
// AdapterException naming it instead of calling.
#pragma once
#include <jni.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "adapter_constants.h"
#include "xml_text_parameter.h"

class JavaBridge {
 public:
  // The bridge of the process, bound with the adapter configuration file on the first
  // call; later calls return the same bridge and ignore the file. Throws AdapterException
  // when the VM cannot start or the Java adapter cannot be obtained (a later call then
  // tries again).
  static JavaBridge* GetInstance(const std::string& configFile);

  void authenticate(const std::string& sign, const std::string& certificate);
  // `flags` is a sum of the SUPPORTS_* constants of this side. Returns the identifier.
  std::string registerInstrumentation(const std::string& name, int flags, const std::vector<std::string>& classes,
                                      const std::vector<std::string>& linkTypes);
  void unregisterInstrumentation(const std::string& id);
  // `kind` is BULK_DISCOVERY or DELTA_DISCOVERY of this side.
  void beginDiscovery(const std::string& id, int kind);
  void commitDiscovery(const std::string& id);
  // `wait` goes to Java unchanged, except WAIT_RESPONSE_FOREVER, which becomes Java's own.
  void addObjectInstances(const std::string& id, const XmlTextParameter& parameter, int wait);
  void modifyObjectInstances(const std::string& id, const XmlTextParameter& parameter, int wait);
  void deleteObjectInstances(const std::string& id, const XmlTextParameter& parameter, int wait);
  void addLinkInstances(const std::string& id, const XmlTextParameter& parameter, int wait);
  void deleteLinkInstances(const std::string& id, const XmlTextParameter& parameter, int wait);
  void sendEvent(const std::string& id, const XmlTextParameter& parameter);

  // The Java value of a constant of this side (its own value when the Java field was missing).
  jint JavaConstant(auralink::orvex::AdapterConstant constant) const { return constants_[constant]; }

  ~JavaBridge();
  JavaBridge(const JavaBridge&) = delete;
  JavaBridge& operator=(const JavaBridge&) = delete;

 private:
  struct Method {
    jmethodID id = nullptr;
    const char* name;  // as an AdapterException names it when unbound
  };
  struct ParameterClass {
    jclass cls = nullptr;
    jmethodID constructor = nullptr;
    const char* name;
  };

  JavaBridge();
  void Bind(const std::string& configFile);
  // Entries bound before the adapter object is obtained: classes, constructors, constants.
  void BindClassesAndConstants(JNIEnv* env);
  void ObtainAdapter(JNIEnv* env, const std::string& configFile);
  void BindAdapterMethods(JNIEnv* env);
  void BindListener(JNIEnv* env);

  jclass FindGlobalClass(JNIEnv* env, const char* name, const char* failure);
  jmethodID FindMethod(JNIEnv* env, jclass cls, const char* name, const char* signature, const char* failure);
  jobject MakeGlobal(JNIEnv* env, jobject local);

  // The adapter object and the method, or an AdapterException naming what is missing.
  void RequireAdapterMethod(const Method& method) const;
  // The shared body of the five calls that take an identifier, a parameter and a wait.
  void CallWithParameter(const Method& method, const ParameterClass& parameterClass, const std::string& id,
                         const XmlTextParameter& parameter, const int* wait);
  // An identifier-only call (unregister, commit).
  void CallWithId(const Method& method, const std::string& id);
  // Throws the pending Java exception, if any, as an AdapterException.
  void CheckException();

  JavaVM* vm_ = nullptr;
  std::vector<jobject> globals_;  // every global reference, released by the destructor
  jclass stringClass_ = nullptr;
  jmethodID stringGetBytes_ = nullptr;
  jclass exceptionClass_ = nullptr;
  jmethodID exceptionGetMessage_ = nullptr;
  jclass adapterClass_ = nullptr;
  ParameterClass instances_{nullptr, nullptr, "InstancesParameter"};
  ParameterClass links_{nullptr, nullptr, "LinksParameter"};
  ParameterClass events_{nullptr, nullptr, "EventsParameter"};
  std::array<jint, auralink::orvex::kAdapterConstantSlots> constants_{};
  Method getInstance_{nullptr, "Adapter::getInstance()"};
  Method authenticate_{nullptr, "Adapter::authenticate()"};
  Method registerInstrumentation_{nullptr, "Adapter::registerInstrumentation()"};
  Method registerLoggingMode_{nullptr, "Adapter::registerLoggingMode()"};
  Method unregisterInstrumentation_{nullptr, "Adapter::unregisterInstrumentation()"};
  Method beginDiscovery_{nullptr, "Adapter::beginDiscovery()"};
  Method commitDiscovery_{nullptr, "Adapter::commitDiscovery()"};
  Method rollbackDiscovery_{nullptr, "Adapter::rollbackDiscovery()"};
  Method addObjectInstances_{nullptr, "Adapter::addObjectInstances()"};
  Method modifyObjectInstances_{nullptr, "Adapter::modifyObjectInstances()"};
  Method deleteObjectInstances_{nullptr, "Adapter::deleteObjectInstances()"};
  Method addLinkInstances_{nullptr, "Adapter::addLinkInstances()"};
  Method deleteLinkInstances_{nullptr, "Adapter::deleteLinkInstances()"};
  Method setAdapterListenerIF_{nullptr, "Adapter::setAdapterListenerIF()"};
  Method shutdown_{nullptr, "Adapter::shutdown()"};
  Method sendEvent_{nullptr, "Adapter::sendEvent()"};
  jobject adapter_ = nullptr;
  jclass listenerClass_ = nullptr;
  jmethodID listenerConstructor_ = nullptr;
  jmethodID listenerRemoveNativePointer_ = nullptr;
  jmethodID listenerSetNativePointer_ = nullptr;
  jobject listener_ = nullptr;
};
