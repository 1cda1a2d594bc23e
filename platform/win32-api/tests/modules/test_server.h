// The test server's own dual interface and identifiers, shared by the module and the tests.
#pragma once
#include <dispatch_table.h>
#include <oaidl.h>

DEFINE_GUID(IID_ICalculator, 0x5E0A7C21, 0x3B8D, 0x4F61, 0x9A, 0x4C, 0x17, 0xD2, 0x6E, 0x80, 0xB3, 0x45);
DEFINE_GUID(LIBID_AuralinkTestLib, 0x9B3F51D0, 0x2C47, 0x4E8A, 0xB1, 0x6D, 0x53, 0x0E, 0xA2, 0x94, 0x7C, 0x18);
DEFINE_GUID(CLSID_TestCalculator, 0x1F6C2E84, 0x95A3, 0x4D07, 0x8E, 0x21, 0xC4, 0x5B, 0x3A, 0x90, 0x6F, 0xD2);
DEFINE_GUID(CLSID_TestCalcNote, 0x7A41D9E3, 0x0F58, 0x4B2C, 0xA7, 0x93, 0x2D, 0x86, 0xE1, 0x5C, 0x40, 0xBB);

struct ICalculator : public IDispatch {
  STDMETHOD(Add)(LONG a, LONG b, LONG* sum) PURE;
  // A copy of `text`.
  STDMETHOD(Echo)(BSTR text, BSTR* echoed) PURE;
  // Replaces *items with a new array of VT_BSTR variants "item 0" ... "item count-1".
  STDMETHOD(MakeList)(LONG count, SAFEARRAY** items) PURE;
};
AURALINK_DECLARE_IID(ICalculator, IID_ICalculator);

inline constexpr auralink::platform::DispatchMember kCalculatorMembers[] = {
    {L"Add", &auralink::platform::InvokeMember<&ICalculator::Add>},
    {L"Echo", &auralink::platform::InvokeMember<&ICalculator::Echo>},
    {L"MakeList", &auralink::platform::InvokeMember<&ICalculator::MakeList>},
};
inline constexpr auralink::platform::DispatchTable kCalculatorDispatch = {&IID_ICalculator, kCalculatorMembers, 3};

#define TEST_CALCULATOR_PROGID "AuralinkTest.Calculator"
#define TEST_TYPELIB_DESCRIPTION "AuralinkTest 1.0 Type Library"
