#include <gtest/gtest.h>
#include <statreg.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "com_test_helpers.h"
#include "test_sandbox.h"

namespace {

using auralink::testing::CountSubkeysAndValues;
using auralink::testing::CreateKey;
using auralink::testing::KeyExists;
using auralink::testing::ReadString;
using auralink::testing::SetDefaultString;
using auralink::testing::TestSandbox;

DEFINE_GUID(kLibid, 0x9B3F51D0, 0x2C47, 0x4E8A, 0xB1, 0x6D, 0x53, 0x0E, 0xA2, 0x94, 0x7C, 0x18);
constexpr char kClsid[] = "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}";

constexpr char kScript[] = R"(
HKCR
{
	Sample.Thing = s 'Thing Class'
	{
		CLSID = s '%CLSID%'
	}
	NoRemove CLSID
	{
		ForceRemove %CLSID% = s 'Thing Class'
		{
			'Programmable'
			InprocServer32 = s '%Module%'
			{
				val ThreadingModel = s 'Apartment'
			}
		}
	}
}
HKEY_LOCAL_MACHINE
{
	NoRemove SOFTWARE
	{
		NoRemove Kestrova
		{
			val Counter = d '42'
			val Mask = d 0xFF
			val Blob = b 0A0B
			Added = s 'it''s 100%% here'
		}
	}
}
)";

DWORD ReadDword(HKEY root, const std::string& path, const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return 0xDEADBEEF;
  DWORD value = 0xDEADBEEF, type = 0, bytes = sizeof(value);
  RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(&value), &bytes);
  RegCloseKey(key);
  return type == REG_DWORD ? value : 0xDEADBEEF;
}

class RegistrarTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // What a machine already has: other classes, and the agent's own settings.
    SetDefaultString(HKEY_CLASSES_ROOT, "CLSID\\{11111111-2222-3333-4444-555555555555}", "Other Class");
    SetDefaultString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kestrova\\Auralink", "settings");
    registrar_.AddReplacement("CLSID", kClsid);
    registrar_.AddReplacement("MODULE", "/opt/auralink/lib/libthing.so");
  }

  std::string RegistryText() const { return TestSandbox::ReadFile(sandbox_.RegistryFile()); }

  TestSandbox sandbox_;
  ATL::CRegObject registrar_;
};

TEST_F(RegistrarTest, RegisterWritesEveryKeyAndUnregisterRemovesExactlyThose) {
  const std::string before = RegistryText();
  ASSERT_EQ(registrar_.StringRegister(kScript), S_OK) << registrar_.GetErrorText();

  const std::string classKey = std::string("CLSID\\") + kClsid;
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "Sample.Thing"), "Thing Class");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "Sample.Thing\\CLSID"), kClsid);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, classKey), "Thing Class");
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, classKey + "\\Programmable"));
  EXPECT_EQ(CountSubkeysAndValues(HKEY_CLASSES_ROOT, classKey + "\\Programmable"), 0u);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, classKey + "\\InprocServer32"), "/opt/auralink/lib/libthing.so");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, classKey + "\\InprocServer32", "ThreadingModel"), "Apartment");
  EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kestrova", "Counter"), 42u);
  EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kestrova", "Mask"), 0xFFu);
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kestrova\\Added"), "it's 100% here");
  // HKEY_CLASSES_ROOT is a view of the machine's classes.
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\Sample.Thing"), "Thing Class");

  // Registering again changes nothing.
  const std::string registered = RegistryText();
  ASSERT_EQ(registrar_.StringRegister(kScript), S_OK);
  EXPECT_EQ(RegistryText(), registered);

  ASSERT_EQ(registrar_.StringUnregister(kScript), S_OK) << registrar_.GetErrorText();
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Sample.Thing"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, classKey));
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "CLSID\\{11111111-2222-3333-4444-555555555555}"), "Other Class");
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kestrova\\Auralink"), "settings");
  EXPECT_EQ(RegistryText(), before);

  // Unregistering what is not there is no failure.
  EXPECT_EQ(registrar_.StringUnregister(kScript), S_OK);
  EXPECT_EQ(RegistryText(), before);
}

TEST_F(RegistrarTest, ForceRemoveAndDeleteClearOldContentOnRegistration) {
  const std::string classKey = std::string("CLSID\\") + kClsid;
  CreateKey(HKEY_CLASSES_ROOT, classKey + "\\Stale");
  CreateKey(HKEY_CLASSES_ROOT, "Sample.Thing\\Kept");
  CreateKey(HKEY_CLASSES_ROOT, "Old.Thing\\CLSID");
  const char* script = R"(
HKCR
{
	Delete Old.Thing
	Sample.Thing = s 'Thing Class'
	NoRemove CLSID
	{
		ForceRemove %CLSID% = s 'Thing Class'
	}
}
)";
  ASSERT_EQ(registrar_.StringRegister(script), S_OK) << registrar_.GetErrorText();
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, classKey + "\\Stale"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "Sample.Thing\\Kept"));  // a plain key is written over
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Old.Thing"));

  CreateKey(HKEY_CLASSES_ROOT, "Old.Thing");
  ASSERT_EQ(registrar_.StringUnregister(script), S_OK);
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "Old.Thing"));  // Delete only acts on registration
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Sample.Thing"));  // removed with its subtree
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "CLSID"));
}

// Keys nested `levels` deep under HKLM, one per line from line 3, the innermost holding
// `bottom`.
std::string NestedScript(int levels, const std::string& bottom) {
  std::string script = "HKLM\n{\n";
  for (int level = 1; level <= levels; ++level) script += "K {\n";
  script += bottom;
  for (int level = 0; level <= levels; ++level) script += "}\n";
  return script;
}

TEST_F(RegistrarTest, SyntaxErrorsNameTheLineAndChangeNothing) {
  const struct {
    std::string script;
    const char* expected;
  } cases[] = {
      {"HKCR\n{\n  Key = x 'v'\n}\n", "line 3: value type s, d or b expected"},
      {"HKCR\n{\n  Key = s 'not closed\n}\n", "line 3: the quoted text"},
      {"HKXX\n{\n}\n", "line 1: 'HKXX' is not a root key"},
      {"HKCR\n{\n  Key\n  {\n    Sub\n", "line 4: the '{' on this line is not closed"},
      {"HKCR\n{\n  val Name = s 'v'\n}\n", "line 3: values cannot be set on a root key"},
      {"HKCR\n{\n  Key = s '%UNKNOWN%'\n}\n", "line 3: %UNKNOWN% has no replacement"},
      {"HKCR\n{\n  Key\n  {\n    val N = d 'abc'\n  }\n}\n", "line 5: 'abc' is not a 32-bit number"},
      {"HKCR\n{\n  Key\n  {\n    val N = d 4294967296\n  }\n}\n", "line 5:"},
      {"HKCR\n{\n  Key\n  {\n    val N 's'\n  }\n}\n", "line 5: '=' expected after val N"},
      {"}\n", "line 1: '}' without a matching '{'"},
      {"HKCR\n{\n  Key = s\n}\n", "line 4: a value is expected after 's'"},
      {"HKCR Key\n", "line 1: '{' expected after the root key HKCR"},
      // A valid first part does not get written when a later part is wrong.
      {"HKCR\n{\n  Valid.Key = s 'v'\n}\nHKLM\n{\n  Other = q 'v'\n}\n", "line 7:"},
      // Keys nest as deep as the registry allows (so the bad value at the bottom is what
      // is reported), and no deeper, however deep the script goes.
      {NestedScript(512, "val N = d 'abc'\n"), "line 515: 'abc' is not a 32-bit number"},
      {NestedScript(513, ""), "line 515: keys are nested deeper than 512 levels"},
      {NestedScript(200000, ""), "line 515: keys are nested deeper than 512 levels"},
  };
  const std::string before = RegistryText();
  for (const auto& c : cases) {
    EXPECT_EQ(registrar_.StringRegister(c.script.c_str()), DISP_E_EXCEPTION) << c.script.substr(0, 200);
    EXPECT_NE(registrar_.GetErrorText().find(c.expected), std::string::npos)
        << "got: " << registrar_.GetErrorText() << "\nexpected: " << c.expected;
    EXPECT_EQ(std::string(auralink::platform::LastRegistrarErrorText()), registrar_.GetErrorText());
    EXPECT_EQ(registrar_.StringUnregister(c.script.c_str()), DISP_E_EXCEPTION);
  }
  EXPECT_EQ(RegistryText(), before);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Valid.Key"));
}

TEST_F(RegistrarTest, FailedRegistrationTakesBackWhatItWrote) {
  const std::string before = RegistryText();
  const std::string tooLong(300, 'x');
  const std::string script = "HKCR\n{\n  First.Key = s 'v'\n  " + tooLong + " = s 'v'\n}\n";
  HRESULT hr = registrar_.StringRegister(script.c_str());
  EXPECT_TRUE(FAILED(hr));
  EXPECT_NE(hr, DISP_E_EXCEPTION);
  EXPECT_NE(registrar_.GetErrorText().find("cannot create HKEY_CLASSES_ROOT\\" + tooLong), std::string::npos)
      << registrar_.GetErrorText();
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "First.Key"));
  EXPECT_EQ(RegistryText(), before);
}

TEST(TypeLibraryRegistration, WritesTheVersionKeyAndRemovesOnlyWhatIsEmpty) {
  TestSandbox sandbox;
  const std::string libraryKey = "TypeLib\\{9B3F51D0-2C47-4E8A-B16D-530EA2947C18}";
  CreateKey(HKEY_CLASSES_ROOT, "TypeLib");
  const std::string before = TestSandbox::ReadFile(sandbox.RegistryFile());

  ASSERT_EQ(auralink::platform::RegisterTypeLibrary(kLibid, 1, 0, "Thing 1.0 Type Library", "/opt/lib/libthing.so"),
            S_OK);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, libraryKey + "\\1.0"), "Thing 1.0 Type Library");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, libraryKey + "\\1.0\\0\\win64"), "/opt/lib/libthing.so");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, libraryKey + "\\1.0\\FLAGS"), "0");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, libraryKey + "\\1.0\\HELPDIR"), "/opt/lib");

  // Another version keeps the library's key; the last one takes it along.
  ASSERT_EQ(auralink::platform::RegisterTypeLibrary(kLibid, 2, 10, "Thing 2.10", "/opt/lib/libthing2.so"), S_OK);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, libraryKey + "\\2.a"), "Thing 2.10");
  ASSERT_EQ(auralink::platform::UnregisterTypeLibrary(kLibid, 1, 0), S_OK);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, libraryKey + "\\1.0"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, libraryKey));
  ASSERT_EQ(auralink::platform::UnregisterTypeLibrary(kLibid, 2, 10), S_OK);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, libraryKey));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "TypeLib"));
  EXPECT_EQ(TestSandbox::ReadFile(sandbox.RegistryFile()), before);

  EXPECT_EQ(auralink::platform::UnregisterTypeLibrary(kLibid, 1, 0), S_OK);  // not registered: nothing to do
  EXPECT_EQ(auralink::platform::RegisterTypeLibrary(kLibid, 1, 0, "x", ""), E_INVALIDARG);
}

}  // namespace
