// The D3DX 8 utility object: our own fonts, buffers (and, with the models, meshes and
// textures) over the platform device.
#include <cstring>
#include <vector>

#include "dx/graphics.h"
#include "dx/real_font.h"
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

class real_d3dx8 final : public ref_counted<D3DX8> {
public:
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
