#include <atlbase.h>
#include <statreg.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "com_test_helpers.h"
#include "test_sandbox.h"
#include "test_server.h"
#include <auralink/platform/text.h>
#include <auralink/platform/error_text.h>

namespace {

using auralink::testing::CallModuleEntry;
using auralink::testing::ComScope;
using auralink::testing::CountSubkeysAndValues;
using auralink::testing::CreateKey;
using auralink::testing::KeyExists;
using auralink::testing::ReadString;
using auralink::testing::SetDefaultString;
using auralink::testing::TestOuter;
using auralink::testing::TestSandbox;

constexpr char kClsid[] = "{1F6C2E84-95A3-4D07-8E21-C45B3A906FD2}";
constexpr char kClassKey[] = "CLSID\\{1F6C2E84-95A3-4D07-8E21-C45B3A906FD2}";
constexpr char kNoteKey[] = "CLSID\\{7A41D9E3-0F58-4B2C-A793-2D86E15C40BB}";
constexpr char kLibraryKey[] = "TypeLib\\{9B3F51D0-2C47-4E8A-B16D-530EA2947C18}";
constexpr char kLibid[] = "{9B3F51D0-2C47-4E8A-B16D-530EA2947C18}";

DEFINE_GUID(kMissing, 0x0BADC0DE, 0x0001, 0x0002, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A);

std::string LastFailure() { return auralink::platform::LastComFailureText(); }

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A machine that already has classes and type libraries of others.
    SetDefaultString(HKEY_CLASSES_ROOT, "CLSID\\{11111111-2222-3333-4444-555555555555}", "Other Class");
    CreateKey(HKEY_CLASSES_ROOT, "TypeLib");
    before_ = TestSandbox::ReadFile(sandbox_.RegistryFile());
    ASSERT_EQ(CallModuleEntry(AURALINK_TEST_SERVER, "DllRegisterServer"), S_OK)
        << auralink::platform::LastRegistrarErrorText();
  }

  // Points a class's InprocServer32 at a module of the test's choice.
  static void RegisterClassAt(const char* clsid, const std::string& module) {
    SetDefaultString(HKEY_CLASSES_ROOT, std::string("CLSID\\") + clsid + "\\InprocServer32", module);
  }

  static CComPtr<ICalculator> CreateCalculator() {
    CLSID clsid = GUID_NULL;
    EXPECT_EQ(CLSIDFromProgID(L"" TEST_CALCULATOR_PROGID, &clsid), S_OK);
    CComPtr<ICalculator> calculator;
    EXPECT_EQ(calculator.CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER), S_OK) << LastFailure();
    return calculator;
  }

  TestSandbox sandbox_;
  ComScope com_;
  std::string before_;
};

TEST_F(ServerTest, RegistrationWritesProgIdsClassAndTypeLibraryAndUnregistrationLeavesNothing) {
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "AuralinkTest.Calculator.1"), "Calculator Class");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "AuralinkTest.Calculator.1\\CLSID"), kClsid);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "AuralinkTest.Calculator"), "Calculator Class");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "AuralinkTest.Calculator\\CLSID"), kClsid);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, "AuralinkTest.Calculator\\CurVer"), "AuralinkTest.Calculator.1");

  const std::string classKey = kClassKey;
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, classKey), "Calculator Class");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, classKey + "\\ProgID"), "AuralinkTest.Calculator.1");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, classKey + "\\VersionIndependentProgID"), "AuralinkTest.Calculator");
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, classKey + "\\Programmable"));
  EXPECT_EQ(CountSubkeysAndValues(HKEY_CLASSES_ROOT, classKey + "\\Programmable"), 0u);
  // The module's own path, although the registering code runs in the test program.
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, classKey + "\\InprocServer32"), AURALINK_TEST_SERVER);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, classKey + "\\InprocServer32", "ThreadingModel"), "Apartment");
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, classKey + "\\TypeLib"), kLibid);

  // The class that cannot be created is described, without a server.
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, kNoteKey), "CalcNote Class");
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::string(kNoteKey) + "\\InprocServer32"));

  const std::string library = std::string(kLibraryKey) + "\\1.0";
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, library), TEST_TYPELIB_DESCRIPTION);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, library + "\\0\\win64"), AURALINK_TEST_SERVER);
  EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, library + "\\FLAGS"), "0");
  EXPECT_FALSE(ReadString(HKEY_CLASSES_ROOT, library + "\\HELPDIR").empty());

  ASSERT_EQ(CallModuleEntry(AURALINK_TEST_SERVER, "DllUnregisterServer"), S_OK);
  EXPECT_EQ(TestSandbox::ReadFile(sandbox_.RegistryFile()), before_);
}

TEST_F(ServerTest, CreatedByProgIdAndCalledThroughTheVtable) {
  CLSID versioned = GUID_NULL;
  ASSERT_EQ(CLSIDFromProgID(L"AuralinkTest.Calculator.1", &versioned), S_OK);
  EXPECT_EQ(versioned, CLSID_TestCalculator);

  CComPtr<ICalculator> calculator = CreateCalculator();
  ASSERT_TRUE(calculator);
  LONG sum = 0;
  EXPECT_EQ(calculator->Add(40, 2, &sum), S_OK);
  EXPECT_EQ(sum, 42);

  CComBSTR echoed;
  EXPECT_EQ(calculator->Echo(CComBSTR("Grüße"), &echoed), S_OK);
  EXPECT_EQ(echoed.ToNarrow(), "Grüße");

  CComSafeArrayOwner items;
  ASSERT_EQ(calculator->MakeList(3, &items), S_OK);
  ASSERT_EQ(items.GetCount(), 3u);
  CComVariant item;
  LONG index = 2;
  ASSERT_EQ(SafeArrayGetElement(items, &index, &item), S_OK);
  EXPECT_EQ(item.vt, VT_BSTR);
  EXPECT_STREQ(item.bstrVal, L"item 2");
  EXPECT_EQ(calculator->MakeList(-1, &items), E_INVALIDARG);

  void* unsupported = reinterpret_cast<void*>(1);
  EXPECT_EQ(calculator->QueryInterface(IID_IClassFactory, &unsupported), E_NOINTERFACE);
  EXPECT_EQ(unsupported, nullptr);
  CComQIPtr<IDispatch> dispatch(calculator);
  EXPECT_TRUE(dispatch);
}

TEST_F(ServerTest, CalledThroughIDispatchWithInAndOutParameters) {
  CComPtr<ICalculator> calculator = CreateCalculator();
  CComQIPtr<IDispatch> dispatch(calculator);
  ASSERT_TRUE(dispatch);

  DISPID ids[3] = {};
  const wchar_t* names[] = {L"add", L"ECHO", L"MakeList"};
  for (int i = 0; i < 3; ++i) {
    LPOLESTR name = const_cast<LPOLESTR>(names[i]);
    ASSERT_EQ(dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &ids[i]), S_OK);
    EXPECT_EQ(ids[i], i + 1);
  }

  LONG sum = 0;
  VARIANT add[3];  // reverse order: sum, b, a
  for (VARIANT& v : add) VariantInit(&v);
  add[2].vt = VT_I4;
  add[2].lVal = 30;
  add[1].vt = VT_I2;
  add[1].iVal = 12;
  add[0].vt = VT_BYREF | VT_I4;
  add[0].plVal = &sum;
  DISPPARAMS addParams = {add, nullptr, 3, 0};
  EXPECT_EQ(dispatch->Invoke(ids[0], IID_NULL, 0, DISPATCH_METHOD, &addParams, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(sum, 42);

  CComBSTR text("echo me");
  BSTR echoed = nullptr;
  VARIANT echo[2];
  VariantInit(&echo[0]);
  VariantInit(&echo[1]);
  echo[1].vt = VT_BSTR;
  echo[1].bstrVal = text;
  echo[0].vt = VT_BYREF | VT_BSTR;
  echo[0].pbstrVal = &echoed;
  DISPPARAMS echoParams = {echo, nullptr, 2, 0};
  EXPECT_EQ(dispatch->Invoke(ids[1], IID_NULL, 0, DISPATCH_METHOD, &echoParams, nullptr, nullptr, nullptr), S_OK);
  EXPECT_STREQ(echoed, L"echo me");
  SysFreeString(echoed);

  // In/out array: the old one is replaced (and freed by the server).
  SAFEARRAY* list = SafeArrayCreateVector(VT_VARIANT, 0, 7);
  VARIANT make[2];
  VariantInit(&make[0]);
  VariantInit(&make[1]);
  make[1].vt = VT_I4;
  make[1].lVal = 2;
  make[0].vt = VT_BYREF | VT_ARRAY | VT_VARIANT;
  make[0].pparray = &list;
  DISPPARAMS makeParams = {make, nullptr, 2, 0};
  UINT argErr = 0;
  EXPECT_EQ(dispatch->Invoke(ids[2], IID_NULL, 0, DISPATCH_METHOD, &makeParams, nullptr, nullptr, &argErr), S_OK);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->rgsabound[0].cElements, 2u);
  SafeArrayDestroy(list);

  make[1].vt = VT_BSTR;
  make[1].bstrVal = text;
  EXPECT_EQ(dispatch->Invoke(ids[2], IID_NULL, 0, DISPATCH_METHOD, &makeParams, nullptr, nullptr, &argErr),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argErr, 1u);
  EXPECT_EQ(dispatch->Invoke(4, IID_NULL, 0, DISPATCH_METHOD, &makeParams, nullptr, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
}

TEST_F(ServerTest, FailuresAnswerTheWindowsCodesWithTheirReason) {
  IUnknown* unknown = nullptr;
  auto create = [&unknown](REFCLSID clsid, DWORD context = CLSCTX_INPROC_SERVER) {
    return CoCreateInstance(clsid, nullptr, context, IID_IUnknown, reinterpret_cast<void**>(&unknown));
  };
  EXPECT_EQ(create(kMissing), REGDB_E_CLASSNOTREG);
  EXPECT_NE(LastFailure().find("HKEY_CLASSES_ROOT\\CLSID\\{0BADC0DE-0001-0002-0304-05060708090A} is missing"),
            std::string::npos)
      << LastFailure();

  EXPECT_EQ(create(CLSID_TestCalcNote), REGDB_E_CLASSNOTREG);
  EXPECT_NE(LastFailure().find("InprocServer32 is missing"), std::string::npos) << LastFailure();
  EXPECT_EQ(create(CLSID_TestCalculator, CLSCTX_LOCAL_SERVER), REGDB_E_CLASSNOTREG);

  const char* kNowhere = "{22222222-0000-0000-0000-000000000001}";
  const std::string missingPath = sandbox_.Path("libnot-there.so");
  RegisterClassAt(kNowhere, missingPath);
  CLSID nowhere = GUID_NULL;
  ASSERT_EQ(CLSIDFromString(auralink::platform::ToWide(kNowhere).c_str(), &nowhere), S_OK);
  EXPECT_EQ(create(nowhere), CO_E_DLLNOTFOUND);
  EXPECT_NE(LastFailure().find(missingPath), std::string::npos) << LastFailure();

  const char* kPlain = "{22222222-0000-0000-0000-000000000002}";
  RegisterClassAt(kPlain, AURALINK_PLAIN_LIBRARY);
  CLSID plain = GUID_NULL;
  ASSERT_EQ(CLSIDFromString(auralink::platform::ToWide(kPlain).c_str(), &plain), S_OK);
  EXPECT_EQ(create(plain), CO_E_ERRORINDLL);
  EXPECT_NE(LastFailure().find("DllGetClassObject"), std::string::npos) << LastFailure();

  // A module that does not serve the class asked for.
  const char* kStranger = "{22222222-0000-0000-0000-000000000003}";
  RegisterClassAt(kStranger, AURALINK_TEST_SERVER);
  CLSID stranger = GUID_NULL;
  ASSERT_EQ(CLSIDFromString(auralink::platform::ToWide(kStranger).c_str(), &stranger), S_OK);
  EXPECT_EQ(create(stranger), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(unknown, nullptr);

  EXPECT_EQ(create(CLSID_TestCalculator), S_OK);
  EXPECT_EQ(LastFailure(), "");
  unknown->Release();
}

TEST_F(ServerTest, AggregationOnlyThroughIUnknown) {
  {
    TestOuter outer;
    ASSERT_EQ(CoCreateInstance(CLSID_TestCalculator, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&outer.inner)),
              S_OK);
    CComPtr<ICalculator> calculator;
    ASSERT_EQ(outer.QueryInterface(IID_ICalculator, reinterpret_cast<void**>(&calculator)), S_OK);
    EXPECT_EQ(outer.refs, 2);
    LONG sum = 0;
    EXPECT_EQ(calculator->Add(1, 2, &sum), S_OK);
    EXPECT_EQ(sum, 3);
  }
  TestOuter outer;
  ICalculator* calculator = nullptr;
  EXPECT_EQ(CoCreateInstance(CLSID_TestCalculator, &outer, CLSCTX_INPROC_SERVER, IID_ICalculator,
                             reinterpret_cast<void**>(&calculator)),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(calculator, nullptr);
  EXPECT_EQ(outer.refs, 1);
}

TEST_F(ServerTest, ObjectsAndServerLocksKeepTheModuleLoaded) {
  HMODULE module = LoadLibraryA(AURALINK_TEST_SERVER);
  ASSERT_NE(module, nullptr);
  auto canUnloadNow = reinterpret_cast<LPFNCANUNLOADNOW>(GetProcAddress(module, "DllCanUnloadNow"));
  ASSERT_NE(canUnloadNow, nullptr);
  EXPECT_EQ(canUnloadNow(), S_OK);

  {
    CComPtr<ICalculator> calculator = CreateCalculator();
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    CoFreeUnusedLibraries();  // must not take the module from under a live object
    LONG sum = 0;
    EXPECT_EQ(calculator->Add(2, 2, &sum), S_OK);
  }
  EXPECT_EQ(canUnloadNow(), S_OK);

  CComPtr<IClassFactory> factory;
  ASSERT_EQ(CoGetClassObject(CLSID_TestCalculator, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             reinterpret_cast<void**>(&factory)),
            S_OK);
  EXPECT_EQ(canUnloadNow(), S_FALSE);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  factory.Release();
  EXPECT_EQ(canUnloadNow(), S_FALSE);  // the server lock outlives the factory
  ASSERT_EQ(CoGetClassObject(CLSID_TestCalculator, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             reinterpret_cast<void**>(&factory)),
            S_OK);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  factory.Release();
  EXPECT_EQ(canUnloadNow(), S_OK);
  FreeLibrary(module);

  // After the cache let it go, the next creation loads it again.
  CoFreeUnusedLibraries();
  EXPECT_TRUE(CreateCalculator());
}

TEST_F(ServerTest, ThreadsCreateObjectsConcurrently) {
  ComScope mta(COINIT_MULTITHREADED);
  ASSERT_EQ(mta.Result(), RPC_E_CHANGED_MODE);  // this thread stays in its apartment
  std::vector<std::thread> threads;
  std::vector<HRESULT> results(6, E_FAIL);
  for (size_t t = 0; t < results.size(); ++t) {
    threads.emplace_back([&results, t] {
      ComScope threadCom(COINIT_MULTITHREADED);
      results[t] = S_OK;
      for (int i = 0; i < 20 && SUCCEEDED(results[t]); ++i) {
        CComPtr<ICalculator> calculator;
        results[t] = calculator.CoCreateInstance(CLSID_TestCalculator, nullptr, CLSCTX_INPROC_SERVER);
        LONG sum = 0;
        if (SUCCEEDED(results[t])) results[t] = calculator->Add(i, 1, &sum);
        if (t % 2 == 0) CoFreeUnusedLibraries();
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (HRESULT hr : results) EXPECT_EQ(hr, S_OK);
}

}  // namespace
