// Models of dxgraphics: meshes from model files (.x, glTF, OBJ) with their materials and
// 128 x 128 textures in the engine-wide model table, placed by translation and drawn subset by
// subset.
#include <algorithm>

#include "dx/d3dx_math.h"
#include "engine/dxgraphics.h"

namespace engine {
namespace {

std::wstring text_of(BSTR b) { return b ? std::wstring(b, SysStringLen(b)) : std::wstring(); }

// The failure of a load, naming the file and why it failed where the layer says.
void check_load(HRESULT hr, const wchar_t* operation, const std::wstring& file, const std::wstring& detail) {
    if (SUCCEEDED(hr)) return;
    std::wstring what = std::wstring(operation) + L" \"" + file + L"\"";
    if (!detail.empty()) what += L" (" + detail + L")";
    com::check(hr, what.c_str());
}

}  // namespace

// Loads a model into the lowest free slot, which stays taken whatever happens next. The mesh
// file is path and xfilename joined as they are; a .x file's texture names are taken relative
// to path, after a backslash, a glTF or OBJ file's relative to the file itself.
HRESULT dxgraphics::model_load(BSTR* path, BSTR* xfilename) {
    return call([&] {
        com::need_arguments(path, xfilename);
        auto& s = declarations();
        auto& models = *s.models;
        int index = 0;
        while (index < model_slots && models[index].in_use) ++index;
        if (index == model_slots) return;
        model_entry& slot = models[index];
        slot.in_use = VARIANT_TRUE;

        const std::wstring folder = text_of(*path);
        const std::wstring file = folder + text_of(*xfilename);
        auto& d3dx = com::need(s.d3dx8);
        ComPtr<dx::D3DXBuffer> adjacency, materials;
        ComPtr<dx::D3DXMesh> mesh;
        LONG count = 0;
        std::wstring detail;
        auto& device = com::need(s.d3ddevice);
        check_load(d3dx.LoadMeshFromX(file.c_str(), 0x220 /* D3DXMESH_MANAGED */, &device, &adjacency,
                                      &materials, &count, &mesh, &detail),
                   L"D3DX8.LoadMeshFromX", file, detail);
        slot.material_count = count;
        const size_t kept = static_cast<size_t>(std::clamp<LONG>(count, 0, model_material_slots));
        slot.materials.assign(kept, D3DMATERIAL8{});
        slot.textures.assign(kept, nullptr);
        adjacency.Reset();
        slot.mesh = mesh;

        for (LONG k = 0; k < count; ++k) {
            if (k >= model_material_slots) com::raise(com::error_subscript);
            D3DMATERIAL8& m = slot.materials[k];
            com::check(d3dx.BufferGetMaterial(materials.Get(), k, &m), L"D3DX8.BufferGetMaterial");
            m.Ambient = m.Diffuse;
            std::wstring name;
            dx::texture_source source;
            com::check(d3dx.BufferGetTextureName(materials.Get(), k, &name, &source), L"D3DX8.BufferGetTextureName");
            if (name.empty()) continue;
            ComPtr<dx::Direct3DTexture8> texture;
            detail.clear();
            if (source.image) {
                // An image the model file holds (glTF): named by the model file and the image.
                check_load(d3dx.CreateTextureFromFileInMemoryEx(
                               &device, source.image->data(), static_cast<UINT>(source.image->size()), 128, 128, -1,
                               0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED, 3, 3, 0, &texture, &detail),
                           L"D3DX8.CreateTextureFromFileInMemoryEx", file + L"\", image \"" + name, detail);
            } else {
                // .x files name their images relative to the client's folder; glTF and OBJ files
                // relative to themselves, which the loader has resolved.
                const std::wstring texture_file = source.file.empty() ? folder + L"\\" + name : source.file;
                check_load(d3dx.CreateTextureFromFileEx(&device, texture_file.c_str(), 128, 128,
                                                        -1 /* D3DX_DEFAULT */, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED,
                                                        3 /* D3DX_FILTER_LINEAR */, 3, 0, &texture, &detail),
                           L"D3DX8.CreateTextureFromFileEx", texture_file, detail);
            }
            slot.textures[k] = texture;
        }
    });
}

// Places a model: its world matrix becomes a pure translation, whether or not the slot holds one.
HRESULT dxgraphics::model_move(SHORT* index, float* x, float* y, float* z) {
    return call([&] {
        com::need_arguments(index, x, y, z);
        model_at(*index).world = dx::matrix_translation(*x, *y, *z);
    });
}

// Draws a model with its world matrix, each subset with its material and its texture (an
// empty entry clears stage 0).
HRESULT dxgraphics::model_draw(SHORT* index) {
    return call([&] {
        com::need_arguments(index);
        model_entry& slot = model_at(*index);
        auto& device = com::need(declarations().d3ddevice);
        com::check(device.SetTransform(D3DTS_WORLDMATRIX(0), slot.world), L"Direct3DDevice8.SetTransform");
        const LONG count = slot.material_count;
        for (LONG b = 0; b < count; ++b) {
            if (b >= model_material_slots) com::raise(com::error_subscript);
            com::check(device.SetMaterial(slot.materials[b]), L"Direct3DDevice8.SetMaterial");
            com::check(device.SetTexture(0, slot.textures[b].Get()), L"Direct3DDevice8.SetTexture");
            com::check(com::need(slot.mesh).DrawSubset(b), L"D3DXMesh.DrawSubset");
        }
    });
}

}  // namespace engine
