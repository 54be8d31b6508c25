// The Direct3D 8 objects over d3d8.dll.
#include <memory>

#include "dx/graphics.h"
#include "dx/real.h"
#include "dx/ref_counted.h"

namespace dx {
namespace {

class real_device8 final : public ref_counted<Direct3DDevice8> {
public:
    real_device8(library lib, ComPtr<IDirect3DDevice8> device) : lib_(std::move(lib)), device_(std::move(device)) {}
    ~real_device8() override { device_.Reset(); }

    HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil) override {
        return device_->Clear(count, rects, flags, color, z, stencil);
    }
    HRESULT BeginScene() override { return device_->BeginScene(); }
    HRESULT EndScene() override { return device_->EndScene(); }
    HRESULT Present(const RECT* source, const RECT* dest, HWND window, const RGNDATA* dirty) override {
        return device_->Present(source, dest, window, dirty);
    }
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX& matrix) override {
        return device_->SetTransform(state, &matrix);
    }
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override {
        return device_->SetRenderState(state, value);
    }
    HRESULT SetMaterial(const D3DMATERIAL8& material) override { return device_->SetMaterial(&material); }
    HRESULT SetTexture(DWORD stage, Direct3DTexture8* texture) override {
        return device_->SetTexture(stage, texture ? texture->native_texture() : nullptr);
    }
    HRESULT SetLight(DWORD index, const D3DLIGHT8& light) override { return device_->SetLight(index, &light); }
    HRESULT LightEnable(DWORD index, BOOL enable) override { return device_->LightEnable(index, enable); }
    IDirect3DDevice8* native_device() override { return device_.Get(); }

private:
    library lib_;
    ComPtr<IDirect3DDevice8> device_;
};

class real_direct3d8 final : public ref_counted<Direct3D8> {
public:
    real_direct3d8(library lib, IDirect3D8* d3d) : lib_(std::move(lib)) { *d3d_.ReleaseAndGetAddressOf() = d3d; }
    ~real_direct3d8() override { d3d_.Reset(); }  // before the DLL reference goes

    HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) override {
        return d3d_->GetAdapterDisplayMode(adapter, mode);
    }
    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focus, DWORD behaviour, D3DPRESENT_PARAMETERS* parameters,
                         Direct3DDevice8** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        ComPtr<IDirect3DDevice8> device;
        HRESULT hr = d3d_->CreateDevice(adapter, type, focus, behaviour, parameters, device.GetAddressOf());
        if (FAILED(hr)) return hr;
        ComPtr<Direct3DDevice8> made;
        hr = make<real_device8>(made, lib_, std::move(device));
        *out = made.Detach();
        return hr;
    }
    HRESULT GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS8* caps) override {
        return d3d_->GetDeviceCaps(adapter, type, caps);
    }
    HRESULT GetAdapterModeCount(UINT adapter, LONG* count) override {
        *count = static_cast<LONG>(d3d_->GetAdapterModeCount(adapter));
        return S_OK;
    }
    HRESULT EnumAdapterModes(UINT adapter, UINT mode, D3DDISPLAYMODE* out) override {
        return d3d_->EnumAdapterModes(adapter, mode, out);
    }
    HRESULT CheckDeviceType(UINT adapter, D3DDEVTYPE type, D3DFORMAT display, D3DFORMAT back_buffer,
                            BOOL windowed) override {
        return d3d_->CheckDeviceType(adapter, type, display, back_buffer, windowed);
    }

private:
    library lib_;
    ComPtr<IDirect3D8> d3d_;
};

}  // namespace

HRESULT wrap_direct3d8(library lib, IDirect3D8* d3d, ComPtr<Direct3D8>& out) {
    return make<real_direct3d8>(out, std::move(lib), d3d);
}

}  // namespace dx
