#include "dx/real_font.h"

#include <algorithm>
#include <array>
#include <unordered_map>
#include <vector>

#include "dx/real_mesh.h"
#include "dx/ref_counted.h"

namespace dx {
namespace {

constexpr UINT atlas_size = 512;
constexpr DWORD text_fvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

struct vertex {
    float x, y, z, rhw;
    D3DCOLOR color;
    float u, v;
};

struct glyph {
    int x, y;     // place in the atlas
    int width;    // advance and cell width, in pixels
};

// Device state the text drawing changes, saved before and put back after, so that nothing
// drawn later (models, lights, fill modes) sees a difference.
class saved_state {
public:
    explicit saved_state(IDirect3DDevice8* d) : d_(d) {
        for (size_t i = 0; i < render_states.size(); ++i) d_->GetRenderState(render_states[i], &rs_[i]);
        for (size_t i = 0; i < stage0_states.size(); ++i) d_->GetTextureStageState(0, stage0_states[i], &ts0_[i]);
        d_->GetTextureStageState(1, D3DTSS_COLOROP, &stage1_color_);
        d_->GetTextureStageState(1, D3DTSS_ALPHAOP, &stage1_alpha_);
        d_->GetTexture(0, texture_.GetAddressOf());
        d_->GetVertexShader(&shader_);
        d_->GetStreamSource(0, stream_.GetAddressOf(), &stride_);
    }
    ~saved_state() {
        for (size_t i = 0; i < render_states.size(); ++i) d_->SetRenderState(render_states[i], rs_[i]);
        for (size_t i = 0; i < stage0_states.size(); ++i) d_->SetTextureStageState(0, stage0_states[i], ts0_[i]);
        d_->SetTextureStageState(1, D3DTSS_COLOROP, stage1_color_);
        d_->SetTextureStageState(1, D3DTSS_ALPHAOP, stage1_alpha_);
        d_->SetTexture(0, texture_.Get());
        d_->SetVertexShader(shader_);
        d_->SetStreamSource(0, stream_.Get(), stride_);
    }
    saved_state(const saved_state&) = delete;
    saved_state& operator=(const saved_state&) = delete;

    static constexpr std::array<D3DRENDERSTATETYPE, 12> render_states = {
        D3DRS_ALPHABLENDENABLE, D3DRS_SRCBLEND,     D3DRS_DESTBLEND, D3DRS_ALPHATESTENABLE,
        D3DRS_ZENABLE,          D3DRS_ZWRITEENABLE, D3DRS_FILLMODE,  D3DRS_CULLMODE,
        D3DRS_LIGHTING,         D3DRS_FOGENABLE,    D3DRS_STENCILENABLE, D3DRS_SPECULARENABLE};
    static constexpr std::array<D3DTEXTURESTAGESTATETYPE, 12> stage0_states = {
        D3DTSS_COLOROP,   D3DTSS_COLORARG1, D3DTSS_COLORARG2, D3DTSS_ALPHAOP,
        D3DTSS_ALPHAARG1, D3DTSS_ALPHAARG2, D3DTSS_MINFILTER, D3DTSS_MAGFILTER,
        D3DTSS_MIPFILTER, D3DTSS_ADDRESSU,  D3DTSS_ADDRESSV,  D3DTSS_TEXCOORDINDEX};

private:
    IDirect3DDevice8* d_;
    std::array<DWORD, render_states.size()> rs_{};
    std::array<DWORD, stage0_states.size()> ts0_{};
    DWORD stage1_color_ = 0, stage1_alpha_ = 0;
    ComPtr<IDirect3DBaseTexture8> texture_;
    DWORD shader_ = 0;
    ComPtr<IDirect3DVertexBuffer8> stream_;
    UINT stride_ = 0;
};

class real_font final : public ref_counted<D3DXFont> {
public:
    real_font(ComPtr<Direct3DDevice8> owner, IDirect3DDevice8* device) : owner_(std::move(owner)), device_(device) {}
    ~real_font() override {
        if (dc_) DeleteDC(dc_);
        if (bitmap_) DeleteObject(bitmap_);
        if (font_) DeleteObject(font_);
    }

    HRESULT init(HFONT source) {
        LOGFONTW lf{};
        if (!GetObjectW(source, sizeof lf, &lf)) return E_INVALIDARG;
        font_ = CreateFontIndirectW(&lf);
        dc_ = CreateCompatibleDC(nullptr);
        if (!font_ || !dc_) return E_OUTOFMEMORY;
        SelectObject(dc_, font_);
        GetTextMetricsW(dc_, &metrics_);
        cell_height_ = std::max<LONG>(1, metrics_.tmHeight);
        cell_width_ = std::max<LONG>(1, metrics_.tmMaxCharWidth + metrics_.tmOverhang + 2);
        if (cell_height_ > static_cast<int>(atlas_size) || cell_width_ > static_cast<int>(atlas_size))
            return E_INVALIDARG;
        BITMAPINFO bi{};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = cell_width_;
        bi.bmiHeader.biHeight = -cell_height_;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        bitmap_ = CreateDIBSection(dc_, &bi, DIB_RGB_COLORS, &bits_, nullptr, 0);
        if (!bitmap_) return E_OUTOFMEMORY;
        SelectObject(dc_, bitmap_);
        SetTextColor(dc_, RGB(255, 255, 255));
        SetBkMode(dc_, TRANSPARENT);
        HRESULT hr = device_->CreateTexture(atlas_size, atlas_size, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
                                            atlas_.GetAddressOf());
        if (FAILED(hr)) return hr;
        return clear_atlas();
    }

    HRESULT draw(D3DCOLOR color, const wchar_t* text, UINT length, const RECT& rect, DWORD format) {
        if (!text) length = 0;
        // Lines end at "\n"; a "\r" before it belongs to the line break.
        lines_.clear();
        UINT start = 0;
        for (UINT i = 0; i <= length; ++i) {
            if (i < length && text[i] != L'\n') continue;
            UINT end = i;
            if (end > start && text[end - 1] == L'\r') --end;
            lines_.push_back({start, end});
            start = i + 1;
        }
        HRESULT hr = cache(text, length);
        if (FAILED(hr)) return hr;

        const int total_height = static_cast<int>(lines_.size()) * cell_height_;
        int y = rect.top;
        if (format & DT_BOTTOM) y = rect.bottom - total_height;
        else if (format & DT_VCENTER) y = rect.top + (rect.bottom - rect.top - total_height) / 2;

        vertices_.clear();
        for (auto [from, to] : lines_) {
            int width = 0;
            for (UINT i = from; i < to; ++i) width += advance(text[i]);
            int x = rect.left;
            if (format & DT_RIGHT) x = rect.right - width;
            else if (format & DT_CENTER) x = rect.left + (rect.right - rect.left - width) / 2;
            for (UINT i = from; i < to; ++i) {
                auto it = glyphs_.find(text[i]);
                if (it == glyphs_.end()) continue;
                add_quad(it->second, x, y, rect, color);
                x += it->second.width;
            }
            y += cell_height_;
        }
        if (vertices_.empty()) return S_OK;

        saved_state saved(device_);
        forget_mesh_binding(device_);  // the stream and vertex format change under the mesh
        IDirect3DDevice8* d = device_;
        d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        d->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
        d->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
        d->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
        d->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
        d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        d->SetRenderState(D3DRS_LIGHTING, FALSE);
        d->SetRenderState(D3DRS_FOGENABLE, FALSE);
        d->SetRenderState(D3DRS_STENCILENABLE, FALSE);
        d->SetRenderState(D3DRS_SPECULARENABLE, FALSE);
        d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
        d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
        d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
        d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
        d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
        d->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_POINT);
        d->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_POINT);
        d->SetTextureStageState(0, D3DTSS_MIPFILTER, D3DTEXF_NONE);
        d->SetTextureStageState(0, D3DTSS_ADDRESSU, D3DTADDRESS_CLAMP);
        d->SetTextureStageState(0, D3DTSS_ADDRESSV, D3DTADDRESS_CLAMP);
        d->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
        d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
        d->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
        d->SetTexture(0, atlas_.Get());
        d->SetVertexShader(text_fvf);
        return d->DrawPrimitiveUP(D3DPT_TRIANGLELIST, static_cast<UINT>(vertices_.size() / 3), vertices_.data(),
                                  sizeof(vertex));
    }

private:
    int advance(wchar_t c) const {
        auto it = glyphs_.find(c);
        return it == glyphs_.end() ? 0 : it->second.width;
    }

    // Rasterises every character of the text not cached yet, under one lock of the atlas
    // (each lock of a managed texture costs a copy). A full atlas starts afresh.
    HRESULT cache(const wchar_t* text, UINT length) {
        bool missing = false;
        for (UINT i = 0; i < length && !missing; ++i) missing = text[i] >= L' ' && !glyphs_.count(text[i]);
        if (!missing) return S_OK;
        for (int attempt = 0; attempt < 2; ++attempt) {
            D3DLOCKED_RECT locked{};
            HRESULT hr = atlas_->LockRect(0, &locked, nullptr, 0);
            if (FAILED(hr)) return hr;
            bool full = false;
            for (UINT i = 0; i < length && !full; ++i) {
                wchar_t c = text[i];
                if (c >= L' ' && !glyphs_.count(c)) rasterise(c, locked, full);
            }
            atlas_->UnlockRect(0);
            if (!full) return S_OK;
            hr = clear_atlas();
            if (FAILED(hr)) return hr;
        }
        return S_OK;  // more distinct characters than the atlas holds: what fits is drawn
    }

    // Draws one character with GDI and copies its coverage into the locked atlas.
    void rasterise(wchar_t c, const D3DLOCKED_RECT& locked, bool& full) {
        SIZE size{};
        GetTextExtentPoint32W(dc_, &c, 1, &size);
        int width = std::clamp<int>(size.cx, 0, cell_width_);
        if (pen_x_ + width > static_cast<int>(atlas_size)) {
            pen_x_ = 0;
            pen_y_ += cell_height_;
        }
        if (pen_y_ + cell_height_ > static_cast<int>(atlas_size)) {
            full = true;
            return;
        }
        std::fill_n(static_cast<DWORD*>(bits_), cell_width_ * cell_height_, 0u);
        TextOutW(dc_, 0, 0, &c, 1);
        GdiFlush();
        const auto* src = static_cast<const DWORD*>(bits_);
        for (int row = 0; row < cell_height_; ++row) {
            auto* dst = reinterpret_cast<DWORD*>(static_cast<BYTE*>(locked.pBits) + (pen_y_ + row) * locked.Pitch) + pen_x_;
            for (int col = 0; col < width; ++col) {
                DWORD p = src[row * cell_width_ + col];
                DWORD coverage = std::max({p & 0xFF, (p >> 8) & 0xFF, (p >> 16) & 0xFF});
                dst[col] = (coverage << 24) | 0x00FFFFFF;
            }
        }
        glyphs_[c] = {pen_x_, pen_y_, width};
        pen_x_ += width;
    }

    HRESULT clear_atlas() {
        glyphs_.clear();
        pen_x_ = pen_y_ = 0;
        D3DLOCKED_RECT locked{};
        HRESULT hr = atlas_->LockRect(0, &locked, nullptr, 0);
        if (FAILED(hr)) return hr;
        for (UINT row = 0; row < atlas_size; ++row)
            std::fill_n(reinterpret_cast<DWORD*>(static_cast<BYTE*>(locked.pBits) + row * locked.Pitch), atlas_size,
                        0x00FFFFFFu);
        return atlas_->UnlockRect(0);
    }

    // Adds the two triangles of one glyph cell at (x, y), clipped to the layout rectangle.
    void add_quad(const glyph& g, int x, int y, const RECT& clip, D3DCOLOR color) {
        int left = std::max<int>(x, clip.left), top = std::max<int>(y, clip.top);
        int right = std::min<int>(x + g.width, clip.right), bottom = std::min<int>(y + cell_height_, clip.bottom);
        if (left >= right || top >= bottom) return;
        const float scale = 1.0f / atlas_size;
        float u0 = (g.x + left - x) * scale, u1 = (g.x + right - x) * scale;
        float v0 = (g.y + top - y) * scale, v1 = (g.y + bottom - y) * scale;
        // Pixel centres lie on whole coordinates: shift by half a pixel to map texels exactly.
        float x0 = left - 0.5f, x1 = right - 0.5f, y0 = top - 0.5f, y1 = bottom - 0.5f;
        vertex a{x0, y0, 0, 1, color, u0, v0}, b{x1, y0, 0, 1, color, u1, v0};
        vertex c{x0, y1, 0, 1, color, u0, v1}, d{x1, y1, 0, 1, color, u1, v1};
        vertices_.insert(vertices_.end(), {a, b, c, b, d, c});
    }

    ComPtr<Direct3DDevice8> owner_;  // keeps the device (and its DLL) alive
    IDirect3DDevice8* device_;
    HFONT font_ = nullptr;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    void* bits_ = nullptr;
    TEXTMETRICW metrics_{};
    int cell_width_ = 0, cell_height_ = 0;
    ComPtr<IDirect3DTexture8> atlas_;
    int pen_x_ = 0, pen_y_ = 0;
    std::unordered_map<wchar_t, glyph> glyphs_;
    std::vector<std::pair<UINT, UINT>> lines_;
    std::vector<vertex> vertices_;
};

}  // namespace

HRESULT create_real_font(Direct3DDevice8* device, HFONT font, ComPtr<D3DXFont>& out) {
    out.Reset();
    if (!device || !device->native_device()) return E_INVALIDARG;
    if (!font) return E_INVALIDARG;
    ComPtr<real_font> made;
    HRESULT hr = make<real_font>(made, ComPtr<Direct3DDevice8>(device), device->native_device());
    if (FAILED(hr)) return hr;
    hr = made->init(font);
    if (FAILED(hr)) return hr;
    out = made;
    return S_OK;
}

HRESULT draw_real_font(D3DXFont* font, D3DCOLOR color, const wchar_t* text, UINT length, const RECT& rect,
                       DWORD format) {
    if (!font) return E_INVALIDARG;
    return static_cast<real_font*>(font)->draw(color, text, length, rect, format);
}

}  // namespace dx
