// The D3DX 8 utility object: our own fonts, buffers (and, with the models, meshes and
// textures) over the platform device.
#include <algorithm>
#include <cstring>
#include <vector>

#include "dx/graphics.h"
#include "dx/image.h"
#include "dx/real_font.h"
#include "dx/real_mesh.h"
#include "dx/ref_counted.h"

namespace dx {
namespace {

class real_buffer final : public ref_counted<D3DXBuffer> {
public:
    explicit real_buffer(DWORD bytes) : bytes_(bytes) {}
    std::vector<unsigned char> bytes_;
};

// Checks that count elements of element_size bytes from offset lie inside the buffer.
bool in_bounds(const real_buffer& b, LONG offset, LONG element_size, LONG count) {
    if (offset < 0 || element_size < 0 || count < 0) return false;
    unsigned long long end = static_cast<unsigned long long>(offset) +
                             static_cast<unsigned long long>(element_size) * static_cast<unsigned long long>(count);
    return end <= b.bytes_.size();
}

class real_texture final : public ref_counted<Direct3DTexture8> {
public:
    real_texture(ComPtr<Direct3DDevice8> owner, ComPtr<IDirect3DTexture8> texture)
        : owner_(std::move(owner)), texture_(std::move(texture)) {}
    ~real_texture() override { texture_.Reset(); }
    IDirect3DBaseTexture8* native_texture() override { return texture_.Get(); }

private:
    ComPtr<Direct3DDevice8> owner_;
    ComPtr<IDirect3DTexture8> texture_;
};

// Decodes an image file's bytes into a texture: resampled to the requested size with a linear filter,
// every mip level made from the one above it, also linearly; a format with alpha when the
// image has alpha. Colour keys are not applied (the engine passes none).
HRESULT create_real_texture(Direct3DDevice8* device, const std::vector<unsigned char>& bytes, LONG width, LONG height,
                            LONG mip_levels, LONG usage, D3DFORMAT format, D3DPOOL pool,
                            ComPtr<Direct3DTexture8>& out, std::wstring* detail) {
    if (!device || !device->native_device()) return D3DERR_INVALIDCALL;
    image picture;
    std::wstring why;
    if (!decode_image(bytes, picture, why)) {
        if (detail) *detail = why;
        return static_cast<HRESULT>(0x88760B59);  // D3DXERR_INVALIDDATA
    }
    const UINT w = width > 0 ? static_cast<UINT>(width) : picture.width;
    const UINT h = height > 0 ? static_cast<UINT>(height) : picture.height;
    if (w > 4096 || h > 4096) return D3DERR_INVALIDCALL;
    D3DFORMAT f = format;
    if (f != D3DFMT_A8R8G8B8 && f != D3DFMT_X8R8G8B8) f = picture.has_alpha ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;
    const UINT levels = mip_levels > 0 ? static_cast<UINT>(mip_levels) : 0;
    ComPtr<IDirect3DTexture8> texture;
    HRESULT hr = device->native_device()->CreateTexture(w, h, levels, static_cast<DWORD>(usage), f, pool,
                                                        texture.GetAddressOf());
    if (FAILED(hr)) return hr;
    image level = resample_linear(picture, w, h);
    const DWORD opaque = f == D3DFMT_X8R8G8B8 ? 0xFF000000u : 0u;
    for (DWORD i = 0; i < texture->GetLevelCount(); ++i) {
        if (i > 0) level = resample_linear(level, std::max(1u, level.width / 2), std::max(1u, level.height / 2));
        D3DLOCKED_RECT locked{};
        hr = texture->LockRect(i, &locked, nullptr, 0);
        if (FAILED(hr)) return hr;
        for (UINT y = 0; y < level.height; ++y) {
            auto* row = reinterpret_cast<DWORD*>(static_cast<BYTE*>(locked.pBits) + y * locked.Pitch);
            for (UINT x = 0; x < level.width; ++x) row[x] = level.pixels[static_cast<size_t>(y) * level.width + x] | opaque;
        }
        texture->UnlockRect(i);
    }
    return make<real_texture>(out, ComPtr<Direct3DDevice8>(device), std::move(texture));
}

class real_d3dx8 final : public ref_counted<D3DX8> {
public:
    HRESULT LoadMeshFromX(const wchar_t* file, DWORD options, Direct3DDevice8* device, D3DXBuffer** adjacency,
                          D3DXBuffer** materials, LONG* material_count, D3DXMesh** mesh,
                          std::wstring* detail) override {
        if (!materials || !material_count || !mesh) return E_POINTER;
        if (adjacency) *adjacency = nullptr;
        *materials = nullptr;
        *mesh = nullptr;
        ComPtr<D3DXBuffer> adj, mats;
        ComPtr<D3DXMesh> m;
        LONG count = 0;
        HRESULT hr = load_real_mesh(file, options, device, adjacency != nullptr, adj, mats, count, m, detail);
        if (FAILED(hr)) return hr;
        if (adjacency) *adjacency = adj.Detach();
        *materials = mats.Detach();
        *mesh = m.Detach();
        *material_count = count;
        return S_OK;
    }
    HRESULT BufferGetMaterial(D3DXBuffer* materials, LONG index, D3DMATERIAL8* out) override {
        return real_material(materials, index, out);
    }
    HRESULT BufferGetTextureName(D3DXBuffer* materials, LONG index, std::wstring* out,
                                 texture_source* source) override {
        return real_texture_name(materials, index, out, source);
    }
    HRESULT CreateTextureFromFileEx(Direct3DDevice8* device, const wchar_t* file, LONG width, LONG height,
                                    LONG mip_levels, LONG usage, D3DFORMAT format, D3DPOOL pool, LONG, LONG,
                                    D3DCOLOR, Direct3DTexture8** out, std::wstring* detail) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!file) return D3DERR_INVALIDCALL;
        std::vector<unsigned char> bytes;
        if (!read_file(file, bytes, detail)) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        ComPtr<Direct3DTexture8> made;
        HRESULT hr = create_real_texture(device, bytes, width, height, mip_levels, usage, format, pool, made, detail);
        *out = made.Detach();
        return hr;
    }
    HRESULT CreateTextureFromFileInMemoryEx(Direct3DDevice8* device, const void* data, UINT size, LONG width,
                                            LONG height, LONG mip_levels, LONG usage, D3DFORMAT format, D3DPOOL pool,
                                            LONG, LONG, D3DCOLOR, Direct3DTexture8** out,
                                            std::wstring* detail) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!data && size) return D3DERR_INVALIDCALL;
        const auto* first = static_cast<const unsigned char*>(data);
        const std::vector<unsigned char> bytes(first, first + size);
        ComPtr<Direct3DTexture8> made;
        HRESULT hr = create_real_texture(device, bytes, width, height, mip_levels, usage, format, pool, made, detail);
        *out = made.Detach();
        return hr;
    }
    HRESULT CreateFont(Direct3DDevice8* device, HFONT font, D3DXFont** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        ComPtr<D3DXFont> made;
        HRESULT hr = create_real_font(device, font, made);
        *out = made.Detach();
        return hr;
    }
    HRESULT DrawText(D3DXFont* font, D3DCOLOR color, const wchar_t* text, UINT length, RECT* rect,
                     DWORD format) override {
        if (!rect) return E_POINTER;
        return draw_real_font(font, color, text, length, *rect, format);
    }
    HRESULT CreateBuffer(DWORD bytes, D3DXBuffer** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        ComPtr<D3DXBuffer> made;
        HRESULT hr = make<real_buffer>(made, bytes);
        *out = made.Detach();
        return hr;
    }
    HRESULT BufferSetData(D3DXBuffer* buffer, LONG offset, LONG element_size, LONG count, const void* data) override {
        auto* b = static_cast<real_buffer*>(buffer);
        if (!b || !data || !in_bounds(*b, offset, element_size, count)) return E_INVALIDARG;
        std::memcpy(b->bytes_.data() + offset, data, static_cast<size_t>(element_size) * count);
        return S_OK;
    }
    HRESULT BufferGetData(D3DXBuffer* buffer, LONG offset, LONG element_size, LONG count, void* data) override {
        auto* b = static_cast<real_buffer*>(buffer);
        if (!b || !data || !in_bounds(*b, offset, element_size, count)) return E_INVALIDARG;
        std::memcpy(data, b->bytes_.data() + offset, static_cast<size_t>(element_size) * count);
        return S_OK;
    }
};

}  // namespace

HRESULT create_real_d3dx8(ComPtr<D3DX8>& out) {
    out.Reset();
    return make<real_d3dx8>(out);
}

}  // namespace dx
