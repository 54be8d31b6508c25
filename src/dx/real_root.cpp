// The root objects over the platform's own DLLs, loaded at run time so that a machine
// without them gets a clear error instead of a DLL that does not load.
#include <d3d8.h>

#include <memory>

#include "dx/layer.h"
#include "dx/real.h"
#include "dx/ref_counted.h"

namespace dx {

HRESULT library::load(const wchar_t* name, library& out) {
    HMODULE m = LoadLibraryW(name);
    if (!m) {
        DWORD e = GetLastError();
        return HRESULT_FROM_WIN32(e ? e : ERROR_MOD_NOT_FOUND);
    }
    out.handle_.reset(m, [](HMODULE h) { FreeLibrary(h); });
    return S_OK;
}

FARPROC library::symbol(const char* name) const { return GetProcAddress(handle_.get(), name); }

namespace {

class real_directx8 final : public ref_counted<DirectX8> {
public:
    HRESULT Direct3DCreate(Direct3D8** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        library lib;
        HRESULT hr = library::load(L"d3d8.dll", lib);
        if (FAILED(hr)) return hr;
        using create_fn = IDirect3D8*(WINAPI*)(UINT);
        auto create = reinterpret_cast<create_fn>(lib.symbol("Direct3DCreate8"));
        if (!create) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
        IDirect3D8* d3d = create(D3D_SDK_VERSION);
        if (!d3d) return E_FAIL;
        ComPtr<Direct3D8> made;
        hr = wrap_direct3d8(std::move(lib), d3d, made);
        if (FAILED(hr)) {
            d3d->Release();
            return hr;
        }
        *out = made.Detach();
        return S_OK;
    }

    HRESULT DirectInputCreate(DirectInput8** out) override { return create_real_directinput8(out); }
};

}  // namespace

HRESULT create_real_directx8(ComPtr<DirectX8>& out) {
    out.Reset();
    return make<real_directx8>(out);
}

}  // namespace dx
