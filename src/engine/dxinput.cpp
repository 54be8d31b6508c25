// Class dxinput: the keyboard as events. It is a connectable object with one connection
// point, for the event interface __dxinput. engine_initialize opens a DirectInput keyboard
// on the client's window; each capturekey reads it and raises keydown for every key down and
// keyup for every buffered release of a key an earlier keydown flagged, then pauses.
#include <ocidl.h>
#include <olectl.h>

#include <array>
#include <string>

#include "com/connection_point.h"
#include "com/object.h"
#include "engine/classes.h"
#include "engine/declarations.h"
#include "engine/pause.h"

namespace engine {
namespace {

using base = com::automation_object<iface::_dxinput>;

constexpr DISPID dispid_keyup = 1;
constexpr DISPID dispid_keydown = 2;
constexpr LONG cooperative_level = 10;  // DISCL_NONEXCLUSIVE | DISCL_BACKGROUND
constexpr LONG buffered_records = 10;   // the device's buffer; the read offers one slot more
constexpr LONG last_key = 255;
constexpr LONG last_slot = 10;
constexpr DWORD pause_milliseconds = 50;
// A buffered read that fails with this code ends capturekey at once, quietly.
constexpr HRESULT quiet_read_failure = static_cast<HRESULT>(0x80040260);

bool is_key(LONG code) { return code >= 0 && code <= last_key; }

class dxinput final : public base, public IConnectionPointContainer, public IProvideClassInfo2 {
public:
    dxinput() : base(L"dxinput") {
        *events_.ReleaseAndGetAddressOf() = new com::connection_point(this, iface::DIID_dxinput_events);
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override { return base::QueryInterface(iid, out); }
    ULONG STDMETHODCALLTYPE AddRef() override { return base::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return base::Release(); }

    HRESULT STDMETHODCALLTYPE engine_initialize(LONG* targetframe, BSTR* device) override {
        return call([&] {
            com::need_arguments(targetframe, device);
            auto& s = declarations();
            ComPtr<dx::DirectInput8> input;
            com::check(com::need(s.dx8).DirectInputCreate(&input), L"DirectX8.DirectInputCreate");
            s.dinput8 = input;
            const std::wstring name(*device ? *device : L"", SysStringLen(*device));
            ComPtr<dx::DirectInputDevice8> opened;
            com::check(com::need(s.dinput8).CreateDevice(name.c_str(), &opened),
                       (L"DirectInput8.CreateDevice(\"" + name + L"\")").c_str());
            keyboard_device_ = opened;  // the device held before goes without Unacquire
            auto& keyboard = com::need(keyboard_device_);
            com::check(keyboard.SetCommonDataFormat(dx::format_keyboard), L"DirectInputDevice8.SetCommonDataFormat");
            // A window handle travels as a Long; on 64-bit Windows it is sign-extended back.
            HWND window = reinterpret_cast<HWND>(static_cast<LONG_PTR>(*targetframe));
            com::check(keyboard.SetCooperativeLevel(window, cooperative_level), L"DirectInputDevice8.SetCooperativeLevel");
            com::check(keyboard.SetProperty(L"diprop_buffersize", {0, 0, buffered_records}),
                       L"DirectInputDevice8.SetProperty");
            com::check(keyboard.Acquire(), L"DirectInputDevice8.Acquire");
        });
    }

    HRESULT STDMETHODCALLTYPE engine_Terminate() override {
        return call([&] {
            com::check(com::need(keyboard_device_).Unacquire(), L"DirectInputDevice8.Unacquire");
            keyboard_device_.Reset();
            declarations().dinput8.Reset();
        });
    }

    HRESULT STDMETHODCALLTYPE capturekey() override {
        return call([&] {
            com::check(com::need(keyboard_device_).GetDeviceStateKeyboard(key_state_),
                       L"DirectInputDevice8.GetDeviceStateKeyboard");
            // From here on a failing step is skipped and the call goes on.
            if (read_buffered_records() == quiet_read_failure) return;
            keydown_pass();
            keyup_pass();
            pause(pause_milliseconds);
        });
    }

    // IConnectionPointContainer
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** out) override {
        return com::enum_connection_points(events_.Get(), out);
    }
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != iface::DIID_dxinput_events) return CONNECT_E_NOCONNECTION;
        return events_.CopyTo(out);
    }

    // IProvideClassInfo2: lets script hosts find the event interface.
    HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** out) override {
        if (!out) return E_POINTER;
        return com::type_info_of(iface::CLSID_dxinput, out);
    }
    HRESULT STDMETHODCALLTYPE GetGUID(DWORD kind, GUID* out) override {
        if (!out) return E_POINTER;
        if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
            *out = GUID_NULL;
            return E_INVALIDARG;
        }
        *out = iface::DIID_dxinput_events;
        return S_OK;
    }

protected:
    ~dxinput() override { events_->detach(); }

    void* query_extra(REFIID iid) override {
        if (iid == IID_IConnectionPointContainer) return static_cast<IConnectionPointContainer*>(this);
        if (iid == IID_IProvideClassInfo || iid == IID_IProvideClassInfo2) return static_cast<IProvideClassInfo2*>(this);
        return nullptr;
    }

private:
    // Empties every slot, then reads the device's buffered records into them from slot 0
    // upward. A slot the read does not fill, or every slot after a failing read, holds a
    // record naming no key, so no release is ever reported twice or from an earlier read.
    // Returns the read's failure, or S_OK.
    HRESULT read_buffered_records() noexcept {
        key_events_.fill(dx::empty_record);
        LONG count = 0;
        HRESULT hr = keyboard_device_->GetDeviceData(key_events_.data(), static_cast<LONG>(key_events_.size()), 0, &count);
        return FAILED(hr) ? hr : S_OK;
    }

    // keydown for every key down, in ascending key code. The event refers to key_index_, so
    // a handler that assigns keycode moves the pass: the flag set is the one at the value it
    // left, and the pass goes on from there; below 0 or from 255 on, the pass ends.
    void keydown_pass() noexcept {
        for (key_index_ = 0;;) {
            if (key_state_[static_cast<size_t>(key_index_)] == 0x80) {
                raise(dispid_keydown, &key_index_);
                if (is_key(key_index_)) key_down_[static_cast<size_t>(key_index_)] = VARIANT_TRUE;
            }
            if (key_index_ < 0 || key_index_ >= last_key) break;
            ++key_index_;
        }
    }

    // keyup for every record of the latest read that reports the release of a flagged key,
    // in slot order. The event refers to the record's key code; the flag cleared is the one
    // at the value the handler left there.
    void keyup_pass() noexcept {
        for (key_index_ = 0;;) {
            auto& slot = key_events_[static_cast<size_t>(key_index_)];
            if (is_key(slot.key_code) && key_down_[static_cast<size_t>(slot.key_code)] && slot.data == 0) {
                raise(dispid_keyup, &slot.key_code);
                if (is_key(slot.key_code)) key_down_[static_cast<size_t>(slot.key_code)] = VARIANT_FALSE;
            }
            if (key_index_ < 0 || key_index_ >= last_slot) break;
            ++key_index_;
        }
    }

    // Calls every sink connected when the event starts, each with a fresh argument that
    // refers to the engine's own variable. A sink that fails, or leaves during the event,
    // costs the other sinks nothing.
    void raise(DISPID event, LONG* keycode) noexcept {
        std::vector<ComPtr<IDispatch>> sinks;
        try {
            sinks = events_->sinks();
        } catch (...) {
            return;  // out of memory: this event is skipped like any failing step
        }
        for (auto& sink : sinks) {
            VARIANT argument;
            VariantInit(&argument);
            argument.vt = VT_I4 | VT_BYREF;
            argument.plVal = keycode;
            DISPPARAMS params{&argument, nullptr, 1, 0};
            EXCEPINFO exception{};
            UINT bad_argument = 0;
            sink->Invoke(event, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, &exception,
                         &bad_argument);
            SysFreeString(exception.bstrSource);
            SysFreeString(exception.bstrDescription);
            SysFreeString(exception.bstrHelpFile);
        }
    }

    ComPtr<com::connection_point> events_;
    ComPtr<dx::DirectInputDevice8> keyboard_device_;
    dx::keyboard_state key_state_{};
    std::array<VARIANT_BOOL, last_key + 1> key_down_{};
    LONG key_index_ = 0;
    std::array<dx::key_record, last_slot + 1> key_events_{};
};

}  // namespace

HRESULT create_dxinput(REFIID iid, void** out) noexcept { return com::create_instance<dxinput>(iid, out); }

}  // namespace engine
