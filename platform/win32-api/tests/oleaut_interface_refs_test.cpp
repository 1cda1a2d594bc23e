// Interface pointers in variants and arrays: every copy holds one reference, every
// release gives exactly one back.
#include <gtest/gtest.h>
#include <windows.h>
#include <oleauto.h>

namespace {

class CountedObject : public IDispatch {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (riid != IID_IUnknown && riid != IID_IDispatch) {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    *ppv = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
  ULONG refs = 1;
};

TEST(InterfaceReferences, VariantsAddRefOnCopyAndReleaseOnClear) {
  CountedObject object;
  VARIANT v;
  v.vt = VT_DISPATCH;
  v.pdispVal = &object;
  object.AddRef();
  VARIANT copy;
  VariantInit(&copy);
  ASSERT_EQ(VariantCopy(&copy, &v), S_OK);
  EXPECT_EQ(object.refs, 3u);
  ASSERT_EQ(VariantChangeType(&copy, &copy, 0, VT_UNKNOWN), S_OK);  // QueryInterface, then release the old
  EXPECT_EQ(copy.vt, VT_UNKNOWN);
  EXPECT_EQ(object.refs, 3u);
  EXPECT_EQ(VariantChangeType(&copy, &copy, 0, VT_I4), DISP_E_TYPEMISMATCH);
  VariantClear(&copy);
  VariantClear(&v);
  EXPECT_EQ(object.refs, 1u);

  v.vt = VT_UNKNOWN;  // a null interface copies as null
  v.punkVal = nullptr;
  ASSERT_EQ(VariantCopy(&copy, &v), S_OK);
  EXPECT_EQ(copy.punkVal, nullptr);
}

TEST(InterfaceReferences, ArraysHoldOneReferencePerElement) {
  CountedObject first, second;
  SAFEARRAY* psa = SafeArrayCreateVector(VT_UNKNOWN, 0, 2);
  ASSERT_NE(psa, nullptr);
  LONG index = 0;
  ASSERT_EQ(SafeArrayPutElement(psa, &index, static_cast<IUnknown*>(&first)), S_OK);
  EXPECT_EQ(first.refs, 2u);
  ASSERT_EQ(SafeArrayPutElement(psa, &index, static_cast<IUnknown*>(&second)), S_OK);  // replaces first
  EXPECT_EQ(first.refs, 1u);
  EXPECT_EQ(second.refs, 2u);

  IUnknown* fetched = nullptr;
  ASSERT_EQ(SafeArrayGetElement(psa, &index, &fetched), S_OK);
  EXPECT_EQ(fetched, static_cast<IUnknown*>(&second));
  EXPECT_EQ(second.refs, 3u);
  fetched->Release();

  SAFEARRAY* copy = nullptr;
  ASSERT_EQ(SafeArrayCopy(psa, &copy), S_OK);
  EXPECT_EQ(second.refs, 3u);
  VARTYPE vt = VT_EMPTY;
  EXPECT_EQ(SafeArrayGetVartype(copy, &vt), S_OK);
  EXPECT_EQ(vt, VT_UNKNOWN);
  EXPECT_EQ(SafeArrayDestroy(copy), S_OK);
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
  EXPECT_EQ(second.refs, 1u);
}

}  // namespace
