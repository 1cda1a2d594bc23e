// Payload arrays: shape, element types, bounds, and who owns what.
#include <auralink/operation_codes.h>
#include <auralink/payload_arrays.h>
#include <gtest/gtest.h>

#include <string>

using namespace auralink;

namespace {

VARTYPE RawElementType(SAFEARRAY* array, LONG index) {
  VARIANT raw;
  VariantInit(&raw);
  if (FAILED(SafeArrayGetElement(array, &index, &raw))) return VT_ERROR;
  VARTYPE type = V_VT(&raw);
  VariantClear(&raw);
  return type;
}

TEST(PayloadArrays, VariantVectorsFromZeroWithI4OperationsAndBstrStreams) {
  PayloadArray operations(CreatePayloadArray(2));
  PayloadArray objects(CreatePayloadArray(2));
  ASSERT_TRUE(operations && objects);
  VARTYPE type = VT_EMPTY;
  SafeArrayGetVartype(operations.Get(), &type);
  LONG lower = -1;
  SafeArrayGetLBound(operations.Get(), 1, &lower);
  EXPECT_EQ(type, VT_VARIANT);
  EXPECT_EQ(lower, 0);
  EXPECT_EQ(SafeArrayGetDim(operations.Get()), 1u);
  EXPECT_EQ(operations.Count(), 2);

  ASSERT_EQ(PutOperationElement(operations.Get(), 0, INSTANCECREATION), S_OK);
  ASSERT_EQ(PutOperationElement(operations.Get(), 1, EVENTNOTIFICATION), S_OK);
  ASSERT_EQ(PutStringElement(objects.Get(), 0, "<instance class=\"Host\"/>"), S_OK);
  ASSERT_EQ(PutBstrElement(objects.Get(), 1, L"<event \u00e9t\u00e9/>"), S_OK);
  for (LONG i = 0; i < 2; ++i) {
    EXPECT_EQ(RawElementType(operations.Get(), i), VT_I4);
    EXPECT_EQ(RawElementType(objects.Get(), i), VT_BSTR);
  }
  LONG code = 0;
  std::string text;
  EXPECT_EQ(GetOperationElement(operations.Get(), 1, &code), S_OK);
  EXPECT_EQ(code, EVENTNOTIFICATION);
  EXPECT_EQ(GetStringElement(objects.Get(), 1, &text), S_OK);
#ifdef _WIN32
  // Narrow text is in the ANSI code page, which is a setting of the Windows machine.
  char expected[32] = "";
  WideCharToMultiByte(CP_ACP, 0, L"<event \u00e9t\u00e9/>", -1, expected, sizeof expected, nullptr, nullptr);
#else
  const char* expected = "<event \xc3\xa9t\xc3\xa9/>";  // the ANSI code page of Linux is UTF-8
#endif
  EXPECT_EQ(text, expected);

  PayloadArray empty(CreatePayloadArray(0));  // valid, and destroyed like any other
  EXPECT_TRUE(empty);
  EXPECT_EQ(empty.Count(), 0);
  EXPECT_EQ(CreatePayloadArray(-1), nullptr);
}

TEST(PayloadArrays, GettersRefuseWrongTypesBoundsAndArrays) {
  PayloadArray array(CreatePayloadArray(2));
  PutOperationElement(array.Get(), 0, LINKCREATION);
  PutStringElement(array.Get(), 1, "stream");
  LONG code = 99;
  std::string text = "untouched";
  BSTR bstr = nullptr;
  EXPECT_EQ(GetOperationElement(array.Get(), 1, &code), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(GetStringElement(array.Get(), 0, &text), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(GetBstrElement(array.Get(), 0, &bstr), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(GetOperationElement(array.Get(), 2, &code), DISP_E_BADINDEX);
  EXPECT_EQ(GetOperationElement(array.Get(), -1, &code), DISP_E_BADINDEX);
  EXPECT_EQ(PutOperationElement(array.Get(), 2, 1), DISP_E_BADINDEX);
  EXPECT_EQ(GetOperationElement(nullptr, 0, &code), E_INVALIDARG);
  EXPECT_EQ(code, 99);
  EXPECT_EQ(text, "untouched");
  EXPECT_EQ(bstr, nullptr);

  // An array of plain BSTRs is not a payload array.
  PayloadArray strings(SafeArrayCreateVector(VT_BSTR, 0, 1));
  EXPECT_EQ(GetStringElement(strings.Get(), 0, &text), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(PutOperationElement(strings.Get(), 0, 1), DISP_E_TYPEMISMATCH);

  // Another lower bound: index 0 is the first element all the same.
  SAFEARRAYBOUND bound{2, 5};
  PayloadArray shifted(SafeArrayCreate(VT_VARIANT, 1, &bound));
  ASSERT_EQ(PutOperationElement(shifted.Get(), 0, FILTERED), S_OK);
  EXPECT_EQ(RawElementType(shifted.Get(), 5), VT_I4);
}

TEST(PayloadArrays, ElementsAndArraysHaveOneOwnerEach) {
  PayloadArray array(CreatePayloadArray(1));
  PutStringElement(array.Get(), 0, "identifier");
  BSTR first = nullptr;
  BSTR second = nullptr;
  ASSERT_EQ(GetBstrElement(array.Get(), 0, &first), S_OK);
  ASSERT_EQ(GetBstrElement(array.Get(), 0, &second), S_OK);
  EXPECT_NE(first, second);
  SysFreeString(first);
  SysFreeString(second);
  std::string text;
  EXPECT_EQ(GetStringElement(array.Get(), 0, &text), S_OK);  // the array kept its own copy
  EXPECT_EQ(text, "identifier");

  // Receive destroys what was held; Detach hands the array on.
  SAFEARRAY** slot = array.Receive();
  EXPECT_EQ(*slot, nullptr);
  *slot = CreatePayloadArray(2);
  PayloadArray moved(std::move(array));
  EXPECT_FALSE(array);
  EXPECT_EQ(moved.Count(), 2);
  EXPECT_EQ(SafeArrayDestroy(moved.Detach()), S_OK);
  EXPECT_FALSE(moved);
}

TEST(PayloadArrays, OperationTraceWords) {
  EXPECT_STREQ(OperationName(INSTANCEMODIFICATION), "INSTANCEMODIFICATION");
  EXPECT_STREQ(OperationName(12), "EVENTNOTIFICATION");
  EXPECT_EQ(OperationName(5), nullptr);
  EXPECT_EQ(OperationName(LISTENEREVENT), nullptr);
}

}  // namespace
