// A raw d3d8 device made the way the engine makes its windowed one (the adapter's format, copy
// swap, a 16-bit depth buffer, software vertex processing), for the benchmarks' raw side.
#pragma once
#include <windows.h>
#include <d3d8.h>
#include <wrl/client.h>

#include <cstdio>

// Opens the device on the window; false, with the reason printed, when d3d8 or the device is
// not available.
inline bool open_raw_d3d8(HWND window, Microsoft::WRL::ComPtr<IDirect3D8>& d3d8,
                          Microsoft::WRL::ComPtr<IDirect3DDevice8>& device) {
    auto create8 = reinterpret_cast<IDirect3D8*(WINAPI*)(UINT)>(
        GetProcAddress(LoadLibraryW(L"d3d8.dll"), "Direct3DCreate8"));
    if (create8) *d3d8.ReleaseAndGetAddressOf() = create8(D3D_SDK_VERSION);
    if (!d3d8) {
        std::fprintf(stderr, "d3d8 is not available\n");
        return false;
    }
    D3DDISPLAYMODE mode{};
    d3d8->GetAdapterDisplayMode(0, &mode);
    D3DPRESENT_PARAMETERS pp{};
    pp.Windowed = TRUE;
    pp.SwapEffect = D3DSWAPEFFECT_COPY;
    pp.BackBufferFormat = mode.Format;
    pp.EnableAutoDepthStencil = TRUE;
    pp.AutoDepthStencilFormat = D3DFMT_D16;
    if (FAILED(d3d8->CreateDevice(0, D3DDEVTYPE_HAL, window, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp,
                                  device.ReleaseAndGetAddressOf()))) {
        std::fprintf(stderr, "the raw d3d8 device cannot be made\n");
        return false;
    }
    return true;
}
