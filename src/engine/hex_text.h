// Colours given as hexadecimal text, converted as the automation runtime converts "&H" text.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <cwchar>
#include <iterator>
#include <string>

#include "com/errors.h"

namespace engine {

// The Long that text such as "&HFFCCCCFF" stands for: error 13 when it does not read as a
// number, error 6 when it does not fit in 32 bits.
inline LONG long_from_hex_text(const wchar_t* text) {
    LONG value = 0;
    HRESULT hr = VarI4FromStr(const_cast<OLECHAR*>(text), LOCALE_USER_DEFAULT, 0, &value);
    if (hr == DISP_E_OVERFLOW) com::raise(com::error_overflow);
    if (FAILED(hr)) com::raise(com::error_type_mismatch);
    return value;
}

// The same for a prefix such as "&HFF" followed by the digits of a string (nullptr: none). The
// text is put together on the stack when it is short, as a colour always is, so that drawing
// allocates nothing; like the runtime, the conversion reads up to the first null character.
inline LONG long_from_hex_text(const wchar_t* prefix, BSTR digits) {
    const size_t p = std::wcslen(prefix), n = digits ? SysStringLen(digits) : 0;
    wchar_t text[64];
    if (p + n >= std::size(text)) return long_from_hex_text((std::wstring(prefix) + std::wstring(digits, n)).c_str());
    std::wmemcpy(text, prefix, p);
    if (n) std::wmemcpy(text + p, digits, n);
    text[p + n] = L'\0';
    return long_from_hex_text(text);
}

}  // namespace engine
