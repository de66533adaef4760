// VARIANT lifetime and conversion. Conversions follow the Automation rules:
// to integers and currency with rounding half to even, out-of-range values
// refused with DISP_E_OVERFLOW, text parsed and written in the invariant
// locale, booleans as -1/0.
#include <opossvc/win32/oleauto.h>

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

namespace {

using Int128 = __int128;

bool IsValueType(VARTYPE vt) {
  switch (vt) {
    case VT_EMPTY: case VT_NULL: case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_CY:
    case VT_DATE: case VT_BSTR: case VT_DISPATCH: case VT_ERROR: case VT_BOOL: case VT_UNKNOWN:
    case VT_I1: case VT_UI1: case VT_UI2: case VT_UI4: case VT_I8: case VT_UI8: case VT_INT:
    case VT_UINT:
      return true;
    default:
      return false;
  }
}

bool IsByRefType(VARTYPE vt) {
  if ((vt & VT_BYREF) == 0) return false;
  const VARTYPE base = vt & ~VT_BYREF;
  return (IsValueType(base) && base != VT_EMPTY && base != VT_NULL) || base == VT_VARIANT ||
         base == VT_DECIMAL;
}

// True for the types a variant may hold that these functions manage.
bool IsManagedType(VARTYPE vt) { return IsValueType(vt) || vt == VT_DECIMAL || IsByRefType(vt); }

// The value that `src` holds or refers to, as a variant that owns nothing.
HRESULT Dereference(const VARIANT& src, VARIANT* out) {
  if (!IsManagedType(src.vt)) return DISP_E_BADVARTYPE;
  if ((src.vt & VT_BYREF) == 0) {
    *out = src;
    return S_OK;
  }
  if (src.byref == nullptr) return E_INVALIDARG;
  const VARTYPE base = src.vt & ~VT_BYREF;
  VariantInit(out);
  switch (base) {
    case VT_I1: out->cVal = *src.pcVal; break;
    case VT_UI1: out->bVal = *src.pbVal; break;
    case VT_I2: out->iVal = *src.piVal; break;
    case VT_UI2: out->uiVal = *src.puiVal; break;
    case VT_I4: out->lVal = *src.plVal; break;
    case VT_UI4: out->ulVal = *src.pulVal; break;
    case VT_INT: out->intVal = *src.pintVal; break;
    case VT_UINT: out->uintVal = *src.puintVal; break;
    case VT_I8: out->llVal = *src.pllVal; break;
    case VT_UI8: out->ullVal = *src.pullVal; break;
    case VT_R4: out->fltVal = *src.pfltVal; break;
    case VT_R8: out->dblVal = *src.pdblVal; break;
    case VT_DATE: out->date = *src.pdate; break;
    case VT_CY: out->cyVal = *src.pcyVal; break;
    case VT_BOOL: out->boolVal = *src.pboolVal; break;
    case VT_ERROR: out->scode = *src.pscode; break;
    case VT_BSTR: out->bstrVal = *src.pbstrVal; break;
    case VT_DISPATCH: out->pdispVal = *src.ppdispVal; break;
    case VT_UNKNOWN: out->punkVal = *src.ppunkVal; break;
    case VT_DECIMAL: out->decVal = *src.pdecVal; break;  // overlays vt; set below
    case VT_VARIANT:
      // The variant referred to may itself refer to a value, but not to
      // another variant.
      if (src.pvarVal->vt == (VT_VARIANT | VT_BYREF)) return E_INVALIDARG;
      return Dereference(*src.pvarVal, out);
  }
  out->vt = base;
  return S_OK;
}

// Numbers.

struct DecimalText {
  bool negative = false;
  std::string digits;  // no leading zeros; empty for zero
  int exponent = 0;    // value = digits * 10^exponent
  std::string ascii;   // the trimmed text, without a leading '+', for from_chars
};

struct Number {
  enum Kind { kSigned, kUnsigned, kReal, kCurrency, kText } kind = kSigned;
  int64_t i = 0;  // kSigned; kCurrency in ten-thousandths
  uint64_t u = 0;
  double r = 0;
  DecimalText text;
};

HRESULT ParseDecimal(BSTR bstr, DecimalText* out) {
  std::u16string_view text(bstr == nullptr ? u"" : bstr, SysStringLen(bstr));
  const auto is_blank = [](char16_t c) { return c == u' ' || c == u'\t'; };
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  std::string ascii;
  for (char16_t c : text) {
    if (c >= 0x80) return DISP_E_TYPEMISMATCH;
    ascii.push_back(static_cast<char>(c));
  }
  if (ascii.empty()) return DISP_E_TYPEMISMATCH;
  if (ascii[0] == '+' || ascii[0] == '-') {
    out->negative = ascii[0] == '-';
    if (!out->negative) ascii.erase(0, 1);  // from_chars takes no '+'
  }
  size_t pos = out->negative ? 1 : 0;
  const auto is_digit = [](char c) { return c >= '0' && c <= '9'; };
  std::string digits;
  int fraction_digits = 0;
  bool any_digit = false;
  for (; pos < ascii.size() && is_digit(ascii[pos]); ++pos) {
    digits.push_back(ascii[pos]);
    any_digit = true;
  }
  if (pos < ascii.size() && ascii[pos] == '.') {
    for (++pos; pos < ascii.size() && is_digit(ascii[pos]); ++pos) {
      digits.push_back(ascii[pos]);
      ++fraction_digits;
      any_digit = true;
    }
  }
  if (!any_digit) return DISP_E_TYPEMISMATCH;
  long exponent = 0;
  if (pos < ascii.size() && (ascii[pos] == 'e' || ascii[pos] == 'E')) {
    ++pos;
    bool exponent_negative = false;
    if (pos < ascii.size() && (ascii[pos] == '+' || ascii[pos] == '-')) {
      exponent_negative = ascii[pos] == '-';
      ++pos;
    }
    if (pos == ascii.size() || !is_digit(ascii[pos])) return DISP_E_TYPEMISMATCH;
    for (; pos < ascii.size() && is_digit(ascii[pos]); ++pos) {
      if (exponent < 100000) exponent = exponent * 10 + (ascii[pos] - '0');
    }
    if (exponent_negative) exponent = -exponent;
  }
  if (pos != ascii.size()) return DISP_E_TYPEMISMATCH;
  const size_t first = digits.find_first_not_of('0');
  out->digits = first == std::string::npos ? std::string() : digits.substr(first);
  out->exponent = static_cast<int>(exponent) - fraction_digits;
  out->ascii = std::move(ascii);
  return S_OK;
}

// Rounds q + remainder/divisor half to even, for divisor > 0 and
// 0 <= |remainder| < divisor with the sign of q's value.
Int128 DivideRounded(Int128 value, Int128 divisor) {
  Int128 q = value / divisor;
  const Int128 r = value % divisor;
  const Int128 twice = (r < 0 ? -r : r) * 2;
  if (twice > divisor || (twice == divisor && (q % 2 != 0))) q += value < 0 ? -1 : 1;
  return q;
}

// The value times 10^scale, rounded half to even. False when it does not fit
// in 127 bits or is no number.
bool ScaledInteger(const Number& n, int scale, Int128* out) {
  constexpr Int128 kPow10[] = {1, 10, 100, 1000, 10000};
  switch (n.kind) {
    case Number::kSigned: *out = static_cast<Int128>(n.i) * kPow10[scale]; return true;
    case Number::kUnsigned: *out = static_cast<Int128>(n.u) * kPow10[scale]; return true;
    case Number::kCurrency:
      *out = scale >= 4 ? static_cast<Int128>(n.i) : DivideRounded(n.i, kPow10[4 - scale]);
      return true;
    case Number::kReal: {
      if (!std::isfinite(n.r)) return false;
      const long double x = std::nearbyint(static_cast<long double>(n.r) * kPow10[scale]);
      if (std::fabs(x) >= 1.0e38L) return false;
      *out = static_cast<Int128>(x);
      return true;
    }
    case Number::kText: {
      const DecimalText& t = n.text;
      const long shift = static_cast<long>(t.exponent) + scale;
      const long length = static_cast<long>(t.digits.size());
      Int128 value = 0;
      if (t.digits.empty() || length + shift < 0) {
        value = 0;  // below one half
      } else if (shift >= 0) {
        if (length + shift > 38) return false;
        for (char c : t.digits) value = value * 10 + (c - '0');
        for (long k = 0; k < shift; ++k) value *= 10;
      } else {
        const long keep = length + shift;
        if (keep > 38) return false;
        for (long k = 0; k < keep; ++k) value = value * 10 + (t.digits[k] - '0');
        const int next = t.digits[keep] - '0';
        const bool rest = t.digits.find_first_not_of('0', keep + 1) != std::string::npos;
        if (next > 5 || (next == 5 && (rest || value % 2 != 0))) ++value;
      }
      *out = t.negative ? -value : value;
      return true;
    }
  }
  return false;
}

HRESULT RealValue(const Number& n, double* out) {
  switch (n.kind) {
    case Number::kSigned: *out = static_cast<double>(n.i); return S_OK;
    case Number::kUnsigned: *out = static_cast<double>(n.u); return S_OK;
    case Number::kCurrency: *out = static_cast<double>(n.i) / 10000.0; return S_OK;
    case Number::kReal: *out = n.r; return S_OK;
    case Number::kText: {
      const std::string& a = n.text.ascii;
      const auto [end, ec] = std::from_chars(a.data(), a.data() + a.size(), *out);
      if (ec == std::errc::result_out_of_range) return DISP_E_OVERFLOW;
      if (ec != std::errc() || end != a.data() + a.size()) return DISP_E_TYPEMISMATCH;
      return S_OK;
    }
  }
  return DISP_E_TYPEMISMATCH;
}

bool IsNonZero(const Number& n) {
  switch (n.kind) {
    case Number::kSigned: case Number::kCurrency: return n.i != 0;
    case Number::kUnsigned: return n.u != 0;
    case Number::kReal: return n.r != 0;
    case Number::kText: return !n.text.digits.empty();
  }
  return false;
}

bool EqualsNoCase(BSTR bstr, std::u16string_view word) {
  std::u16string_view text(bstr == nullptr ? u"" : bstr, SysStringLen(bstr));
  while (!text.empty() && text.front() == u' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
  if (text.size() != word.size()) return false;
  for (size_t k = 0; k < text.size(); ++k) {
    char16_t c = text[k];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (c != word[k]) return false;
  }
  return true;
}

HRESULT Convert(const VARIANT& value, VARTYPE target, USHORT flags, VARIANT* out);

// The number a by-value variant stands for.
HRESULT NumberOf(const VARIANT& value, USHORT flags, Number* n) {
  switch (value.vt) {
    case VT_EMPTY: n->kind = Number::kSigned; n->i = 0; return S_OK;
    case VT_I1: n->kind = Number::kSigned; n->i = value.cVal; return S_OK;
    case VT_I2: n->kind = Number::kSigned; n->i = value.iVal; return S_OK;
    case VT_I4: n->kind = Number::kSigned; n->i = opossvc::Long32(value.lVal); return S_OK;
    case VT_INT: n->kind = Number::kSigned; n->i = value.intVal; return S_OK;
    case VT_I8: n->kind = Number::kSigned; n->i = value.llVal; return S_OK;
    case VT_BOOL: n->kind = Number::kSigned; n->i = value.boolVal; return S_OK;
    case VT_UI1: n->kind = Number::kUnsigned; n->u = value.bVal; return S_OK;
    case VT_UI2: n->kind = Number::kUnsigned; n->u = value.uiVal; return S_OK;
    case VT_UI4: n->kind = Number::kUnsigned; n->u = value.ulVal; return S_OK;
    case VT_UINT: n->kind = Number::kUnsigned; n->u = value.uintVal; return S_OK;
    case VT_UI8: n->kind = Number::kUnsigned; n->u = value.ullVal; return S_OK;
    case VT_R4: n->kind = Number::kReal; n->r = value.fltVal; return S_OK;
    case VT_R8: n->kind = Number::kReal; n->r = value.dblVal; return S_OK;
    case VT_DATE: n->kind = Number::kReal; n->r = value.date; return S_OK;
    case VT_CY: n->kind = Number::kCurrency; n->i = value.cyVal.int64; return S_OK;
    case VT_BSTR: n->kind = Number::kText; return ParseDecimal(value.bstrVal, &n->text);
    default: return DISP_E_TYPEMISMATCH;
  }
}

template <class T>
HRESULT StoreInteger(const Number& n, T* out) {
  Int128 v;
  if (!ScaledInteger(n, 0, &v)) return DISP_E_OVERFLOW;
  if (v < static_cast<Int128>(std::numeric_limits<T>::min()) ||
      v > static_cast<Int128>(std::numeric_limits<T>::max())) {
    return DISP_E_OVERFLOW;
  }
  *out = static_cast<T>(v);
  return S_OK;
}

// The width in bytes of an integer type, 0 for other types.
int IntegerWidth(VARTYPE vt) {
  switch (vt) {
    case VT_I1: case VT_UI1: return 1;
    case VT_I2: case VT_UI2: return 2;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: return 4;
    case VT_I8: case VT_UI8: return 8;
    default: return 0;
  }
}

// The two's complement bits of an integer or boolean value.
uint64_t IntegerBits(const VARIANT& value) {
  switch (value.vt) {
    case VT_I1: return static_cast<uint64_t>(value.cVal);
    case VT_UI1: return value.bVal;
    case VT_I2: return static_cast<uint64_t>(value.iVal);
    case VT_BOOL: return static_cast<uint64_t>(value.boolVal);
    case VT_UI2: return value.uiVal;
    case VT_I4: return static_cast<uint64_t>(value.lVal);
    case VT_INT: return static_cast<uint64_t>(value.intVal);
    case VT_UI4: return value.ulVal;
    case VT_UINT: return value.uintVal;
    case VT_I8: return static_cast<uint64_t>(value.llVal);
    default: return value.ullVal;
  }
}

// The low bits of `bits` as an integer of type `target`.
void StoreIntegerBits(uint64_t bits, VARTYPE target, VARIANT* out) {
  out->vt = target;
  switch (target) {
    case VT_I1: out->cVal = static_cast<CHAR>(bits); break;
    case VT_UI1: out->bVal = static_cast<BYTE>(bits); break;
    case VT_I2: out->iVal = static_cast<SHORT>(bits); break;
    case VT_UI2: out->uiVal = static_cast<USHORT>(bits); break;
    case VT_I4: out->lVal = opossvc::Long32(static_cast<int64_t>(bits)); break;
    case VT_INT: out->intVal = static_cast<INT>(bits); break;
    case VT_UI4: out->ulVal = static_cast<ULONG>(bits); break;
    case VT_UINT: out->uintVal = static_cast<UINT>(bits); break;
    case VT_I8: out->llVal = static_cast<LONGLONG>(bits); break;
    default: out->ullVal = bits; break;
  }
}

HRESULT StoreNumber(const Number& n, VARTYPE target, VARIANT* out) {
  out->vt = target;
  switch (target) {
    case VT_I1: return StoreInteger(n, &out->cVal);
    case VT_I2: return StoreInteger(n, &out->iVal);
    case VT_I4: {
      int32_t value = 0;  // 32-bit, however wide LONG is
      const HRESULT hr = StoreInteger(n, &value);
      out->lVal = value;
      return hr;
    }
    case VT_INT: return StoreInteger(n, &out->intVal);
    case VT_I8: return StoreInteger(n, &out->llVal);
    case VT_UI1: return StoreInteger(n, &out->bVal);
    case VT_UI2: return StoreInteger(n, &out->uiVal);
    case VT_UI4: return StoreInteger(n, &out->ulVal);
    case VT_UINT: return StoreInteger(n, &out->uintVal);
    case VT_UI8: return StoreInteger(n, &out->ullVal);
    case VT_CY: {
      Int128 v;
      if (!ScaledInteger(n, 4, &v) || v < std::numeric_limits<int64_t>::min() ||
          v > std::numeric_limits<int64_t>::max()) {
        return DISP_E_OVERFLOW;
      }
      out->cyVal.int64 = static_cast<int64_t>(v);
      return S_OK;
    }
    case VT_BOOL:
      out->boolVal = IsNonZero(n) ? VARIANT_TRUE : VARIANT_FALSE;
      return S_OK;
    case VT_R4: {
      double d;
      const HRESULT hr = RealValue(n, &d);
      if (FAILED(hr)) return hr;
      if (std::isfinite(d) && std::fabs(d) > FLT_MAX) return DISP_E_OVERFLOW;
      out->fltVal = static_cast<float>(d);
      return S_OK;
    }
    case VT_R8:
      return RealValue(n, &out->dblVal);
    case VT_DATE: {
      double d;
      const HRESULT hr = RealValue(n, &d);
      if (FAILED(hr)) return hr;
      // 1 January 100 to 31 December 9999.
      if (!(d > -657435.0 && d < 2958466.0)) return DISP_E_OVERFLOW;
      out->date = d;
      return S_OK;
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

// Text.

HRESULT TextOf(const VARIANT& value, USHORT flags, std::string* text) {
  char buffer[64];
  switch (value.vt) {
    case VT_EMPTY: text->clear(); return S_OK;
    case VT_BOOL:
      if (flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL)) {
        *text = value.boolVal ? "True" : "False";
      } else {
        *text = std::to_string(value.boolVal);  // the number it holds, -1 for true
      }
      return S_OK;
    case VT_R4:
      std::snprintf(buffer, sizeof buffer, "%.7G", static_cast<double>(value.fltVal));
      break;
    case VT_R8:
      std::snprintf(buffer, sizeof buffer, "%.15G", value.dblVal);
      break;
    case VT_CY: {
      const int64_t units = value.cyVal.int64;
      const uint64_t magnitude = units < 0 ? 0 - static_cast<uint64_t>(units) : units;
      int length = std::snprintf(buffer, sizeof buffer, "%s%llu", units < 0 ? "-" : "",
                                 static_cast<unsigned long long>(magnitude / 10000));
      unsigned fraction = static_cast<unsigned>(magnitude % 10000);
      if (fraction != 0) {
        int digits = 4;
        while (fraction % 10 == 0) {
          fraction /= 10;
          --digits;
        }
        std::snprintf(buffer + length, sizeof buffer - length, ".%0*u", digits, fraction);
      }
      break;
    }
    default: {
      Number n;
      if (value.vt == VT_DATE || FAILED(NumberOf(value, flags, &n))) return DISP_E_TYPEMISMATCH;
      if (n.kind == Number::kSigned) {
        std::snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(n.i));
      } else if (n.kind == Number::kUnsigned) {
        std::snprintf(buffer, sizeof buffer, "%llu", static_cast<unsigned long long>(n.u));
      } else {
        return DISP_E_TYPEMISMATCH;
      }
    }
  }
  *text = buffer;
  return S_OK;
}

HRESULT ToBstr(const VARIANT& value, USHORT flags, VARIANT* out) {
  if (value.vt == VT_BSTR) {
    out->bstrVal = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(value.bstrVal),
                                         SysStringByteLen(value.bstrVal));
  } else {
    std::string text;
    const HRESULT hr = TextOf(value, flags, &text);
    if (FAILED(hr)) return hr;
    const std::u16string wide(text.begin(), text.end());  // ASCII
    out->bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  }
  if (out->bstrVal == nullptr) return E_OUTOFMEMORY;
  out->vt = VT_BSTR;
  return S_OK;
}

HRESULT ToInterface(const VARIANT& value, VARTYPE target, VARIANT* out) {
  IUnknown* unknown = nullptr;
  if (value.vt == VT_DISPATCH) {
    unknown = value.pdispVal;
  } else if (value.vt == VT_UNKNOWN) {
    unknown = value.punkVal;
  } else {
    return DISP_E_TYPEMISMATCH;
  }
  out->vt = target;
  out->punkVal = nullptr;
  if (unknown == nullptr) return S_OK;
  if (target == VT_DISPATCH && value.vt != VT_DISPATCH) {
    void* dispatch = nullptr;
    const HRESULT hr = unknown->QueryInterface(IID_IDispatch, &dispatch);
    if (FAILED(hr) || dispatch == nullptr) return DISP_E_TYPEMISMATCH;
    out->pdispVal = static_cast<IDispatch*>(dispatch);
    return S_OK;
  }
  unknown->AddRef();
  if (target == VT_DISPATCH) {
    out->pdispVal = value.pdispVal;
  } else {
    out->punkVal = unknown;
  }
  return S_OK;
}

// An object stands for the value of its default property.
HRESULT ConvertValueProperty(const VARIANT& value, VARTYPE target, USHORT flags, VARIANT* out) {
  if ((flags & VARIANT_NOVALUEPROP) || value.pdispVal == nullptr) return DISP_E_TYPEMISMATCH;
  DISPPARAMS no_arguments = {nullptr, nullptr, 0, 0};
  VARIANT property;
  VariantInit(&property);
  HRESULT hr = value.pdispVal->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT,
                                      DISPATCH_PROPERTYGET, &no_arguments, &property, nullptr,
                                      nullptr);
  if (FAILED(hr)) return hr;
  VARIANT plain;
  hr = Dereference(property, &plain);
  if (SUCCEEDED(hr)) {
    // An object again would recurse without end.
    hr = plain.vt == VT_DISPATCH || plain.vt == VT_UNKNOWN ? DISP_E_TYPEMISMATCH
                                                            : Convert(plain, target, flags, out);
  }
  VariantClear(&property);
  return hr;
}

// Any value but an error converts to nothing: empty, or null. Null itself
// does not become empty.
HRESULT ToNothing(const VARIANT& value, VARTYPE target, USHORT flags, VARIANT* out) {
  if (value.vt == VT_ERROR || (value.vt == VT_NULL && target == VT_EMPTY) ||
      (value.vt == VT_DISPATCH && (flags & VARIANT_NOVALUEPROP))) {
    return DISP_E_TYPEMISMATCH;
  }
  out->vt = target;
  return S_OK;
}

HRESULT Convert(const VARIANT& value, VARTYPE target, USHORT flags, VARIANT* out) {
  if (target == VT_DISPATCH || target == VT_UNKNOWN) return ToInterface(value, target, out);
  if (target == value.vt && target != VT_BSTR) {
    *out = value;  // a plain value: nothing owned
    return S_OK;
  }
  if (target == VT_EMPTY || target == VT_NULL) return ToNothing(value, target, flags, out);
  if (value.vt == VT_DISPATCH && target != VT_ERROR) {
    return ConvertValueProperty(value, target, flags, out);
  }
  if (target == VT_BSTR) return ToBstr(value, flags, out);
  if (target == VT_ERROR || value.vt == VT_NULL || value.vt == VT_ERROR ||
      value.vt == VT_UNKNOWN) {
    return DISP_E_TYPEMISMATCH;
  }
  // Integers of one width keep their bits whatever their signs; a boolean
  // keeps its bits in every integer type.
  const int width = IntegerWidth(target);
  if (width != 0 && (value.vt == VT_BOOL || IntegerWidth(value.vt) == width)) {
    StoreIntegerBits(IntegerBits(value), target, out);
    return S_OK;
  }
  if (target == VT_BOOL && value.vt == VT_BSTR) {
    out->vt = VT_BOOL;
    const bool is_true = EqualsNoCase(value.bstrVal, u"true");
    if (is_true || EqualsNoCase(value.bstrVal, u"false")) {
      out->boolVal = is_true ? VARIANT_TRUE : VARIANT_FALSE;
      return S_OK;
    }
  }
  Number n;
  const HRESULT hr = NumberOf(value, flags, &n);
  if (FAILED(hr)) return hr;
  return StoreNumber(n, target, out);
}

}  // namespace

void VariantInit(VARIANTARG* pvarg) {
  if (pvarg == nullptr) return;
  std::memset(static_cast<void*>(pvarg), 0, sizeof *pvarg);
  pvarg->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANTARG* pvarg) {
  if (pvarg == nullptr) return E_INVALIDARG;
  if (!IsManagedType(pvarg->vt)) return DISP_E_BADVARTYPE;
  switch (pvarg->vt) {
    case VT_BSTR:
      SysFreeString(pvarg->bstrVal);
      break;
    case VT_DISPATCH:
      if (pvarg->pdispVal != nullptr) pvarg->pdispVal->Release();
      break;
    case VT_UNKNOWN:
      if (pvarg->punkVal != nullptr) pvarg->punkVal->Release();
      break;
    default:
      break;  // by-value numbers and references own nothing
  }
  VariantInit(pvarg);
  return S_OK;
}

HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
  if (pvargDest == nullptr || pvargSrc == nullptr) return E_INVALIDARG;
  if (!IsManagedType(pvargSrc->vt)) return DISP_E_BADVARTYPE;
  if (pvargDest == pvargSrc) return S_OK;
  VARIANT copy = *pvargSrc;
  IUnknown* referenced = nullptr;
  switch (pvargSrc->vt) {
    case VT_BSTR:
      // A null string copies as an empty one.
      copy.bstrVal = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(pvargSrc->bstrVal),
                                           SysStringByteLen(pvargSrc->bstrVal));
      if (copy.bstrVal == nullptr) return E_OUTOFMEMORY;
      break;
    case VT_DISPATCH:
      referenced = pvargSrc->pdispVal;
      break;
    case VT_UNKNOWN:
      referenced = pvargSrc->punkVal;
      break;
    default:
      break;
  }
  // The reference is taken first: clearing the destination may drop the
  // last other one on the same object.
  if (referenced != nullptr) referenced->AddRef();
  const HRESULT hr = VariantClear(pvargDest);
  if (FAILED(hr)) {
    if (referenced != nullptr) referenced->Release();
    if (copy.vt == VT_BSTR) SysFreeString(copy.bstrVal);
    return hr;
  }
  *pvargDest = copy;
  return S_OK;
}

HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc) {
  if (pvarDest == nullptr || pvargSrc == nullptr) return E_INVALIDARG;
  VARIANT value;
  HRESULT hr = Dereference(*pvargSrc, &value);
  if (FAILED(hr)) return hr;
  VARIANT owned;
  VariantInit(&owned);
  hr = VariantCopy(&owned, &value);
  if (FAILED(hr)) return hr;
  hr = VariantClear(pvarDest);
  if (FAILED(hr)) {
    VariantClear(&owned);
    return hr;
  }
  *pvarDest = owned;
  return S_OK;
}

HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags,
                          VARTYPE vt) {
  return VariantChangeTypeEx(pvargDest, pvarSrc, LOCALE_USER_DEFAULT, wFlags, vt);
}

HRESULT VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, LCID /*lcid*/,
                            USHORT wFlags, VARTYPE vt) {
  if (pvargDest == nullptr || pvarSrc == nullptr) return E_INVALIDARG;
  if (!IsValueType(vt)) return DISP_E_BADVARTYPE;
  VARIANT value;
  HRESULT hr = Dereference(*pvarSrc, &value);
  if (FAILED(hr)) return hr;
  if (!IsValueType(value.vt)) return DISP_E_BADVARTYPE;
  VARIANT result;
  VariantInit(&result);
  hr = Convert(value, vt, wFlags, &result);
  if (FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  // The source is read in full before the destination (maybe the same
  // variant) is cleared.
  hr = VariantClear(pvargDest);
  if (FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  *pvargDest = result;
  return S_OK;
}
