#include "com/errors.h"

#include <oleauto.h>
#include <wrl/client.h>

#include <cwchar>

using Microsoft::WRL::ComPtr;

namespace com {

std::wstring describe(HRESULT hr) {
    switch (hr) {
    case error_overflow: return L"Overflow";
    case error_subscript: return L"Subscript out of range";
    case error_type_mismatch: return L"Type mismatch";
    case error_object_not_set: return L"Object variable or With block variable not set";
    case E_NOTIMPL: return L"Not implemented";
    default: break;
    }
    wchar_t* text = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring result;
    if (n && text) {
        result.assign(text, n);
        while (!result.empty() && (result.back() == L'\n' || result.back() == L'\r' || result.back() == L' '))
            result.pop_back();
    }
    if (text) LocalFree(text);
    wchar_t code[32];
    std::swprintf(code, 32, L"0x%08lX", static_cast<unsigned long>(hr));
    return result.empty() ? std::wstring(L"Error ") + code : result + L" (" + code + L")";
}

void raise(HRESULT automation_error) { throw error(automation_error, describe(automation_error)); }

void check(HRESULT hr, const wchar_t* operation) {
    if (FAILED(hr)) throw error(hr, std::wstring(operation) + L" failed: " + describe(hr));
}

HRESULT report(HRESULT hr, const std::wstring& description, const wchar_t* source, REFIID iid) noexcept {
    ComPtr<ICreateErrorInfo> create;
    if (SUCCEEDED(CreateErrorInfo(&create))) {
        create->SetGUID(iid);
        create->SetSource(const_cast<LPOLESTR>(source));
        create->SetDescription(const_cast<LPOLESTR>(description.c_str()));
        ComPtr<IErrorInfo> info;
        if (SUCCEEDED(create.As(&info))) SetErrorInfo(0, info.Get());
    }
    return hr;
}

}  // namespace com
