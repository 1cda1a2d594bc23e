#include <atlbase.h>
#include <atlcom.h>
#include <gtest/gtest.h>

#include <new>
#include <thread>
#include <vector>

#include "com_test_helpers.h"

namespace {

DEFINE_GUID(IID_ICounter, 0x6B0F2A91, 0x44C3, 0x4E7D, 0xA0, 0x15, 0x9E, 0x2D, 0x71, 0x3C, 0x58, 0xB6);
DEFINE_GUID(IID_INamed, 0x8D24E5C7, 0x1A6F, 0x4C30, 0xB9, 0x52, 0x07, 0xEE, 0x43, 0x9A, 0x21, 0x6D);
DEFINE_GUID(CLSID_Counter, 0xE1B7C34A, 0x5F08, 0x4A9B, 0x8C, 0x3D, 0x62, 0x14, 0xF0, 0xAB, 0x97, 0x25);

struct ICounter : public IUnknown {
  STDMETHOD(Next)(LONG* value) PURE;
};
struct INamed : public IUnknown {
  STDMETHOD(Name)(BSTR* name) PURE;
};
}  // namespace
AURALINK_DECLARE_IID(ICounter, IID_ICounter);
AURALINK_DECLARE_IID(INamed, IID_INamed);

namespace {

using auralink::testing::TestOuter;

class ATL_NO_VTABLE CCounter : public CComObjectRootEx<CComSingleThreadModel>,
                               public CComCoClass<CCounter, &CLSID_Counter>,
                               public ICounter,
                               public INamed {
 public:
  BEGIN_COM_MAP(CCounter)
  COM_INTERFACE_ENTRY(ICounter)
  COM_INTERFACE_ENTRY(INamed)
  END_COM_MAP()

  STDMETHOD(Next)(LONG* value) override {
    *value = ++next_;
    return S_OK;
  }
  STDMETHOD(Name)(BSTR* name) override { return CComBSTR("counter").CopyTo(name); }

 private:
  LONG next_ = 0;
};

// FinalConstruct fails: the half-made object must go away without a trace.
class ATL_NO_VTABLE CFailing : public CComObjectRootEx<CComSingleThreadModel>,
                               public CComCoClass<CFailing>,
                               public ICounter {
 public:
  DECLARE_PROTECT_FINAL_CONSTRUCT()
  BEGIN_COM_MAP(CFailing)
  COM_INTERFACE_ENTRY(ICounter)
  END_COM_MAP()
  HRESULT FinalConstruct() { return E_ACCESSDENIED; }
  STDMETHOD(Next)(LONG*) override { return E_NOTIMPL; }
};

// Allocation always fails.
class ATL_NO_VTABLE CNoMemory : public CComObjectRootEx<CComSingleThreadModel>,
                                public CComCoClass<CNoMemory>,
                                public ICounter {
 public:
  BEGIN_COM_MAP(CNoMemory)
  COM_INTERFACE_ENTRY(ICounter)
  END_COM_MAP()
  static void* operator new(std::size_t, const std::nothrow_t&) noexcept { return nullptr; }
  static void operator delete(void* p) { ::operator delete(p); }
  STDMETHOD(Next)(LONG*) override { return E_NOTIMPL; }
};

class ATL_NO_VTABLE CShared : public CComObjectRootEx<CComMultiThreadModel>, public ICounter {
 public:
  BEGIN_COM_MAP(CShared)
  COM_INTERFACE_ENTRY(ICounter)
  END_COM_MAP()
  STDMETHOD(Next)(LONG* value) override {
    ObjectLock lock(this);
    *value = ++next_;
    return S_OK;
  }

 private:
  LONG next_ = 0;
};

TEST(AtlObjects, QueryInterfaceAnswersTheMapAndKeepsOneIdentity) {
  const LONG locksBefore = _Module.GetLockCount();
  {
    CComPtr<ICounter> counter;
    ASSERT_EQ(CCounter::CreateInstance(&counter), S_OK);
    EXPECT_EQ(_Module.GetLockCount(), locksBefore + 1);

    CComQIPtr<INamed> named(counter);
    ASSERT_TRUE(named);
    CComBSTR name;
    EXPECT_EQ(named->Name(&name), S_OK);
    EXPECT_TRUE(name == L"counter");
    EXPECT_TRUE(counter.IsEqualObject(named));

    void* unsupported = reinterpret_cast<void*>(1);
    EXPECT_EQ(counter->QueryInterface(IID_IDispatch, &unsupported), E_NOINTERFACE);
    EXPECT_EQ(unsupported, nullptr);
    EXPECT_EQ(counter->QueryInterface(IID_ICounter, nullptr), E_POINTER);
    CComQIPtr<IDispatch> noDispatch(counter);
    EXPECT_FALSE(noDispatch);
  }
  EXPECT_EQ(_Module.GetLockCount(), locksBefore);
}

TEST(AtlObjects, AggregatedObjectDelegatesToItsOuterObject) {
  const LONG locksBefore = _Module.GetLockCount();
  {
    TestOuter outer;
    ASSERT_EQ(CCounter::CreateInstance(static_cast<IUnknown*>(&outer), &outer.inner), S_OK);
    EXPECT_EQ(outer.refs, 1);  // the inner object holds no reference on its outer object

    ICounter* counter = nullptr;
    ASSERT_EQ(outer.QueryInterface(IID_ICounter, reinterpret_cast<void**>(&counter)), S_OK);
    EXPECT_EQ(outer.refs, 2);  // references on the inner interfaces count on the outer object
    LONG value = 0;
    EXPECT_EQ(counter->Next(&value), S_OK);
    EXPECT_EQ(value, 1);
    IUnknown* identity = nullptr;
    ASSERT_EQ(counter->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    EXPECT_EQ(identity, static_cast<IUnknown*>(&outer));
    identity->Release();
    counter->Release();
    EXPECT_EQ(outer.refs, 1);
    EXPECT_EQ(_Module.GetLockCount(), locksBefore + 1);
  }
  EXPECT_EQ(_Module.GetLockCount(), locksBefore);

  // Inside an outer object, only IUnknown may be asked for.
  TestOuter outer;
  ICounter* counter = nullptr;
  CComObjectNoLock<CComClassFactory> factory;
  factory.SetCreator(&CCounter::_CreatorClass::CreateInstance, &_Module);
  EXPECT_EQ(factory.CreateInstance(&outer, IID_ICounter, reinterpret_cast<void**>(&counter)), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(counter, nullptr);
}

TEST(AtlObjects, FailedCreationLeavesNothingBehind) {
  const LONG locksBefore = _Module.GetLockCount();
  CComPtr<ICounter> counter;
  EXPECT_EQ(CFailing::CreateInstance(&counter), E_ACCESSDENIED);
  EXPECT_FALSE(counter);
  EXPECT_EQ(CNoMemory::CreateInstance(&counter), E_OUTOFMEMORY);
  EXPECT_FALSE(counter);
  CComPtr<IDispatch> wrongInterface;
  EXPECT_EQ(CCounter::CreateInstance(&wrongInterface), E_NOINTERFACE);
  EXPECT_EQ(_Module.GetLockCount(), locksBefore);
}

TEST(AtlObjects, ClassFactoryLocksAndObjectsCountInTheModule) {
  const LONG locksBefore = _Module.GetLockCount();
  {
    CComObjectNoLock<CComClassFactory>* factory = new CComObjectNoLock<CComClassFactory>();
    factory->SetCreator(&CCounter::_CreatorClass::CreateInstance, &_Module);
    CComPtr<IClassFactory> holder(factory);
    EXPECT_EQ(_Module.GetLockCount(), locksBefore + 1);  // a live factory keeps the module
    EXPECT_EQ(holder->LockServer(TRUE), S_OK);
    EXPECT_EQ(_Module.GetLockCount(), locksBefore + 2);
    EXPECT_EQ(_Module.DllCanUnloadNow(), S_FALSE);
    CComPtr<ICounter> counter;
    ASSERT_EQ(holder->CreateInstance(nullptr, IID_ICounter, reinterpret_cast<void**>(&counter)), S_OK);
    EXPECT_EQ(_Module.GetLockCount(), locksBefore + 3);
    EXPECT_EQ(holder->LockServer(FALSE), S_OK);
  }
  EXPECT_EQ(_Module.GetLockCount(), locksBefore);
}

TEST(AtlObjects, MultithreadedObjectsCountReferencesAcrossThreads) {
  CComObject<CShared>* shared = nullptr;
  ASSERT_EQ(CComObject<CShared>::CreateInstance(&shared), S_OK);
  CComPtr<ICounter> counter(shared);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&counter] {
      for (int i = 0; i < 1000; ++i) {
        CComPtr<ICounter> copy(counter);
        LONG value = 0;
        copy->Next(&value);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  LONG last = 0;
  counter->Next(&last);
  EXPECT_EQ(last, 4001);
  EXPECT_EQ(shared->m_dwRef, 1);
}

TEST(AtlOwners, ComPtrCountsItsReferences) {
  CComObject<CCounter>* object = nullptr;
  ASSERT_EQ(CComObject<CCounter>::CreateInstance(&object), S_OK);
  {
    CComPtr<ICounter> first(object);
    EXPECT_EQ(object->m_dwRef, 1);
    CComPtr<ICounter> second = first;
    EXPECT_EQ(object->m_dwRef, 2);
    CComPtr<ICounter> moved(std::move(second));
    EXPECT_EQ(object->m_dwRef, 2);
    EXPECT_FALSE(second);
    ICounter* raw = moved.Detach();
    EXPECT_EQ(object->m_dwRef, 2);
    moved.Attach(raw);
    second = first;
    second = second;  // self-assignment keeps the reference
    EXPECT_EQ(object->m_dwRef, 3);
    ICounter* copy = nullptr;
    EXPECT_EQ(first.CopyTo(&copy), S_OK);
    copy->Release();
    first.Release();
    EXPECT_EQ(object->m_dwRef, 2);
  }
}

TEST(AtlOwners, BstrConvertsNarrowTextAndOwnsItsString) {
  CComBSTR narrow("Grüße");
  EXPECT_EQ(narrow.Length(), 5u);
  EXPECT_TRUE(narrow == L"Grüße");
  EXPECT_EQ(narrow.ToNarrow(), "Grüße");

  CComBSTR copy(narrow);
  EXPECT_NE(static_cast<BSTR>(copy), static_cast<BSTR>(narrow));
  EXPECT_TRUE(copy == narrow);
  EXPECT_EQ(copy.Append(L", Welt"), S_OK);
  EXPECT_EQ(copy.Append("!"), S_OK);
  EXPECT_EQ(copy.ToNarrow(), "Grüße, Welt!");

  BSTR detached = copy.Detach();
  EXPECT_FALSE(copy);
  EXPECT_EQ(copy.Length(), 0u);
  copy.Attach(detached);
  BSTR duplicate = copy.Copy();
  EXPECT_STREQ(duplicate, detached);
  SysFreeString(duplicate);

  CComBSTR empty;
  EXPECT_TRUE(empty == L"");
  EXPECT_EQ(empty.Copy(), nullptr);
  BSTR out = reinterpret_cast<BSTR>(1);
  EXPECT_EQ(empty.CopyTo(&out), S_OK);
  EXPECT_EQ(out, nullptr);

  CComBSTR embedded(3, L"a\0b");
  EXPECT_EQ(embedded.Length(), 3u);
  EXPECT_FALSE(embedded == L"a");
}

TEST(AtlOwners, VariantCopiesDeeplyAndDetaches) {
  CComVariant text("value");
  EXPECT_EQ(text.vt, VT_BSTR);
  CComVariant copy(text);
  EXPECT_NE(copy.bstrVal, text.bstrVal);
  EXPECT_STREQ(copy.bstrVal, L"value");

  VARIANT out;
  VariantInit(&out);
  EXPECT_EQ(copy.Detach(&out), S_OK);
  EXPECT_EQ(copy.vt, VT_EMPTY);
  EXPECT_EQ(out.vt, VT_BSTR);
  EXPECT_EQ(copy.Attach(&out), S_OK);
  EXPECT_EQ(out.vt, VT_EMPTY);
  BSTR fromVariant = nullptr;
  EXPECT_EQ(copy.CopyTo(&fromVariant), S_OK);
  EXPECT_STREQ(fromVariant, L"value");
  SysFreeString(fromVariant);

  CComVariant number(static_cast<LONG>(42));
  EXPECT_EQ(number.vt, VT_I4);
  EXPECT_EQ(number.CopyTo(&fromVariant), DISP_E_TYPEMISMATCH);
  number = text;
  EXPECT_EQ(number.vt, VT_BSTR);

  CComObject<CCounter>* object = nullptr;
  ASSERT_EQ(CComObject<CCounter>::CreateInstance(&object), S_OK);
  CComPtr<IUnknown> unknown(object->GetUnknown());
  {
    CComVariant holder(static_cast<IUnknown*>(unknown));
    EXPECT_EQ(object->m_dwRef, 2);
  }
  EXPECT_EQ(object->m_dwRef, 1);
}

TEST(AtlOwners, SafeArrayOwnerDestroysUnlessDetached) {
  SAFEARRAY* kept = nullptr;
  {
    CComSafeArrayOwner owner(SafeArrayCreateVector(VT_VARIANT, 0, 2));
    CComVariant element("a");
    LONG index = 1;
    ASSERT_EQ(SafeArrayPutElement(owner, &index, &element), S_OK);
    EXPECT_EQ(owner.GetCount(), 2u);
    CComSafeArrayOwner other(std::move(owner));
    EXPECT_EQ(owner.Get(), nullptr);
    kept = other.Detach();
  }
  ASSERT_NE(kept, nullptr);
  {
    CComSafeArrayOwner owner;
    EXPECT_EQ(owner.GetCount(), 0u);
    *&owner = kept;  // as an out parameter; destroyed with the owner
    EXPECT_EQ(owner.GetCount(), 2u);
  }
}

}  // namespace
