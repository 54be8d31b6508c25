// Our .x parser against the platform's own loader: for every corpus file that Wine's d3dx9
// D3DXLoadMeshFromX reads, the same triangles per attribute id, materials and texture names.
#include <windows.h>
#include <d3d9.h>
#include <d3dx9mesh.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "readers/xfile/xfile.h"

namespace {

using load_fn = HRESULT(WINAPI*)(const WCHAR*, DWORD, IDirect3DDevice9*, ID3DXBuffer**, ID3DXBuffer**, ID3DXBuffer**,
                                 DWORD*, ID3DXMesh**);

// Files the platform loader reads differently on purpose (see xfile.h): several meshes, which
// it merges with wrong triangle offsets.
const char* const several_meshes[] = {"BCN_Epileptic.X"};

struct platform {
    IDirect3D9* d3d = nullptr;
    IDirect3DDevice9* device = nullptr;
    load_fn load = nullptr;
    HWND window = nullptr;

    platform() {
        HMODULE d3d9 = LoadLibraryW(L"d3d9.dll"), d3dx9 = LoadLibraryW(L"d3dx9_36.dll");
        if (!d3d9 || !d3dx9) return;
        auto create = reinterpret_cast<IDirect3D9*(WINAPI*)(UINT)>(GetProcAddress(d3d9, "Direct3DCreate9"));
        load = reinterpret_cast<load_fn>(GetProcAddress(d3dx9, "D3DXLoadMeshFromXW"));
        d3d = create ? create(D3D_SDK_VERSION) : nullptr;
        window = CreateWindowW(L"STATIC", L"differential", WS_OVERLAPPEDWINDOW, 0, 0, 64, 64, nullptr, nullptr,
                               nullptr, nullptr);
        D3DPRESENT_PARAMETERS pp{};
        pp.Windowed = TRUE;
        pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
        if (d3d) d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, &device);
    }
    ~platform() {
        if (device) device->Release();
        if (d3d) d3d->Release();
        if (window) DestroyWindow(window);
    }
};

std::vector<std::uint8_t> read_all(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(Differential, OurMeshesMatchThePlatformLoadersWhereItReadsTheFile) {
    const char* folder = getenv("XFILES");
    ASSERT_NE(nullptr, folder);
    platform p;
    if (!p.device || !p.load) GTEST_SKIP() << "d3dx9 is not available here";
    int compared = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        auto ext = entry.path().extension().string();
        if (ext != ".x" && ext != ".X") continue;
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        ID3DXMesh* theirs = nullptr;
        ID3DXBuffer *adjacency = nullptr, *materials = nullptr, *effects = nullptr;
        DWORD count = 0;
        HRESULT hr = p.load(entry.path().wstring().c_str(), D3DXMESH_MANAGED, p.device, &adjacency, &materials,
                            &effects, &count, &theirs);
        if (FAILED(hr)) {
            std::printf("%-34s not read by the platform loader (0x%08lX)\n", name.c_str(), static_cast<unsigned long>(hr));
            continue;  // nothing to compare
        }
        std::printf("%-34s %s\n", name.c_str(), name == several_meshes[0] ? "read; several meshes, not compared" : "compared");
        bool skip = false;
        for (const char* s : several_meshes) skip |= name == s;
        xfile::mesh ours;
        std::string error;
        auto bytes = read_all(entry.path());
        ASSERT_TRUE(xfile::parse(bytes.data(), bytes.size(), ours, error)) << error;
        if (!skip) {
            ++compared;
            EXPECT_EQ(theirs->GetNumFaces(), ours.triangles.size());
            // Triangles per attribute id.
            DWORD* ids = nullptr;
            std::map<DWORD, int> their_groups, our_groups;
            if (SUCCEEDED(theirs->LockAttributeBuffer(D3DLOCK_READONLY, &ids))) {
                for (DWORD f = 0; f < theirs->GetNumFaces(); ++f) ++their_groups[ids[f]];
                theirs->UnlockAttributeBuffer();
            }
            for (auto a : ours.attributes) ++our_groups[a];
            EXPECT_EQ(their_groups, our_groups);
            ASSERT_EQ(count, ours.materials.size());
            auto* list = static_cast<D3DXMATERIAL*>(materials->GetBufferPointer());
            for (DWORD k = 0; k < count; ++k) {
                const auto& m = list[k].MatD3D;
                EXPECT_FLOAT_EQ(m.Diffuse.r, ours.materials[k].diffuse[0]) << "material " << k;
                EXPECT_FLOAT_EQ(m.Diffuse.g, ours.materials[k].diffuse[1]) << "material " << k;
                EXPECT_FLOAT_EQ(m.Diffuse.b, ours.materials[k].diffuse[2]) << "material " << k;
                EXPECT_FLOAT_EQ(m.Power, ours.materials[k].power) << "material " << k;
                EXPECT_EQ(std::string(list[k].pTextureFilename ? list[k].pTextureFilename : ""),
                          ours.materials[k].texture)
                    << "material " << k;
            }
        }
        theirs->Release();
        if (adjacency) adjacency->Release();
        if (materials) materials->Release();
        if (effects) effects->Release();
    }
    EXPECT_GT(compared, 2) << "the platform loader read too few corpus files to compare";
}

}  // namespace
