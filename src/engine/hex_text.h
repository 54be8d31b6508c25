// Colours given as hexadecimal text, converted as the automation runtime converts "&H" text.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <string>

#include "com/errors.h"

namespace engine {

// The Long that text such as "&HFFCCCCFF" stands for: error 13 when it does not read as a
// number, error 6 when it does not fit in 32 bits.
inline LONG long_from_hex_text(const std::wstring& text) {
    LONG value = 0;
    HRESULT hr = VarI4FromStr(const_cast<OLECHAR*>(text.c_str()), LOCALE_USER_DEFAULT, 0, &value);
    if (hr == DISP_E_OVERFLOW) com::raise(com::error_overflow);
    if (FAILED(hr)) com::raise(com::error_type_mismatch);
    return value;
}

}  // namespace engine
