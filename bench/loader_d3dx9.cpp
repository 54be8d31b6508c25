// The d3dx9 side of the loader benchmark (d3d9.h and d3d8.h cannot meet in one source).
#include <windows.h>
#include <d3d9.h>
#include <d3dx9mesh.h>

#include <chrono>
#include <string>

namespace {

IDirect3DDevice9* device = nullptr;
using load_fn = HRESULT(WINAPI*)(const WCHAR*, DWORD, IDirect3DDevice9*, ID3DXBuffer**, ID3DXBuffer**, ID3DXBuffer**,
                                 DWORD*, ID3DXMesh**);
load_fn load = nullptr;

}  // namespace

// Makes Wine's d3dx9 loader and a d3d9 device for it, once; false where they are not available.
bool d3dx9_open() {
    if (device) return true;
    HMODULE d3d9 = LoadLibraryW(L"d3d9.dll"), d3dx9 = LoadLibraryW(L"d3dx9_36.dll");
    if (!d3d9 || !d3dx9) return false;
    auto create = reinterpret_cast<IDirect3D9*(WINAPI*)(UINT)>(GetProcAddress(d3d9, "Direct3DCreate9"));
    load = reinterpret_cast<load_fn>(GetProcAddress(d3dx9, "D3DXLoadMeshFromXW"));
    IDirect3D9* d3d = create ? create(D3D_SDK_VERSION) : nullptr;
    HWND window = CreateWindowW(L"STATIC", L"d3dx9", WS_OVERLAPPEDWINDOW, 0, 0, 64, 64, nullptr, nullptr, nullptr,
                                nullptr);
    D3DPRESENT_PARAMETERS pp{};
    pp.Windowed = TRUE;
    pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
    return d3d && load &&
           SUCCEEDED(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, &device));
}

// Seconds for one D3DXLoadMeshFromX of the file with Wine's d3dx9 (the mean of repetitions, the
// mesh and its buffers released after each), or -1 when it cannot read it. It is asked for the
// mesh, the materials and the adjacency of the faces, as model_load asks our loader.
double time_d3dx9_load(const std::wstring& file, int repetitions) {
    if (!d3dx9_open()) return -1;
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
