#include <atlbase.h>
#include <atlcom.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

DEFINE_GUID(IID_ISample, 0x3C1E6F0A, 0x7D52, 0x4B19, 0x96, 0x0E, 0x21, 0x4A, 0xB8, 0x5D, 0xC3, 0x07);

struct ISample : public IDispatch {
  STDMETHOD(Numbers)(LONG a, SHORT b, LONG* total) PURE;
  STDMETHOD(Text)(BSTR text, BSTR* shout) PURE;
  STDMETHOD(Arrays)(SAFEARRAY** given, SAFEARRAY** made) PURE;
  STDMETHOD(Peer)(ISample* peer, LONG* same) PURE;
  STDMETHOD(Fail)() PURE;
};
}  // namespace
AURALINK_DECLARE_IID(ISample, IID_ISample);

namespace {

using auralink::platform::DispatchMember;
using auralink::platform::DispatchTable;
using auralink::platform::InvokeMember;

constexpr DispatchMember kSampleMembers[] = {
    {L"Numbers", &InvokeMember<&ISample::Numbers>}, {L"Text", &InvokeMember<&ISample::Text>},
    {L"Arrays", &InvokeMember<&ISample::Arrays>},   {L"Peer", &InvokeMember<&ISample::Peer>},
    {L"Fail", &InvokeMember<&ISample::Fail>},
};
constexpr DispatchTable kSampleDispatch = {&IID_ISample, kSampleMembers, 5};

class ATL_NO_VTABLE CSample : public CComObjectRootEx<CComSingleThreadModel>,
                              public IDispatchImpl<ISample, &IID_ISample, &GUID_NULL, &kSampleDispatch> {
 public:
  BEGIN_COM_MAP(CSample)
  COM_INTERFACE_ENTRY(ISample)
  COM_INTERFACE_ENTRY(IDispatch)
  END_COM_MAP()

  // *total += a + b, so that in/out is visible.
  STDMETHOD(Numbers)(LONG a, SHORT b, LONG* total) override {
    *total += a + b;
    return S_OK;
  }
  STDMETHOD(Text)(BSTR text, BSTR* shout) override {
    std::wstring result = std::wstring(text ? text : L"") + L"!";
    SysFreeString(*shout);
    *shout = SysAllocString(result.c_str());
    return S_OK;
  }
  // A new VT_I4 array with as many elements as the given one.
  STDMETHOD(Arrays)(SAFEARRAY** given, SAFEARRAY** made) override {
    ULONG count = (given && *given) ? (*given)->rgsabound[0].cElements : 0;
    SAFEARRAY* result = SafeArrayCreateVector(VT_I4, 0, count);
    if (*made) SafeArrayDestroy(*made);
    *made = result;
    return S_OK;
  }
  STDMETHOD(Peer)(ISample* peer, LONG* same) override {
    lastPeer = peer;
    *same = peer ? (peer == static_cast<ISample*>(this) ? 1 : 0) : -1;
    return S_OK;
  }
  STDMETHOD(Fail)() override { return E_FAIL; }

  ISample* lastPeer = nullptr;
};

// An object with IDispatch but without ISample.
class ATL_NO_VTABLE COther : public CComObjectRootEx<CComSingleThreadModel>, public IUnknown {
 public:
  BEGIN_COM_MAP(COther)
  COM_INTERFACE_ENTRY(IUnknown)
  END_COM_MAP()
};

class DispatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CComObject<CSample>* object = nullptr;
    ASSERT_EQ(CComObject<CSample>::CreateInstance(&object), S_OK);
    sample_ = object;
    ASSERT_EQ(sample_->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch_)), S_OK);
    object_ = object;
  }

  // Calls member `id` with the arguments in declaration order (reversed here as Windows does).
  HRESULT Call(DISPID id, std::vector<VARIANT> args, UINT* argErr = nullptr) {
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    VARIANT result;
    VariantInit(&result);
    UINT err = 12345;
    HRESULT hr = dispatch_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, nullptr, &err);
    if (argErr) *argErr = err;
    EXPECT_EQ(result.vt, VT_EMPTY);
    return hr;
  }

  static VARIANT I4(LONG v) {
    VARIANT var;
    VariantInit(&var);
    var.vt = VT_I4;
    var.lVal = v;
    return var;
  }
  static VARIANT I2(SHORT v) {
    VARIANT var;
    VariantInit(&var);
    var.vt = VT_I2;
    var.iVal = v;
    return var;
  }
  static VARIANT Ref(VARTYPE vt, void* target) {
    VARIANT var;
    VariantInit(&var);
    var.vt = static_cast<VARTYPE>(VT_BYREF | vt);
    var.byref = target;
    return var;
  }
  static VARIANT Text(BSTR text) {
    VARIANT var;
    VariantInit(&var);
    var.vt = VT_BSTR;
    var.bstrVal = text;
    return var;
  }
  static VARIANT Unknown(IUnknown* p, VARTYPE vt = VT_UNKNOWN) {
    VARIANT var;
    VariantInit(&var);
    var.vt = vt;
    var.punkVal = p;
    return var;
  }

  CComPtr<ISample> sample_;
  CComPtr<IDispatch> dispatch_;
  CSample* object_ = nullptr;
};

TEST_F(DispatchTest, NamesMapToSlotOrderWhateverTheirCase) {
  const wchar_t* names[] = {L"numbers", L"TEXT", L"Arrays", L"peer", L"fAIL"};
  for (int i = 0; i < 5; ++i) {
    LPOLESTR name = const_cast<LPOLESTR>(names[i]);
    DISPID id = 0;
    EXPECT_EQ(dispatch_->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    EXPECT_EQ(id, i + 1);
  }

  LPOLESTR unknown = const_cast<LPOLESTR>(L"Numberz");
  DISPID id = 7;
  EXPECT_EQ(dispatch_->GetIDsOfNames(IID_NULL, &unknown, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(id, DISPID_UNKNOWN);

  // Parameter names are not known; the member still gets its identifier.
  LPOLESTR withParameter[] = {const_cast<LPOLESTR>(L"Text"), const_cast<LPOLESTR>(L"text")};
  DISPID ids[2] = {0, 0};
  EXPECT_EQ(dispatch_->GetIDsOfNames(IID_NULL, withParameter, 2, LOCALE_USER_DEFAULT, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 2);
  EXPECT_EQ(ids[1], DISPID_UNKNOWN);

  EXPECT_EQ(dispatch_->GetIDsOfNames(IID_ISample, &unknown, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNINTERFACE);
  UINT count = 9;
  EXPECT_EQ(dispatch_->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 0u);
  ITypeInfo* info = reinterpret_cast<ITypeInfo*>(1);
  EXPECT_EQ(dispatch_->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info), E_NOTIMPL);
  EXPECT_EQ(info, nullptr);
}

TEST_F(DispatchTest, IntegersInAndOutIncludingShortForLong) {
  LONG total = 100;
  EXPECT_EQ(Call(1, {I4(20), I2(3), Ref(VT_I4, &total)}), S_OK);
  EXPECT_EQ(total, 123);
  EXPECT_EQ(Call(1, {I2(-7), I4(7), Ref(VT_I4, &total)}), S_OK);  // VT_I2 for LONG, VT_I4 in range for SHORT
  EXPECT_EQ(total, 123);
  LONG byReference = 5;
  EXPECT_EQ(Call(1, {Ref(VT_I4, &byReference), I2(0), Ref(VT_I4, &total)}), S_OK);
  EXPECT_EQ(total, 128);
}

TEST_F(DispatchTest, WrongCountTypeOrRangeIsRefusedBeforeTheCall) {
  LONG total = 0;
  EXPECT_EQ(Call(1, {I4(1), I2(2)}), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Call(1, {I4(1), I2(2), Ref(VT_I4, &total), I4(4)}), DISP_E_BADPARAMCOUNT);

  UINT argErr = 0;
  CComBSTR text(L"x");
  EXPECT_EQ(Call(1, {Text(text), I2(2), Ref(VT_I4, &total)}, &argErr), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argErr, 2u);  // the first parameter sits last in rgvarg
  EXPECT_EQ(Call(1, {I4(1), I2(2), I4(0)}, &argErr), DISP_E_TYPEMISMATCH);  // out parameter by value
  EXPECT_EQ(argErr, 0u);
  EXPECT_EQ(Call(1, {I4(1), I4(40000), Ref(VT_I4, &total)}, &argErr), DISP_E_OVERFLOW);
  EXPECT_EQ(argErr, 1u);
  EXPECT_EQ(total, 0);

  DISPID named = 1;
  VARIANT arg = I4(1);
  DISPPARAMS params = {&arg, &named, 1, 1};
  EXPECT_EQ(dispatch_->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
            DISP_E_NONAMEDARGS);
}

TEST_F(DispatchTest, UnknownMembersAndPropertyPutsAreNotFound) {
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  for (DISPID id : {0, 6, -1, 1000})
    EXPECT_EQ(dispatch_->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND)
        << id;
  EXPECT_EQ(dispatch_->Invoke(5, IID_NULL, 0, DISPATCH_PROPERTYPUT, &none, nullptr, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(dispatch_->Invoke(5, IID_ISample, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
            DISP_E_UNKNOWNINTERFACE);
  // The method's own failure comes back unchanged.
  EXPECT_EQ(dispatch_->Invoke(5, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none, nullptr, nullptr,
                              nullptr),
            E_FAIL);
}

TEST_F(DispatchTest, StringsInAndOut) {
  CComBSTR in(L"hello");
  BSTR out = SysAllocString(L"old value");  // in/out: the method frees it
  EXPECT_EQ(Call(2, {Text(in), Ref(VT_BSTR, &out)}), S_OK);
  EXPECT_STREQ(out, L"hello!");
  SysFreeString(out);

  // An empty variant is a null string; an out string may be a referenced empty variant.
  VARIANT holder;
  VariantInit(&holder);
  VARIANT empty;
  VariantInit(&empty);
  EXPECT_EQ(Call(2, {empty, Ref(VT_VARIANT, &holder)}), S_OK);
  EXPECT_EQ(holder.vt, VT_BSTR);
  EXPECT_STREQ(holder.bstrVal, L"!");
  VariantClear(&holder);
}

TEST_F(DispatchTest, ArraysByReferenceByValueAndEmpty) {
  SAFEARRAY* given = SafeArrayCreateVector(VT_VARIANT, 0, 3);
  SAFEARRAY* made = nullptr;
  VARIANT byValue;
  VariantInit(&byValue);
  byValue.vt = VT_ARRAY | VT_VARIANT;
  byValue.parray = given;
  EXPECT_EQ(Call(3, {byValue, Ref(VT_ARRAY | VT_I4, &made)}), S_OK);
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->rgsabound[0].cElements, 3u);

  // In/out by reference: the method replaces (and frees) the array that was there.
  EXPECT_EQ(Call(3, {Ref(VT_ARRAY | VT_VARIANT, &given), Ref(VT_ARRAY | VT_I4, &made)}), S_OK);
  EXPECT_EQ(made->rgsabound[0].cElements, 3u);
  SafeArrayDestroy(made);
  SafeArrayDestroy(given);

  // An array the caller cannot receive (empty variant) does not leak; a referenced empty
  // variant receives the array with its element type.
  VARIANT empty;
  VariantInit(&empty);
  VARIANT holder;
  VariantInit(&holder);
  EXPECT_EQ(Call(3, {empty, Ref(VT_VARIANT, &holder)}), S_OK);
  EXPECT_EQ(holder.vt, VT_ARRAY | VT_I4);
  EXPECT_EQ(Call(3, {empty, empty}), S_OK);
  VariantClear(&holder);

  UINT argErr = 0;
  EXPECT_EQ(Call(3, {I4(1), empty}, &argErr), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argErr, 1u);
}

TEST_F(DispatchTest, InterfaceArgumentsAreQueriedAndReleased) {
  LONG same = 7;
  EXPECT_EQ(Call(4, {Unknown(sample_), Ref(VT_I4, &same)}), S_OK);
  EXPECT_EQ(same, 1);
  EXPECT_EQ(Call(4, {Unknown(dispatch_, VT_DISPATCH), Ref(VT_I4, &same)}), S_OK);
  EXPECT_EQ(same, 1);
  EXPECT_EQ(object_->m_dwRef, 2);  // sample_ and dispatch_: nothing kept by the calls

  EXPECT_EQ(Call(4, {Unknown(nullptr), Ref(VT_I4, &same)}), S_OK);
  EXPECT_EQ(same, -1);
  EXPECT_EQ(object_->lastPeer, nullptr);

  CComObject<COther>* other = nullptr;
  ASSERT_EQ(CComObject<COther>::CreateInstance(&other), S_OK);
  CComPtr<IUnknown> keepOther(other->GetUnknown());
  UINT argErr = 9;
  EXPECT_EQ(Call(4, {Unknown(keepOther), Ref(VT_I4, &same)}, &argErr), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argErr, 1u);
  EXPECT_EQ(other->m_dwRef, 1);
}

}  // namespace
