// Finding and loading the Java VM library (libjvm.so, on Windows jvm.dll) at run time.
// Places, in order:
//   1. the file named by the environment variable AURALINK_JVM_LIBRARY;
//   2. $JAVA_HOME/lib/server/libjvm.so (Windows: %JAVA_HOME%\bin\server\jvm.dll);
//   3. the system's default JVM: /usr/lib/jvm/default-java/lib/server/libjvm.so on Linux;
//      on Windows the JavaHome of the current version registered under
//      HKEY_LOCAL_MACHINE\SOFTWARE\JavaSoft ("JDK", then "Java Runtime Environment", then
//      "Java Development Kit").
// The first that loads and offers JNI_CreateJavaVM is used.
#pragma once
#include <jni.h>

#include <string>
#include <vector>

namespace auralink::orvex {

inline constexpr const char* kJvmLibraryVariable = "AURALINK_JVM_LIBRARY";
inline constexpr const char* kDefaultJavaHome = "/usr/lib/jvm/default-java";

// The system's default Java home: kDefaultJavaHome on Linux, the JavaSoft registry's on
// Windows (empty when none is registered).
std::string SystemJavaHome();

using CreateJavaVmFunction = jint (*)(JavaVM**, void**, void*);

// The places to try; unset (null or empty) variables add none.
std::vector<std::string> JvmLibraryCandidates(const char* jvmLibrary, const char* javaHome,
                                              const std::string& defaultJavaHome);
// ... from this process's environment.
std::vector<std::string> JvmLibraryCandidates();

// JNI_CreateJavaVM of the first candidate that provides it, whose path goes to `loaded`;
// the library stays loaded for the life of the process. Null when none does, with every
// place and why it failed in `failures` ("<path>: <reason>; ...").
CreateJavaVmFunction LoadJvmLibrary(const std::vector<std::string>& candidates, std::string& loaded,
                                    std::string& failures);

// The one option the VM is started with: the class path made of the adapter folder
// (APATH, "." when unset or empty, without a trailing separator) and the four archives in
// it, joined by the system's class-path separator (":" on Linux, ";" on Windows).
std::string JavaClassPathOption(const char* adapterPath);

}  // namespace auralink::orvex
