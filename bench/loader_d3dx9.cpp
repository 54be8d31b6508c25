// The d3dx9 side of the loader benchmark (d3d9.h and d3d8.h cannot meet in one source).
#include <windows.h>
#include <d3d9.h>
#include <d3dx9mesh.h>

#include <chrono>
#include <string>

double time_d3dx9_load(const std::wstring& file, int repetitions) {
    static IDirect3DDevice9* device = nullptr;
    using load_fn = HRESULT(WINAPI*)(const WCHAR*, DWORD, IDirect3DDevice9*, ID3DXBuffer**, ID3DXBuffer**,
                                     ID3DXBuffer**, DWORD*, ID3DXMesh**);
    static load_fn load = nullptr;
    if (!device) {
        HMODULE d3d9 = LoadLibraryW(L"d3d9.dll"), d3dx9 = LoadLibraryW(L"d3dx9_36.dll");
        if (!d3d9 || !d3dx9) return -1;
        auto create = reinterpret_cast<IDirect3D9*(WINAPI*)(UINT)>(GetProcAddress(d3d9, "Direct3DCreate9"));
        load = reinterpret_cast<load_fn>(GetProcAddress(d3dx9, "D3DXLoadMeshFromXW"));
        IDirect3D9* d3d = create ? create(D3D_SDK_VERSION) : nullptr;
        HWND window = CreateWindowW(L"STATIC", L"d3dx9", WS_OVERLAPPEDWINDOW, 0, 0, 64, 64, nullptr, nullptr, nullptr,
                                    nullptr);
        D3DPRESENT_PARAMETERS pp{};
        pp.Windowed = TRUE;
        pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
        if (!d3d || !load ||
            FAILED(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, &device)))
            return -1;
    }
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < repetitions; ++i) {
        ID3DXMesh* mesh = nullptr;
        ID3DXBuffer *adjacency = nullptr, *materials = nullptr, *effects = nullptr;
        DWORD count = 0;
        if (FAILED(load(file.c_str(), D3DXMESH_MANAGED, device, &adjacency, &materials, &effects, &count, &mesh)))
            return -1;
        mesh->Release();
        if (adjacency) adjacency->Release();
        if (materials) materials->Release();
        if (effects) effects->Release();
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / repetitions;
}
