// The registrar: applies the registration scripts of COM servers to the registry, and
// registers type libraries.
//
// Script syntax (tokens are separated by blanks or line ends):
//
//   HKCR                                        root: HKCR, HKCU, HKLM or their long names
//   {
//     Touchpoint.Hub = s 'Hub Class'            key with a default value
//     {
//       CLSID = s '%CLSID%'                     %NAME% is replaced (%% is a percent sign)
//     }
//     NoRemove CLSID                            kept on unregistration
//     {
//       ForceRemove %CLSID% = s 'Hub Class'     removed with its subtree before it is written
//       {
//         ForceRemove 'Programmable'            quoted names ('' is a quote inside them)
//         InprocServer32 = s '%MODULE%'
//         {
//           val ThreadingModel = s 'Apartment'  named value: s text, d number, b hex bytes
//         }
//       }
//     }
//     Delete OldKey                             deleted on registration, ignored on removal
//   }
//
// Registration creates every key and writes every value. Unregistration deletes each key
// without NoRemove together with its subtree, and only the named values of NoRemove keys.
// A script with a syntax error changes nothing and names its line in the error text.
#pragma once
#include <map>
#include <string>

#include <windows.h>

namespace ATL {

class CRegObject {
 public:
  // %key% in a script becomes item. Keys compare case-insensitively.
  HRESULT AddReplacement(LPCSTR key, LPCSTR item);
  HRESULT ClearReplacements();

  // Register or unregister one script. Syntax errors answer DISP_E_EXCEPTION, registry
  // failures the Win32 error as an HRESULT; GetErrorText says what went wrong. A
  // registration that fails half way removes what it wrote.
  HRESULT StringRegister(LPCSTR script);
  HRESULT StringUnregister(LPCSTR script);

  // Empty after a success.
  const std::string& GetErrorText() const { return m_errorText; }

 private:
  struct NoCaseLess {
    bool operator()(const std::string& a, const std::string& b) const;
  };
  HRESULT Apply(LPCSTR script, bool bRegister);

  std::map<std::string, std::string, NoCaseLess> m_replacements;
  std::string m_errorText;
};

}  // namespace ATL

namespace auralink::platform {

// One interface that a module's type library describes (the list ends with a null name).
struct TypeLibraryInterface {
  const char* name;
  const IID* iid;
};

// Registers the type library of a module. On Windows the system registers the library
// resource of the module (LoadTypeLibEx and RegisterTypeLib), with its interfaces. On Linux
// the same keys are written: HKCR\TypeLib\{libid}\<major>.<minor> = description, with
// 0\win64 = the module's path, FLAGS = "0" and HELPDIR = the module's folder; and for each
// interface HKCR\Interface\{iid} = name, with ProxyStubClsid32 (the automation marshaler)
// and TypeLib = {libid} (value Version "<major>.<minor>").
HRESULT RegisterTypeLibrary(REFGUID libid, WORD major, WORD minor, const char* description,
                            const char* modulePath, const TypeLibraryInterface* interfaces = nullptr);
// Removes {libid}\<major>.<minor>, and {libid} itself when nothing else is left in it, and
// the keys of those interfaces whose TypeLib still names this library.
HRESULT UnregisterTypeLibrary(REFGUID libid, WORD major, WORD minor,
                              const TypeLibraryInterface* interfaces = nullptr);

// Why the last registration or unregistration of this thread failed (registrar or type
// library); empty after a success.
const char* LastRegistrarErrorText();

}  // namespace auralink::platform
