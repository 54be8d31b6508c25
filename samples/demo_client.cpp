// The demo client: a window of its own, the engine's device on it, and a loop that draws
// text and the frame rate until the window is closed or the time given (seconds) is up.
//
//   demo_client [seconds]
#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine_client.h"

using Microsoft::WRL::ComPtr;

namespace {

bool running = true;

LRESULT CALLBACK window_proc(HWND hwnd, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_CLOSE) running = false;
    return DefWindowProcW(hwnd, message, w, l);
}

// Draws one string; every parameter of the engine is passed by reference.
void text(iface::_dxgraphics* g, const std::wstring& s, SHORT top, SHORT left, const wchar_t* color) {
    BSTR t = SysAllocString(s.c_str()), c = SysAllocString(color);
    g->text_draw(&t, &top, &left, &c);
    SysFreeString(t);
    SysFreeString(c);
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
    CoInitialize(nullptr);
    {
        WNDCLASSW wc{};
        wc.lpfnWndProc = window_proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"dx8engine_demo";
        RegisterClassW(&wc);
        RECT r{0, 0, 640, 480};
        AdjustWindowRect(&r, WS_OVERLAPPEDWINDOW, FALSE);
        HWND hwnd = CreateWindowW(wc.lpszClassName, L"Quellbrook dx 8engine demo", WS_OVERLAPPEDWINDOW, 40, 40,
                                  r.right - r.left, r.bottom - r.top, nullptr, nullptr, wc.hInstance, nullptr);
        ShowWindow(hwnd, SW_SHOWNORMAL);

        engine_client engine;
        if (!engine.open(hwnd, 640, 480)) return 1;
        auto& g = engine.graphics;

        const DWORD start = GetTickCount();
        int frames = 0;
        while (running && GetTickCount() - start < seconds * 1000) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
            g->scene_begin();
            text(g.Get(), L"Quellbrook dx 8engine", 1, 1, L"FFFFFF");
            LONG rate = 0;
            g->get_FrameRate(&rate);
            text(g.Get(), L"FrameRate: " + std::to_wstring(rate), 0, 0, L"CCCCFF");
            text(g.Get(), L"close the window to quit", 2, 2, L"80FF80");
            g->scene_end();
            ++frames;
        }
        LONG rate = 0, max = 0, min = 0;
        g->get_FrameRate(&rate);
        g->get_Frameratemax(&max);
        g->get_frameratemin(&min);
        std::printf("%d frames; FrameRate %ld, Frameratemax %ld, frameratemin %ld\n", frames, rate, max, min);
        engine.close();
        DestroyWindow(hwnd);
    }
    CoUninitialize();
    return 0;
}
