#include "platform/windows/variant_value.h"

#include <oleauto.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/windows/com_text.h"

namespace tavo::winwmi {

namespace {

// A real32 as the shortest decimal that reads back as the same float, so
// 0.1f shows as 0.1 rather than as the double nearest to it (0.100000001490116).
double real32(float f) {
    char buf[64];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, f);
    double d = f;
    if (ec == std::errc()) std::from_chars(buf, end, d);
    return d;
}

// An Automation date (days since 1899-12-30, the time as the fraction) as
// DMTF text. The date carries no zone, so the offset is left unspecified.
wmi::Value dmtfFromDate(DATE date) {
    SYSTEMTIME st{};
    if (!VariantTimeToSystemTime(date, &st)) return wmi::Value::null();
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04u%02u%02u%02u%02u%02u.%06u+***", st.wYear, st.wMonth,
                  st.wDay, st.wHour, st.wMinute, st.wSecond,
                  static_cast<unsigned>(st.wMilliseconds) * 1000u);
    return wmi::Value(std::string(buf));
}

// The value as the property's CIM type states it, whatever the carrier:
// 64-bit integers as decimal text (signed ones too), real32 at its own
// precision.
wmi::Value byCimType(wmi::Value v, CIMTYPE elementType) {
    if (v.isInteger()) {
        if (elementType == CIM_SINT64) return wmi::Value(std::to_string(v.integer()));
        if (elementType == CIM_UINT64)
            return wmi::Value(std::to_string(static_cast<std::uint64_t>(v.integer())));
    }
    if (elementType == CIM_REAL32 && v.isReal()) {
        return wmi::Value(real32(static_cast<float>(v.real())));
    }
    return v;
}

wmi::Value carried(VARTYPE vt, const void* data, CIMTYPE elementType);

wmi::Value scalar(VARTYPE vt, const void* data, CIMTYPE elementType) {
    return byCimType(carried(vt, data, elementType), elementType);
}

wmi::Value carried(VARTYPE vt, const void* data, CIMTYPE elementType) {
    switch (vt) {
        case VT_NULL:
            return wmi::Value::null();
        case VT_EMPTY:
            return wmi::Value();
        case VT_BSTR: {
            const BSTR b = *static_cast<const BSTR*>(data);
            return wmi::Value(toUtf8(b, b ? static_cast<int>(SysStringLen(b)) : 0));
        }
        case VT_BOOL:
            return wmi::Value(*static_cast<const VARIANT_BOOL*>(data) != VARIANT_FALSE);
        case VT_I1:
            return wmi::Value(std::int64_t{*static_cast<const signed char*>(data)});
        case VT_UI1:
            return wmi::Value(std::int64_t{*static_cast<const unsigned char*>(data)});
        case VT_I2: {
            const SHORT s = *static_cast<const SHORT*>(data);
            if (elementType == CIM_UINT16) return wmi::Value(std::int64_t{static_cast<USHORT>(s)});
            return wmi::Value(std::int64_t{s});
        }
        case VT_UI2:
            return wmi::Value(std::int64_t{*static_cast<const USHORT*>(data)});
        case VT_I4:
        case VT_INT: {
            const LONG l = *static_cast<const LONG*>(data);
            if (elementType == CIM_UINT32) return wmi::Value(std::int64_t{static_cast<ULONG>(l)});
            return wmi::Value(std::int64_t{l});
        }
        case VT_UI4:
        case VT_UINT:
            return wmi::Value(std::int64_t{*static_cast<const ULONG*>(data)});
        case VT_I8:
            return wmi::Value(std::int64_t{*static_cast<const LONGLONG*>(data)});
        case VT_UI8:
            // Kept as text like every other 64-bit value, so no value wraps.
            return wmi::Value(std::to_string(*static_cast<const ULONGLONG*>(data)));
        case VT_R4:
            return wmi::Value(real32(*static_cast<const float*>(data)));
        case VT_DATE:
            return dmtfFromDate(*static_cast<const DATE*>(data));
        case VT_R8:
            return wmi::Value(*static_cast<const double*>(data));
        default:
            // Embedded objects and anything else have no text form a grid could show.
            return wmi::Value::null();
    }
}

}  // namespace

wmi::Value fromVariant(const VARIANT& v, CIMTYPE cimType) {
    const CIMTYPE elementType = cimType & ~CIM_FLAG_ARRAY;
    if ((v.vt & VT_ARRAY) == 0) {
        const void* data = nullptr;
        switch (v.vt) {
            case VT_BSTR:
                data = &v.bstrVal;
                break;
            case VT_BOOL:
                data = &v.boolVal;
                break;
            case VT_I1:
                data = &v.cVal;
                break;
            case VT_UI1:
                data = &v.bVal;
                break;
            case VT_I2:
                data = &v.iVal;
                break;
            case VT_UI2:
                data = &v.uiVal;
                break;
            case VT_I4:
                data = &v.lVal;
                break;
            case VT_INT:
                data = &v.intVal;
                break;
            case VT_UI4:
                data = &v.ulVal;
                break;
            case VT_UINT:
                data = &v.uintVal;
                break;
            case VT_I8:
                data = &v.llVal;
                break;
            case VT_UI8:
                data = &v.ullVal;
                break;
            case VT_R4:
                data = &v.fltVal;
                break;
            case VT_R8:
                data = &v.dblVal;
                break;
            case VT_DATE:
                data = &v.date;
                break;
            default:
                break;
        }
        return scalar(v.vt, data, elementType);
    }

    SAFEARRAY* sa = v.parray;
    if (!sa || SafeArrayGetDim(sa) != 1) return wmi::Value::null();
    LONG lo = 0, hi = -1;
    SafeArrayGetLBound(sa, 1, &lo);
    SafeArrayGetUBound(sa, 1, &hi);
    const VARTYPE elementVt = static_cast<VARTYPE>(v.vt & ~VT_ARRAY);
    wmi::Value::Array items;
    void* raw = nullptr;
    if (FAILED(SafeArrayAccessData(sa, &raw))) return wmi::Value::null();
    const auto size = SafeArrayGetElemsize(sa);
    for (LONG i = 0; i <= hi - lo; ++i) {
        const void* element = static_cast<const char*>(raw) + static_cast<std::size_t>(i) * size;
        if (elementVt == VT_VARIANT) {
            items.push_back(fromVariant(*static_cast<const VARIANT*>(element), elementType));
        } else {
            items.push_back(scalar(elementVt, element, elementType));
        }
    }
    SafeArrayUnaccessData(sa);
    return wmi::Value(std::move(items));
}

}  // namespace tavo::winwmi
