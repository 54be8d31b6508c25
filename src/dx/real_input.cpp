// DirectInput over the platform's dinput8.dll, loaded at run time.
#define DIRECTINPUT_VERSION 0x0800
#include <dinput.h>

#include <array>
#include <cwchar>
#include <string>

#include "dx/layer.h"
#include "dx/real.h"
#include "dx/ref_counted.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace dx {
namespace {

// The device GUID a name stands for.
HRESULT device_guid(const wchar_t* name, GUID& out) {
    if (!name) return E_INVALIDARG;
    if (_wcsicmp(name, L"GUID_SysKeyboard") == 0) {
        out = GUID_SysKeyboard;
        return S_OK;
    }
    if (_wcsicmp(name, L"GUID_SysMouse") == 0) {
        out = GUID_SysMouse;
        return S_OK;
    }
    // A GUID in braces, exactly 38 characters.
    if (name[0] == L'{' && std::wcslen(name) == 38 && SUCCEEDED(IIDFromString(name, &out))) return S_OK;
    return E_INVALIDARG;
}

// The keyboard's data format: one optional button per key code, its state byte at the offset
// of its code (the platform's c_dfDIKeyboard, built here to keep dinput8 unlinked).
const DIDATAFORMAT& keyboard_format() {
    static const auto objects = [] {
        std::array<DIOBJECTDATAFORMAT, 256> o{};
        for (DWORD i = 0; i < o.size(); ++i)
            o[i] = {&GUID_Key, i, DIDFT_MAKEINSTANCE(i) | DIDFT_BUTTON | DIDFT_OPTIONAL, 0};
        return o;
    }();
    static DIDATAFORMAT format = {sizeof(DIDATAFORMAT), sizeof(DIOBJECTDATAFORMAT), DIDF_RELAXIS, 256,
                                  static_cast<DWORD>(objects.size()), const_cast<DIOBJECTDATAFORMAT*>(objects.data())};
    return format;
}

class real_directinputdevice8 final : public ref_counted<DirectInputDevice8> {
public:
    // The device keeps the DirectInput object it was made from, and so its DLL, alive.
    real_directinputdevice8(ComPtr<DirectInput8> parent, ComPtr<IDirectInputDevice8W> device)
        : parent_(std::move(parent)), device_(std::move(device)) {}
    ~real_directinputdevice8() override { device_.Reset(); }  // before the parent goes

    HRESULT SetCommonDataFormat(LONG format) override {
        if (format != format_keyboard) return E_INVALIDARG;
        return device_->SetDataFormat(&keyboard_format());
    }
    HRESULT SetCooperativeLevel(HWND window, LONG flags) override {
        return device_->SetCooperativeLevel(window, static_cast<DWORD>(flags));
    }
    HRESULT SetProperty(const wchar_t* name, const property_long& value) override {
        if (!name || _wcsicmp(name, L"diprop_buffersize") != 0) return E_INVALIDARG;
        DIPROPDWORD p{};
        p.diph.dwSize = sizeof p;
        p.diph.dwHeaderSize = sizeof p.diph;
        p.diph.dwObj = static_cast<DWORD>(value.object);
        p.diph.dwHow = static_cast<DWORD>(value.how);
        p.dwData = static_cast<DWORD>(value.data);
        return device_->SetProperty(DIPROP_BUFFERSIZE, &p.diph);
    }
    HRESULT Acquire() override { return device_->Acquire(); }
    HRESULT GetDeviceStateKeyboard(keyboard_state& state) override {
        return device_->GetDeviceState(static_cast<DWORD>(state.size()), state.data());
    }
    HRESULT GetDeviceData(key_record* records, LONG slots, LONG flags, LONG* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        if (slots < 0 || (slots > 0 && !records)) return E_INVALIDARG;
        if (slots > max_slots) slots = max_slots;
        // The platform's record is wider on 64-bit Windows (its last word is pointer-sized).
        DIDEVICEOBJECTDATA read[max_slots] = {};
        DWORD n = static_cast<DWORD>(slots);
        HRESULT hr = device_->GetDeviceData(sizeof(DIDEVICEOBJECTDATA), read, &n, static_cast<DWORD>(flags));
        if (FAILED(hr)) return hr;
        if (n > static_cast<DWORD>(slots)) n = static_cast<DWORD>(slots);
        for (DWORD i = 0; i < n; ++i) {
            records[i] = {static_cast<LONG>(read[i].dwOfs), static_cast<LONG>(read[i].dwData),
                          static_cast<LONG>(read[i].dwTimeStamp), static_cast<LONG>(read[i].dwSequence),
                          static_cast<LONG>(read[i].uAppData)};
        }
        *count = static_cast<LONG>(n);
        return hr;
    }
    HRESULT Unacquire() override { return device_->Unacquire(); }

private:
    static constexpr LONG max_slots = 256;
    ComPtr<DirectInput8> parent_;
    ComPtr<IDirectInputDevice8W> device_;
};

class real_directinput8 final : public ref_counted<DirectInput8> {
public:
    real_directinput8(library lib, ComPtr<IDirectInput8W> di) : lib_(std::move(lib)), di_(std::move(di)) {}
    ~real_directinput8() override { di_.Reset(); }

    HRESULT CreateDevice(const wchar_t* name, DirectInputDevice8** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        GUID guid{};
        HRESULT hr = device_guid(name, guid);
        if (FAILED(hr)) return hr;
        ComPtr<IDirectInputDevice8W> device;
        hr = di_->CreateDevice(guid, &device, nullptr);
        if (FAILED(hr)) return hr;
        ComPtr<DirectInputDevice8> made;
        hr = make<real_directinputdevice8>(made, ComPtr<DirectInput8>(this), std::move(device));
        if (FAILED(hr)) return hr;
        *out = made.Detach();
        return S_OK;
    }

private:
    library lib_;
    ComPtr<IDirectInput8W> di_;
};

}  // namespace

HRESULT create_real_directinput8(DirectInput8** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    library lib;
    HRESULT hr = library::load(L"dinput8.dll", lib);
    if (FAILED(hr)) return hr;
    using create_fn = HRESULT(WINAPI*)(HINSTANCE, DWORD, REFIID, void**, IUnknown*);
    auto create = reinterpret_cast<create_fn>(lib.symbol("DirectInput8Create"));
    if (!create) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    ComPtr<IDirectInput8W> di;
    hr = create(reinterpret_cast<HINSTANCE>(&__ImageBase), DIRECTINPUT_VERSION, IID_IDirectInput8W,
                reinterpret_cast<void**>(di.GetAddressOf()), nullptr);
    if (FAILED(hr)) return hr;
    ComPtr<DirectInput8> made;
    hr = make<real_directinput8>(made, std::move(lib), std::move(di));
    if (FAILED(hr)) return hr;
    *out = made.Detach();
    return S_OK;
}

}  // namespace dx
