// A C++ client of the registered DLL: its own window, the classes created by ProgID, an event
// sink, and the loop of a real program (pump messages, capturekey) that quits on Escape.
// Someone holds 'A' for a while, releases it and presses Escape (keyboard.sh does, with
// xdotool); the client then checks what the events said and prints
// "summary: N passed, M failed".
#include <windows.h>
#include <ocidl.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <cstdio>
#include <string>
#include <vector>

#include "dx8engine_iface.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr LONG key_escape = 1;  // DirectInput key codes
constexpr LONG key_a = 30;

int passed = 0, failed = 0;

void check(bool ok, const std::string& what) {
    if (ok)
        ++passed;
    else
        ++failed;
    std::printf("%s: %s\n", ok ? "ok" : "FAIL", what.c_str());
    std::fflush(stdout);
}

struct event {
    int turn;
    bool down;
    LONG code;
};

// The sink: records every event with the turn of the loop it came in.
class sink final : public IDispatch {
public:
    int turn = 0;
    std::vector<event> events;
    bool bad_arguments = false;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IDispatch && iid != iface::DIID_dxinput_events) return E_NOINTERFACE;
        *out = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs_; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override { return *n = 0, S_OK; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        if (!params || params->cArgs != 1 || params->rgvarg[0].vt != (VT_I4 | VT_BYREF) || (id != 1 && id != 2)) {
            bad_arguments = true;
            return DISP_E_BADPARAMCOUNT;
        }
        LONG code = *params->rgvarg[0].plVal;
        events.push_back({turn, id == 2, code});
        std::printf("turn %d: %s %ld\n", turn, id == 2 ? "keydown" : "keyup", static_cast<long>(code));
        return S_OK;
    }

private:
    ULONG refs_ = 0;
};

template <class T>
HRESULT create(const wchar_t* progid, REFIID iid, ComPtr<T>& out) {
    CLSID clsid{};
    HRESULT hr = CLSIDFromProgID(progid, &clsid);
    if (FAILED(hr)) return hr;
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, reinterpret_cast<void**>(out.GetAddressOf()));
}

// engine_initialize called by name with the window only: the device argument is left out.
HRESULT open_keyboard(IDispatch* input, HWND window) {
    LPOLESTR name = const_cast<LPOLESTR>(L"engine_initialize");
    DISPID id = 0;
    HRESULT hr = input->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) return hr;
    VARIANT frame;
    VariantInit(&frame);
    frame.vt = VT_I4;
    frame.lVal = static_cast<LONG>(reinterpret_cast<LONG_PTR>(window));
    DISPPARAMS params{&frame, nullptr, 1, 0};
    return input->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
}

}  // namespace

int main() {
    CoInitialize(nullptr);
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"dx8engine_keyboard_client";
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    RegisterClassW(&wc);
    HWND window = CreateWindowExW(0, wc.lpszClassName, L"dx8engine keyboard client", WS_OVERLAPPEDWINDOW, 100, 100,
                                  320, 240, nullptr, nullptr, wc.hInstance, nullptr);
    check(window != nullptr, "window created");

    ComPtr<iface::_dxmain> main;
    ComPtr<iface::_dxinput> input;
    check(SUCCEEDED(create(L"Quellbrook_dx_8engine.dxmain", iface::IID_dxmain, main)), "dxmain created by ProgID");
    check(SUCCEEDED(create(L"Quellbrook_dx_8engine.dxinput", iface::IID_dxinput, input)), "dxinput created by ProgID");
    if (!window || !main || !input) {
        std::printf("summary: %d passed, %d failed\n", passed, failed + 1);
        return 1;
    }

    sink events;
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
    check(SUCCEEDED(input.As(&container)) &&
              SUCCEEDED(container->FindConnectionPoint(iface::DIID_dxinput_events, &point)) &&
              SUCCEEDED(point->Advise(&events, &cookie)),
          "sink connected");

    check(main->initialize() == S_OK, "dxmain.initialize");
    check(open_keyboard(input.Get(), window) == S_OK, "engine_initialize on the window, device left out");
    // Shown only now: once the window is visible the keyboard is open.
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    std::printf("ready\n");
    std::fflush(stdout);

    // The program's loop: messages, then one capturekey per turn, until Escape.
    const DWORD start = GetTickCount();
    bool escape = false;
    HRESULT capture_result = S_OK;
    while (!escape && GetTickCount() - start < 40000) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        ++events.turn;
        HRESULT hr = input->capturekey();
        if (FAILED(hr)) capture_result = hr;
        for (const auto& e : events.events)
            if (e.down && e.code == key_escape) escape = true;
    }
    const int turns = events.turn;
    check(capture_result == S_OK, "every capturekey succeeded");
    check(escape, "Escape raised keydown 1 and ended the loop");
    check(!events.bad_arguments, "each event had one VT_I4 | VT_BYREF argument");

    // 'A': keydown 30 at every turn from the first that saw it to the last, at least three,
    // then one keyup 30 after the last of them.
    int first = 0, last = 0, downs = 0, ups = 0, up_turn = 0;
    size_t last_down_at = 0, up_at = 0;
    for (size_t i = 0; i < events.events.size(); ++i) {
        const auto& e = events.events[i];
        if (e.code != key_a) continue;
        if (e.down) {
            if (!first) first = e.turn;
            last = e.turn;
            ++downs;
            last_down_at = i;
        } else {
            ++ups;
            up_turn = e.turn;
            up_at = i;
        }
    }
    std::printf("A: keydown at turns %d to %d (%d events), %d keyup at turn %d, %d turns in all\n", first, last, downs,
                ups, up_turn, turns);
    check(downs >= 3, "held A raised keydown 30 at three calls or more");
    check(first && downs == last - first + 1, "keydown 30 at every call while A was held, once per call");
    check(ups == 1, "one keyup 30 after A was released");
    check(ups == 1 && up_at > last_down_at && (up_turn == last || up_turn == last + 1),
          "the keyup came after the last keydown, at that call or the next");
    bool other_keys = false;
    for (const auto& e : events.events) other_keys |= e.code != key_a && e.code != key_escape;
    check(!other_keys, "no events for keys nobody pressed");

    check(input->engine_Terminate() == S_OK, "engine_Terminate");
    check(input->capturekey() == static_cast<HRESULT>(0x800A005B), "capturekey after engine_Terminate fails with 91");
    point->Unadvise(cookie);
    check(main->engine_unload() == S_OK, "engine_unload");
    input.Reset();
    main.Reset();
    DestroyWindow(window);
    CoUninitialize();
    std::printf("summary: %d passed, %d failed\n", passed, failed);
    return failed ? 1 : 0;
}
