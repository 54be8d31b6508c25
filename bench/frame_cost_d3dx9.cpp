// The text of the raw frame: Wine's own d3dx9 ID3DXFont::DrawText on a d3d9 device of its own,
// apart because d3d9.h and d3d8.h cannot meet in one source.
#include <windows.h>
#include <d3d9.h>
#include <d3dx9core.h>
#include <wrl/client.h>

#include "frame_cost.h"

using Microsoft::WRL::ComPtr;

struct d3dx9_text {
    ComPtr<IDirect3D9> d3d;
    ComPtr<IDirect3DDevice9> device;
    ComPtr<ID3DXFont> font;
};

d3dx9_text* d3dx9_text_open(HWND window, int font_height) {
    HMODULE d3d9_lib = LoadLibraryW(L"d3d9.dll");
    HMODULE d3dx9_lib = LoadLibraryW(L"d3dx9_36.dll");
    if (!d3d9_lib || !d3dx9_lib) return nullptr;
    auto create9 = reinterpret_cast<IDirect3D9*(WINAPI*)(UINT)>(GetProcAddress(d3d9_lib, "Direct3DCreate9"));
    using font_fn = HRESULT(WINAPI*)(IDirect3DDevice9*, INT, UINT, UINT, UINT, BOOL, DWORD, DWORD, DWORD, DWORD,
                                     const WCHAR*, ID3DXFont**);
    auto create_font = reinterpret_cast<font_fn>(GetProcAddress(d3dx9_lib, "D3DXCreateFontW"));
    if (!create9 || !create_font) return nullptr;
    auto* t = new d3dx9_text;
    *t->d3d.ReleaseAndGetAddressOf() = create9(D3D_SDK_VERSION);
    D3DPRESENT_PARAMETERS pp{};
    pp.Windowed = TRUE;
    pp.SwapEffect = D3DSWAPEFFECT_COPY;
    pp.BackBufferFormat = D3DFMT_UNKNOWN;
    if (!t->d3d ||
        FAILED(t->d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp,
                                    t->device.GetAddressOf())) ||
        FAILED(create_font(t->device.Get(), font_height, 0, FW_BOLD, 1, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                           DEFAULT_QUALITY, DEFAULT_PITCH, L"Verdana", t->font.GetAddressOf()))) {
        delete t;
        return nullptr;
    }
    return t;
}

void d3dx9_text_draw(d3dx9_text* t, const text_item* items, int count, RECT rect, DWORD color) {
    t->device->BeginScene();
    for (int i = 0; i < count; ++i) t->font->DrawTextW(nullptr, items[i].text, -1, &rect, items[i].format, color);
    t->device->EndScene();
}

void d3dx9_text_present(d3dx9_text* t) { t->device->Present(nullptr, nullptr, nullptr, nullptr); }

void d3dx9_text_close(d3dx9_text* t) { delete t; }
