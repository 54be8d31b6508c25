#include "com/errors.h"

#include <d3d8.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <cwchar>

using Microsoft::WRL::ComPtr;

namespace com {

namespace {

// The failure codes of Direct3D, D3DX and DirectInput that the system's message table does
// not know: their names, as a programmer looks them up, and what they mean to a client.
const wchar_t* directx_text(HRESULT hr) {
    switch (hr) {
    case D3DERR_INVALIDCALL:
        return L"D3DERR_INVALIDCALL: the call is not valid in the device's present state, or an argument is wrong";
    case D3DERR_DEVICELOST: return L"D3DERR_DEVICELOST: the device is lost and cannot draw until it is reset";
    case D3DERR_DEVICENOTRESET: return L"D3DERR_DEVICENOTRESET: the device is lost and can be reset now";
    case D3DERR_NOTAVAILABLE: return L"D3DERR_NOTAVAILABLE: the device does not offer what was asked for";
    case D3DERR_NOTFOUND: return L"D3DERR_NOTFOUND: the item asked for was not found";
    case D3DERR_MOREDATA: return L"D3DERR_MOREDATA: the buffer is too small for the data";
    case D3DERR_INVALIDDEVICE: return L"D3DERR_INVALIDDEVICE: the device type asked for is not valid";
    case D3DERR_OUTOFVIDEOMEMORY: return L"D3DERR_OUTOFVIDEOMEMORY: the display adapter has no memory left for this";
    case D3DERR_DRIVERINTERNALERROR: return L"D3DERR_DRIVERINTERNALERROR: the display driver failed";
    case D3DERR_DRIVERINVALIDCALL: return L"D3DERR_DRIVERINVALIDCALL: the display driver refused the call";
    case D3DERR_WRONGTEXTUREFORMAT: return L"D3DERR_WRONGTEXTUREFORMAT: the texture format cannot be used this way";
    case D3DERR_CONFLICTINGRENDERSTATE: return L"D3DERR_CONFLICTINGRENDERSTATE: the render states set cannot be used together";
    case D3DERR_UNSUPPORTEDTEXTUREFILTER: return L"D3DERR_UNSUPPORTEDTEXTUREFILTER: the device does not offer the texture filter";
    case D3DERR_TOOMANYOPERATIONS: return L"D3DERR_TOOMANYOPERATIONS: the device cannot do that many texture operations";
    // D3DX's own codes (facility 0x876, 2900 on).
    case static_cast<HRESULT>(0x88760B54): return L"D3DXERR_CANNOTMODIFYINDEXBUFFER: the index buffer cannot be changed";
    case static_cast<HRESULT>(0x88760B55): return L"D3DXERR_INVALIDMESH: the mesh is not valid";
    case static_cast<HRESULT>(0x88760B56): return L"D3DXERR_CANNOTATTRSORT: the mesh cannot be sorted by attribute";
    case static_cast<HRESULT>(0x88760B57): return L"D3DXERR_SKINNINGNOTSUPPORTED: skinning is not supported";
    case static_cast<HRESULT>(0x88760B58): return L"D3DXERR_TOOMANYINFLUENCES: too many bones influence a vertex";
    case static_cast<HRESULT>(0x88760B59): return L"D3DXERR_INVALIDDATA: the file's data is not valid";
    case static_cast<HRESULT>(0x88760B5A): return L"D3DXERR_LOADEDMESHHASNODATA: the mesh loaded has no data";
    // DirectInput's codes outside the system's range; its others are system codes.
    case REGDB_E_CLASSNOTREG: return L"DIERR_DEVICENOTREG, REGDB_E_CLASSNOTREG: the device or class asked for is not registered";
    case static_cast<HRESULT>(0x80040200): return L"DIERR_INSUFFICIENTPRIVS: the program may not use the device this way";
    case static_cast<HRESULT>(0x80040207): return L"DIERR_NOTBUFFERED: the device was not given a buffer";
    case static_cast<HRESULT>(0x80040209): return L"DIERR_UNPLUGGED: the device was unplugged";
    default: return nullptr;
    }
}

}  // namespace

std::wstring describe(HRESULT hr) {
    switch (hr) {
    case error_invalid_argument: return L"Invalid procedure call or argument";
    case error_overflow: return L"Overflow";
    case error_subscript: return L"Subscript out of range";
    case error_type_mismatch: return L"Type mismatch";
    case error_object_not_set: return L"Object variable or With block variable not set";
    case E_NOTIMPL: return L"Not implemented";
    default: break;
    }
    wchar_t code[32];
    std::swprintf(code, 32, L"0x%08lX", static_cast<unsigned long>(hr));
    if (const wchar_t* text = directx_text(hr)) return std::wstring(text) + L" (" + code + L")";
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
