// Small helpers shared by the unit tests.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <string>

using Microsoft::WRL::ComPtr;

// The built engine DLL, which lies beside the test program.
inline std::wstring engine_dll_path() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path, n);
    return p.substr(0, p.find_last_of(L"\\/") + 1) + L"dx8engine.dll";
}

// A BSTR owned for the length of a test.
class bstr {
public:
    bstr() = default;
    explicit bstr(const wchar_t* s) : b_(SysAllocString(s)) {}
    ~bstr() { SysFreeString(b_); }
    bstr(const bstr&) = delete;
    bstr& operator=(const bstr&) = delete;
    BSTR* out() {
        SysFreeString(b_);
        b_ = nullptr;
        return &b_;
    }
    BSTR get() const { return b_; }
    std::wstring str() const { return b_ ? std::wstring(b_, SysStringLen(b_)) : std::wstring(); }

private:
    BSTR b_ = nullptr;
};

// A VARIANT cleared at the end of its scope.
struct variant : VARIANT {
    variant() { VariantInit(this); }
    ~variant() { VariantClear(this); }
    variant(const variant&) = delete;
    variant& operator=(const variant&) = delete;
};

// The description of the calling thread's error information, or "" when there is none.
inline std::wstring error_description() {
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) != S_OK) return L"";
    bstr d;
    info->GetDescription(d.out());
    return d.str();
}
