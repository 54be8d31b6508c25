// Times the engine's frame cycle (scene_begin + scene_end) and text_draw of a 40-character
// string per call, against the same work done with raw d3d8 calls and with Wine's own
// d3dx9 ID3DXFont::DrawText, and prints the figures and their ratios. Needs the engine
// DLL registered and a display.
//
//   frame_text_bench [iterations]
#include <windows.h>
#include <d3d8.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "engine_client.h"
#include "raw_d3d8.h"

using Microsoft::WRL::ComPtr;

// Microseconds per ID3DXFont::DrawText call of the text, or -1 where d3dx9 is not available.
double time_d3dx9_text(int n, const wchar_t* text, HWND window, double (*timer)(int, const std::function<void()>&));

namespace {

const wchar_t* const text40 = L"The quick brown fox jumps over a lazy do";

HWND make_window(const wchar_t* title, int x) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"bench";
    RegisterClassW(&wc);
    HWND h = CreateWindowW(L"bench", title, WS_OVERLAPPEDWINDOW, x, 20, 656, 518, nullptr, nullptr, wc.hInstance,
                           nullptr);
    ShowWindow(h, SW_SHOWNORMAL);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    return h;
}

// Microseconds per call of body, over n calls after a short warm-up.
double time_per_call(int n, const std::function<void()>& body) {
    for (int i = 0; i < n / 10 + 1; ++i) body();
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < n; ++i) body();
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count() / n;
}

D3DMATRIX identity() {
    D3DMATRIX m{};
    m._11 = m._22 = m._33 = m._44 = 1;
    return m;
}

}  // namespace

int main(int argc, char** argv) {
    const int n = argc > 1 ? std::atoi(argv[1]) : 500;
    CoInitialize(nullptr);

    // The engine, on a window of its own.
    HWND engine_window = make_window(L"engine", 20);
    engine_client engine;
    if (!engine.open(engine_window, 640, 480)) return 1;
    iface::_dxgraphics* g = engine.graphics.Get();

    const double engine_frame = time_per_call(n, [&] {
        g->scene_begin();
        g->scene_end();
    });
    BSTR text = SysAllocString(text40), color = SysAllocString(L"CCCCFF");
    SHORT top = 0, left = 0;
    g->scene_begin();
    const double engine_text = time_per_call(n, [&] { g->text_draw(&text, &top, &left, &color); });
    g->scene_end();

    // The same frame work with raw d3d8 calls.
    HWND raw_window = make_window(L"raw d3d8", 700);
    ComPtr<IDirect3D8> d3d8;
    ComPtr<IDirect3DDevice8> device8;
    if (!open_raw_d3d8(raw_window, d3d8, device8)) return 1;
    const D3DMATRIX m = identity();
    const double raw_frame = time_per_call(n, [&] {
        device8->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
        device8->BeginScene();
        device8->SetTransform(D3DTS_VIEW, &m);
        device8->SetTransform(D3DTS_WORLDMATRIX(0), &m);
        device8->EndScene();
        device8->Present(nullptr, nullptr, nullptr, nullptr);
    });

    // Wine's d3dx9 font on a d3d9 device of its own.
    const double d3dx9_text = time_d3dx9_text(n, text40, make_window(L"d3dx9", 300), time_per_call);

    std::printf("calls per figure: %d\n", n);
    std::printf("frame  engine scene_begin+scene_end  %9.2f us\n", engine_frame);
    std::printf("frame  raw d3d8 calls                %9.2f us\n", raw_frame);
    std::printf("frame  ratio engine / raw            %9.2f\n", engine_frame / raw_frame);
    std::printf("text   engine text_draw (40 chars)   %9.2f us\n", engine_text);
    if (d3dx9_text > 0) {
        std::printf("text   d3dx9 ID3DXFont::DrawText     %9.2f us\n", d3dx9_text);
        std::printf("text   ratio engine / d3dx9          %9.2f\n", engine_text / d3dx9_text);
    } else {
        std::printf("text   d3dx9 ID3DXFont::DrawText     not available here\n");
    }

    SysFreeString(text);
    SysFreeString(color);
    device8.Reset();
    d3d8.Reset();
    engine.close();
    CoUninitialize();
    return 0;
}
