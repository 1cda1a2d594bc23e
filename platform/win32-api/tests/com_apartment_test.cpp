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
