// The d3dx9 side of the text benchmark, apart because d3d9.h and d3d8.h cannot meet in one
// source: Wine's own ID3DXFont::DrawText on a d3d9 device.
#include <windows.h>
#include <d3d9.h>
#include <d3dx9core.h>

#include <functional>

double time_d3dx9_text(int n, const wchar_t* text, HWND window, double (*timer)(int, const std::function<void()>&)) {
    HMODULE d3d9_lib = LoadLibraryW(L"d3d9.dll");
    HMODULE d3dx9_lib = LoadLibraryW(L"d3dx9_36.dll");
    if (!d3d9_lib || !d3dx9_lib) return -1;
    auto create9 = reinterpret_cast<IDirect3D9*(WINAPI*)(UINT)>(GetProcAddress(d3d9_lib, "Direct3DCreate9"));
    using font_fn = HRESULT(WINAPI*)(IDirect3DDevice9*, INT, UINT, UINT, UINT, BOOL, DWORD, DWORD, DWORD, DWORD,
                                     const WCHAR*, ID3DXFont**);
    auto create_font = reinterpret_cast<font_fn>(GetProcAddress(d3dx9_lib, "D3DXCreateFontW"));
    if (!create9 || !create_font) return -1;
    IDirect3D9* d3d9 = create9(D3D_SDK_VERSION);
    if (!d3d9) return -1;
    D3DPRESENT_PARAMETERS pp{};
    pp.Windowed = TRUE;
    pp.SwapEffect = D3DSWAPEFFECT_COPY;
    pp.BackBufferFormat = D3DFMT_UNKNOWN;
    IDirect3DDevice9* device = nullptr;
    double result = -1;
    if (SUCCEEDED(d3d9->CreateDevice(0, D3DDEVTYPE_HAL, window, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, &device))) {
        ID3DXFont* font = nullptr;
        if (SUCCEEDED(create_font(device, -16, 0, FW_BOLD, 1, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                  DEFAULT_QUALITY, DEFAULT_PITCH, L"Verdana", &font))) {
            RECT r{1, 1, 640, 480};
            device->BeginScene();
            result = timer(n, [&] { font->DrawTextW(nullptr, text, -1, &r, 0, 0xFFCCCCFF); });
            device->EndScene();
            font->Release();
        }
        device->Release();
    }
    d3d9->Release();
    return result;
}
