#include <gtest/gtest.h>
#include <objbase.h>

#include <thread>

#include "com_test_helpers.h"
#include "test_sandbox.h"
#include <auralink/platform/error_text.h>

namespace {

DEFINE_GUID(kUnregisteredClass, 0x0BADC0DE, 0x1111, 0x2222, 0x33, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x66);

HRESULT CreateUnregistered() {
  IUnknown* unknown = nullptr;
  return CoCreateInstance(kUnregisteredClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                          reinterpret_cast<void**>(&unknown));
}

TEST(ComApartment, RepeatedInitialisationIsCountedAndModeChangesAreRefused) {
  std::thread([] {
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    CoUninitialize();
    CoUninitialize();
    // Balanced: the thread may now pick the other model.
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
    CoUninitialize();
    CoUninitialize();  // one too many is harmless
  }).join();
}

TEST(ComApartment, RefusesReservedPointerAndUnknownFlags) {
  int reserved = 0;
  EXPECT_EQ(CoInitializeEx(&reserved, COINIT_MULTITHREADED), E_INVALIDARG);
  EXPECT_EQ(CoInitializeEx(nullptr, 0x100), E_INVALIDARG);
  EXPECT_EQ(CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_NONE, RPC_C_IMP_LEVEL_IDENTIFY,
                                 nullptr, EOAC_NONE, nullptr),
            S_OK);
}

TEST(ComApartment, CreationNeedsAnInitialisedThreadOrAnOpenMultithreadedApartment) {
  auralink::testing::TestSandbox sandbox;
  std::thread([] {
    EXPECT_EQ(CreateUnregistered(), CO_E_NOTINITIALIZED);
    EXPECT_NE(std::string(auralink::platform::LastComFailureText()).find("not initialised"), std::string::npos);
  }).join();

  {
    // A single-threaded apartment elsewhere does not help this thread.
    auralink::testing::ComScope sta(COINIT_APARTMENTTHREADED);
    std::thread([] { EXPECT_EQ(CreateUnregistered(), CO_E_NOTINITIALIZED); }).join();
  }
  {
    // The multithreaded apartment takes in every thread of the process, as on Windows.
    auralink::testing::ComScope mta(COINIT_MULTITHREADED);
    std::thread([] { EXPECT_EQ(CreateUnregistered(), REGDB_E_CLASSNOTREG); }).join();
  }
  std::thread([] { EXPECT_EQ(CreateUnregistered(), CO_E_NOTINITIALIZED); }).join();
}

TEST(ComApartment, ThreadEndingInsideTheMultithreadedApartmentLeavesIt) {
  auralink::testing::TestSandbox sandbox;
  std::thread([] { EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK); }).join();
  std::thread([] { EXPECT_EQ(CreateUnregistered(), CO_E_NOTINITIALIZED); }).join();
}

}  // namespace

namespace {

IGlobalInterfaceTable* CreateGlobalInterfaceTable() {
  IGlobalInterfaceTable* table = nullptr;
  EXPECT_EQ(CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER, IID_IGlobalInterfaceTable,
                             reinterpret_cast<void**>(&table)),
            S_OK);
  return table;
}

TEST(ComApartment, GlobalInterfaceTableKeepsAnInterfaceForEveryThreadUntilRevoked) {
  std::thread([] {
    IGlobalInterfaceTable* table = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER, IID_IGlobalInterfaceTable,
                               reinterpret_cast<void**>(&table)),
              CO_E_NOTINITIALIZED);
  }).join();

  auralink::testing::ComScope mta(COINIT_MULTITHREADED);
  IGlobalInterfaceTable* table = CreateGlobalInterfaceTable();
  ASSERT_TRUE(table);
  auralink::testing::TestOuter object;  // answers IUnknown only; counts its references
  DWORD cookie = 0, other = 0;
  EXPECT_EQ(table->RegisterInterfaceInGlobal(&object, IID_IClassFactory, &cookie), E_NOINTERFACE);
  EXPECT_EQ(cookie, 0u);
  EXPECT_EQ(object.refs, 1);
  EXPECT_EQ(table->RegisterInterfaceInGlobal(nullptr, IID_IUnknown, &cookie), E_INVALIDARG);
  ASSERT_EQ(table->RegisterInterfaceInGlobal(&object, IID_IUnknown, &cookie), S_OK);
  ASSERT_EQ(table->RegisterInterfaceInGlobal(&object, IID_IUnknown, &other), S_OK);
  EXPECT_NE(cookie, 0u);
  EXPECT_NE(cookie, other);
  EXPECT_EQ(object.refs, 3);

  // Fetched on a thread of its own apartment, and on a thread of another.
  for (DWORD model : {COINIT_MULTITHREADED, COINIT_APARTMENTTHREADED}) {
    std::thread([&] {
      auralink::testing::ComScope scope(model);
      IGlobalInterfaceTable* same = CreateGlobalInterfaceTable();
      IUnknown* fetched = nullptr;
      ASSERT_EQ(same->GetInterfaceFromGlobal(cookie, IID_IUnknown, reinterpret_cast<void**>(&fetched)), S_OK);
      EXPECT_EQ(fetched, static_cast<IUnknown*>(&object));
      EXPECT_EQ(object.refs, 4);
      fetched->Release();
      EXPECT_EQ(same->GetInterfaceFromGlobal(cookie, IID_IClassFactory, reinterpret_cast<void**>(&fetched)),
                E_NOINTERFACE);
      EXPECT_EQ(fetched, nullptr);
      same->Release();
    }).join();
  }

  EXPECT_EQ(table->RevokeInterfaceFromGlobal(cookie), S_OK);
  EXPECT_EQ(object.refs, 2);
  IUnknown* fetched = reinterpret_cast<IUnknown*>(&object);
  EXPECT_EQ(table->GetInterfaceFromGlobal(cookie, IID_IUnknown, reinterpret_cast<void**>(&fetched)), E_INVALIDARG);
  EXPECT_EQ(fetched, nullptr);
  EXPECT_EQ(table->RevokeInterfaceFromGlobal(cookie), E_INVALIDARG);
  EXPECT_EQ(table->RevokeInterfaceFromGlobal(other), S_OK);
  EXPECT_EQ(object.refs, 1);
  table->Release();
}

}  // namespace
