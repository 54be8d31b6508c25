// The recording double of the Direct3D 8 and D3DX 8 objects.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "dx/recording.h"
#include "dx/recording_object.h"

namespace dx::recording {
namespace {

std::string fmt(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string fmt(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

std::string narrow(const wchar_t* text, UINT length) {
    std::string s;
    for (UINT i = 0; i < length; ++i) s += text[i] < 128 ? static_cast<char>(text[i]) : '?';
    return s;
}

class recording_texture final : public recorded<Direct3DTexture8> {
public:
    explicit recording_texture(std::shared_ptr<log> into) : recorded(std::move(into), "Direct3DTexture8") {}
    IDirect3DBaseTexture8* native_texture() override { return nullptr; }
};

class recording_mesh final : public recorded<D3DXMesh> {
public:
    explicit recording_mesh(std::shared_ptr<log> into) : recorded(std::move(into), "D3DXMesh") {}
    HRESULT DrawSubset(DWORD attribute) override { return enter("DrawSubset", std::to_string(attribute)); }
    LONG AnimationCount() override { return static_cast<LONG>(log_->graphics.mesh_animations.size()); }
    HRESULT GetAnimation(LONG index, std::wstring* name, float* seconds) override {
        HRESULT hr = enter("GetAnimation", std::to_string(index));
        if (FAILED(hr)) return hr;
        if (index < 0 || index >= AnimationCount()) return D3DERR_INVALIDCALL;
        if (name) *name = log_->graphics.mesh_animations[index].first;
        if (seconds) *seconds = log_->graphics.mesh_animations[index].second;
        return S_OK;
    }
    HRESULT Animate(LONG animation, float seconds, float weight) override {
        return enter("Animate", fmt("%ld,%g,%g", animation, seconds, weight));
    }
};

class recording_materials final : public recorded<D3DXBuffer> {
public:
    recording_materials(std::shared_ptr<log> into, std::vector<std::pair<D3DMATERIAL8, std::wstring>> items)
        : recorded(std::move(into), "D3DXBuffer"), items(std::move(items)) {}
    std::vector<std::pair<D3DMATERIAL8, std::wstring>> items;
};

class recording_device final : public recorded<Direct3DDevice8> {
public:
    explicit recording_device(std::shared_ptr<log> into) : recorded(std::move(into), "Direct3DDevice8") {}

    HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil) override {
        return enter("Clear", fmt("%lu,%s,%lu,0x%08lX,%g,%lu", count, rects ? "rects" : "null", flags, color, z, stencil));
    }
    HRESULT BeginScene() override { return enter("BeginScene"); }
    HRESULT EndScene() override { return enter("EndScene"); }
    HRESULT Present(const RECT* source, const RECT* dest, HWND window, const RGNDATA* dirty) override {
        return enter("Present", fmt("%d,%d,%d,%d", source != nullptr, dest != nullptr, window != nullptr,
                                    dirty != nullptr));
    }
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX& matrix) override {
        log_->graphics.transforms.emplace_back(state, matrix);
        return enter("SetTransform", std::to_string(state));
    }
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override {
        return enter("SetRenderState", fmt("%d,0x%08lX", state, value));
    }
    HRESULT SetMaterial(const D3DMATERIAL8& material) override {
        log_->graphics.materials.push_back(material);
        return enter("SetMaterial");
    }
    HRESULT SetTexture(DWORD stage, Direct3DTexture8* texture) override {
        return enter("SetTexture", fmt("%lu,%s", stage, name_of(texture).c_str()));
    }
    HRESULT SetLight(DWORD index, const D3DLIGHT8& light) override {
        log_->graphics.lights.push_back(light);
        return enter("SetLight", std::to_string(index));
    }
    HRESULT LightEnable(DWORD index, BOOL enable) override {
        return enter("LightEnable", fmt("%lu,%d", index, enable));
    }
    IDirect3DDevice8* native_device() override { return nullptr; }
};

class recording_direct3d8 final : public recorded<Direct3D8> {
public:
    explicit recording_direct3d8(std::shared_ptr<log> into) : recorded(std::move(into), "Direct3D8") {}

    HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) override {
        HRESULT hr = enter("GetAdapterDisplayMode", std::to_string(adapter));
        if (SUCCEEDED(hr)) *mode = log_->graphics.display_mode;
        return hr;
    }
    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focus, DWORD behaviour, D3DPRESENT_PARAMETERS* parameters,
                         Direct3DDevice8** out) override {
        *out = nullptr;
        log_->graphics.present_parameters.push_back(*parameters);
        HRESULT hr = enter("CreateDevice", fmt("%u,%d,%ld,0x%lX", adapter, type,
                                                static_cast<long>(reinterpret_cast<LONG_PTR>(focus)), behaviour));
        if (FAILED(hr)) return hr;
        ComPtr<Direct3DDevice8> made;
        hr = make<recording_device>(made, log_);
        *out = made.Detach();
        return hr;
    }
    HRESULT GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS8* caps) override {
        HRESULT hr = enter("GetDeviceCaps", fmt("%u,%d", adapter, type));
        if (SUCCEEDED(hr)) caps->RasterCaps = log_->graphics.raster_caps;
        return hr;
    }
    HRESULT GetAdapterModeCount(UINT adapter, LONG* count) override {
        HRESULT hr = enter("GetAdapterModeCount", std::to_string(adapter));
        if (SUCCEEDED(hr)) *count = static_cast<LONG>(log_->graphics.adapter_modes.size());
        return hr;
    }
    HRESULT EnumAdapterModes(UINT adapter, UINT mode, D3DDISPLAYMODE* out) override {
        HRESULT hr = enter("EnumAdapterModes", fmt("%u,%u", adapter, mode));
        if (FAILED(hr)) return hr;
        if (mode >= log_->graphics.adapter_modes.size()) return D3DERR_INVALIDCALL;
        *out = log_->graphics.adapter_modes[mode];
        return S_OK;
    }
    HRESULT CheckDeviceType(UINT adapter, D3DDEVTYPE type, D3DFORMAT display, D3DFORMAT back_buffer,
                            BOOL windowed) override {
        return enter("CheckDeviceType", fmt("%u,%d,%d,%d,%d", adapter, type, display, back_buffer, windowed));
    }
};

// Keeps its device alive, as a real font does.
class recording_font final : public recorded<D3DXFont> {
public:
    recording_font(std::shared_ptr<log> into, Direct3DDevice8* device)
        : recorded(std::move(into), "D3DXFont"), device_(device) {}

private:
    ComPtr<Direct3DDevice8> device_;
};

class recording_buffer final : public recorded<D3DXBuffer> {
public:
    recording_buffer(std::shared_ptr<log> into, DWORD bytes) : recorded(std::move(into), "D3DXBuffer"), bytes(bytes) {}
    std::vector<unsigned char> bytes;
};

class recording_d3dx8 final : public recorded<D3DX8> {
public:
    explicit recording_d3dx8(std::shared_ptr<log> into) : recorded(std::move(into), "D3DX8") {}

    HRESULT CreateFont(Direct3DDevice8* device, HFONT font, D3DXFont** out) override {
        *out = nullptr;
        HRESULT hr = enter("CreateFont", name_of(device) + (font ? ",hfont" : ",null"));
        if (FAILED(hr)) return hr;
        ComPtr<D3DXFont> made;
        hr = make<recording_font>(made, log_, device);
        *out = made.Detach();
        return hr;
    }
    HRESULT DrawText(D3DXFont* font, D3DCOLOR color, const wchar_t* text, UINT length, RECT* rect,
                     DWORD format) override {
        return enter("DrawText", fmt("%s,0x%08lX,\"%s\",%ld,%ld,%ld,%ld,%lu", name_of(font).c_str(), color,
                                     narrow(text, length).c_str(), rect->left, rect->top, rect->right, rect->bottom,
                                     format));
    }
    HRESULT LoadMeshFromX(const wchar_t* file, DWORD options, Direct3DDevice8* device, D3DXBuffer** adjacency,
                          D3DXBuffer** materials, LONG* material_count, D3DXMesh** mesh,
                          std::wstring* detail) override {
        if (adjacency) *adjacency = nullptr;  // asked for or not, as the real loader
        *materials = nullptr;
        *mesh = nullptr;
        const std::wstring f(file);
        HRESULT hr = enter("LoadMeshFromX", fmt("\"%s\",0x%lX,%s", narrow(f.c_str(), static_cast<UINT>(f.size())).c_str(),
                                                options, name_of(device).c_str()));
        if (FAILED(hr)) {
            if (detail) *detail = L"recorded failure";
            return hr;
        }
        ComPtr<D3DXMesh> m;
        ComPtr<D3DXBuffer> adj, mats;
        make<recording_mesh>(m, log_);
        if (adjacency) make<recording_buffer>(adj, log_, 12);
        make<recording_materials>(mats, log_, log_->graphics.mesh_materials);
        *material_count = static_cast<LONG>(log_->graphics.mesh_materials.size());
        *mesh = m.Detach();
        if (adjacency) *adjacency = adj.Detach();
        *materials = mats.Detach();
        return S_OK;
    }
    HRESULT BufferGetMaterial(D3DXBuffer* materials, LONG index, D3DMATERIAL8* out) override {
        HRESULT hr = enter("BufferGetMaterial", fmt("%s,%ld", name_of(materials).c_str(), index));
        if (FAILED(hr)) return hr;
        auto& items = static_cast<recording_materials*>(materials)->items;
        if (index < 0 || index >= static_cast<LONG>(items.size())) return D3DERR_INVALIDCALL;
        *out = items[index].first;
        return S_OK;
    }
    HRESULT BufferGetTextureName(D3DXBuffer* materials, LONG index, std::wstring* out,
                                 texture_source* source) override {
        HRESULT hr = enter("BufferGetTextureName", fmt("%s,%ld", name_of(materials).c_str(), index));
        if (FAILED(hr)) return hr;
        auto& items = static_cast<recording_materials*>(materials)->items;
        if (index < 0 || index >= static_cast<LONG>(items.size())) return D3DERR_INVALIDCALL;
        *out = items[index].second;
        if (source) {
            const auto& sources = log_->graphics.texture_sources;
            *source = index < static_cast<LONG>(sources.size()) ? sources[index] : texture_source{};
        }
        return S_OK;
    }
    HRESULT CreateTextureFromFileEx(Direct3DDevice8* device, const wchar_t* file, LONG width, LONG height,
                                    LONG mip_levels, LONG usage, D3DFORMAT format, D3DPOOL pool, LONG filter,
                                    LONG mip_filter, D3DCOLOR color_key, Direct3DTexture8** out,
                                    std::wstring* detail) override {
        *out = nullptr;
        const std::wstring f(file);
        HRESULT hr = enter("CreateTextureFromFileEx",
                           fmt("%s,\"%s\",%ld,%ld,%ld,%ld,%d,%d,%ld,%ld,0x%lX", name_of(device).c_str(),
                               narrow(f.c_str(), static_cast<UINT>(f.size())).c_str(), width, height, mip_levels, usage,
                               format, pool, filter, mip_filter, color_key));
        if (FAILED(hr)) {
            if (detail) *detail = L"recorded failure";
            return hr;
        }
        ComPtr<Direct3DTexture8> made;
        hr = make<recording_texture>(made, log_);
        *out = made.Detach();
        return hr;
    }
    HRESULT CreateTextureFromFileInMemoryEx(Direct3DDevice8* device, const void*, UINT size, LONG width, LONG height,
                                            LONG mip_levels, LONG usage, D3DFORMAT format, D3DPOOL pool, LONG filter,
                                            LONG mip_filter, D3DCOLOR color_key, Direct3DTexture8** out,
                                            std::wstring* detail) override {
        *out = nullptr;
        HRESULT hr = enter("CreateTextureFromFileInMemoryEx",
                           fmt("%s,%u bytes,%ld,%ld,%ld,%ld,%d,%d,%ld,%ld,0x%lX", name_of(device).c_str(), size, width,
                               height, mip_levels, usage, format, pool, filter, mip_filter, color_key));
        if (FAILED(hr)) {
            if (detail) *detail = L"recorded failure";
            return hr;
        }
        ComPtr<Direct3DTexture8> made;
        hr = make<recording_texture>(made, log_);
        *out = made.Detach();
        return hr;
    }
    HRESULT CreateBuffer(DWORD bytes, D3DXBuffer** out) override {
        *out = nullptr;
        HRESULT hr = enter("CreateBuffer", std::to_string(bytes));
        if (FAILED(hr)) return hr;
        ComPtr<D3DXBuffer> made;
        hr = make<recording_buffer>(made, log_, bytes);
        *out = made.Detach();
        return hr;
    }
    HRESULT BufferSetData(D3DXBuffer* buffer, LONG offset, LONG element_size, LONG count, const void* data) override {
        HRESULT hr = enter("BufferSetData", fmt("%s,%ld,%ld,%ld", name_of(buffer).c_str(), offset, element_size, count));
        if (FAILED(hr)) return hr;
        auto& bytes = static_cast<recording_buffer*>(buffer)->bytes;
        if (offset < 0 || element_size * count + offset > static_cast<LONG>(bytes.size())) return E_INVALIDARG;
        std::memcpy(bytes.data() + offset, data, element_size * count);
        return S_OK;
    }
    HRESULT BufferGetData(D3DXBuffer* buffer, LONG offset, LONG element_size, LONG count, void* data) override {
        HRESULT hr = enter("BufferGetData", fmt("%s,%ld,%ld,%ld", name_of(buffer).c_str(), offset, element_size, count));
        if (FAILED(hr)) return hr;
        auto& bytes = static_cast<recording_buffer*>(buffer)->bytes;
        if (offset < 0 || element_size * count + offset > static_cast<LONG>(bytes.size())) return E_INVALIDARG;
        std::memcpy(data, bytes.data() + offset, element_size * count);
        return S_OK;
    }
};

}  // namespace

ComPtr<Direct3D8> make_direct3d8(std::shared_ptr<log> into) {
    ComPtr<Direct3D8> made;
    make<recording_direct3d8>(made, std::move(into));
    return made;
}

d3dx_factory d3dx(std::shared_ptr<log> into) {
    return [into](ComPtr<D3DX8>& out) -> HRESULT {
        HRESULT hr = into->enter("D3DX8.create");
        if (FAILED(hr)) return hr;
        return make<recording_d3dx8>(out, into);
    };
}

}  // namespace dx::recording
