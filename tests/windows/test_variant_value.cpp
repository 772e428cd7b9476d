// windows.h must come first: oleauto.h relies on its base types.
#include <windows.h>

#include <gtest/gtest.h>
#include <oleauto.h>

#include "platform/windows/variant_value.h"

using tavo::winwmi::fromVariant;
using tavo::wmi::Value;

namespace {
struct Owned {
    VARIANT v;
    Owned() { VariantInit(&v); }
    ~Owned() { VariantClear(&v); }
};
}  // namespace

TEST(VariantValue, ScalarsKeepTheirKind) {
    Owned s;
    s.v.vt = VT_BSTR;
    s.v.bstrVal = SysAllocString(L"C:\\ caf\u00e9");
    EXPECT_EQ(fromVariant(s.v, CIM_STRING), Value("C:\\ caf\xc3\xa9"));

    Owned b;
    b.v.vt = VT_BOOL;
    b.v.boolVal = VARIANT_TRUE;
    EXPECT_EQ(fromVariant(b.v, CIM_BOOLEAN), Value(true));

    Owned r;
    r.v.vt = VT_R4;
    r.v.fltVal = 1.5f;
    EXPECT_EQ(fromVariant(r.v, CIM_REAL32), Value(1.5));

    Owned n;
    n.v.vt = VT_NULL;
    EXPECT_TRUE(fromVariant(n.v, CIM_STRING).isNull());

    Owned i2;
    i2.v.vt = VT_I2;
    i2.v.iVal = -2;
    EXPECT_EQ(fromVariant(i2.v, CIM_SINT16), Value(-2));
}

TEST(VariantValue, UnsignedValuesCarriedSignedReadAsTheirTrueValue) {
    // Automation carries uint32 as VT_I4: 2147483648 arrives as -2147483648.
    Owned v;
    v.v.vt = VT_I4;
    v.v.lVal = static_cast<LONG>(0x80000000u);
    EXPECT_EQ(fromVariant(v.v, CIM_UINT32), Value(std::int64_t{2147483648}));
    EXPECT_EQ(fromVariant(v.v, CIM_SINT32), Value(std::int64_t{-2147483648LL}));

    Owned u16;
    u16.v.vt = VT_I2;
    u16.v.iVal = static_cast<SHORT>(0xFFFF);
    EXPECT_EQ(fromVariant(u16.v, CIM_UINT16), Value(65535));
}

TEST(VariantValue, UnsignedSixtyFourBitValuesPastTheSignedRangeStayPositive) {
    Owned v;
    v.v.vt = VT_UI8;
    v.v.ullVal = 9223372036854775808ULL;
    EXPECT_EQ(fromVariant(v.v, CIM_UINT64), Value("9223372036854775808"));
    v.v.ullVal = 18446744073709551615ULL;
    EXPECT_EQ(fromVariant(v.v, CIM_UINT64), Value("18446744073709551615"));
    // WMI's usual carrier for 64-bit values is text, passed through.
    Owned text;
    text.v.vt = VT_BSTR;
    text.v.bstrVal = SysAllocString(L"18446744073709551615");
    EXPECT_EQ(fromVariant(text.v, CIM_UINT64), Value("18446744073709551615"));
}

TEST(VariantValue, TheCimTypeDecidesTheForm) {
    // A signed 64-bit value is text like every 64-bit value.
    Owned i8;
    i8.v.vt = VT_I8;
    i8.v.llVal = -5;
    EXPECT_EQ(fromVariant(i8.v, CIM_SINT64), Value("-5"));
    i8.v.llVal = -1;
    EXPECT_EQ(fromVariant(i8.v, CIM_UINT64), Value("18446744073709551615"));
    Owned i4;
    i4.v.vt = VT_I4;
    i4.v.lVal = 7;
    EXPECT_EQ(fromVariant(i4.v, CIM_SINT64), Value("7"));

    // A real32 at its own precision, whichever real carries it.
    Owned r4;
    r4.v.vt = VT_R4;
    r4.v.fltVal = 0.1f;
    EXPECT_EQ(fromVariant(r4.v, CIM_REAL32), Value(0.1));
    Owned r8;
    r8.v.vt = VT_R8;
    r8.v.dblVal = static_cast<double>(0.1f);
    EXPECT_EQ(fromVariant(r8.v, CIM_REAL32), Value(0.1));
    EXPECT_EQ(fromVariant(r8.v, CIM_REAL64), Value(static_cast<double>(0.1f)));

    // A date becomes DMTF text; it carries no zone, so none is claimed.
    Owned date;
    date.v.vt = VT_DATE;
    date.v.date = 45244.5;  // 2023-11-14 12:00
    EXPECT_EQ(fromVariant(date.v, CIM_DATETIME), Value("20231114120000.000000+***"));
}

TEST(VariantValue, SafeArraysBecomeArrays) {
    SAFEARRAY* sa = SafeArrayCreateVector(VT_BSTR, 0, 2);
    LONG i = 0;
    BSTR a = SysAllocString(L"192.168.1.5");
    BSTR b = SysAllocString(L"fe80::1");
    SafeArrayPutElement(sa, &i, a);
    i = 1;
    SafeArrayPutElement(sa, &i, b);
    SysFreeString(a);
    SysFreeString(b);
    Owned v;
    v.v.vt = VT_ARRAY | VT_BSTR;
    v.v.parray = sa;
    const Value out = fromVariant(v.v, CIM_STRING | CIM_FLAG_ARRAY);
    ASSERT_TRUE(out.isArray());
    ASSERT_EQ(out.array().size(), 2u);
    EXPECT_EQ(out.at(0), Value("192.168.1.5"));
    EXPECT_EQ(out.at(1), Value("fe80::1"));

    SAFEARRAY* nums = SafeArrayCreateVector(VT_I4, 0, 1);
    LONG big = static_cast<LONG>(0xFFFFFFFFu);
    i = 0;
    SafeArrayPutElement(nums, &i, &big);
    Owned w;
    w.v.vt = VT_ARRAY | VT_I4;
    w.v.parray = nums;
    EXPECT_EQ(fromVariant(w.v, CIM_UINT32 | CIM_FLAG_ARRAY).at(0), Value(std::int64_t{4294967295}));
}
