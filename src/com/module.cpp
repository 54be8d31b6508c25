#include "com/module.h"

#include <oleauto.h>
#include <wrl/client.h>

#include "dx8engine_iface.h"
#include "engine/classes.h"
#include "engine/declarations.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

using Microsoft::WRL::ComPtr;

namespace com {
namespace {

LONG objects = 0;
LONG locks = 0;

using creator = HRESULT (*)(REFIID, void**);

struct class_entry {
    const CLSID* clsid;
    creator create;
};

const class_entry classes[] = {
    {&iface::CLSID_dxgraphics, engine::create_dxgraphics},
    {&iface::CLSID_dxinput, engine::create_dxinput},
    {&iface::CLSID_dxmain, engine::create_dxmain},
    {&iface::CLSID_dxmodels, engine::create_dxmodels},
};

// One class object per class; it creates a new, independent instance per request.
class class_factory final : public IClassFactory {
public:
    explicit class_factory(creator create) : create_(create) { object_created(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IClassFactory) return E_NOINTERFACE;
        *out = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return create_(iid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) InterlockedIncrement(&locks);
        else if (InterlockedDecrement(&locks) < 0) InterlockedIncrement(&locks);
        return S_OK;
    }

private:
    ~class_factory() { object_destroyed(); }
    LONG refs_ = 1;
    creator create_;
};

// Keeps the library loaded until the process ends, from the first class object on. COM frees
// an in-process server at the end of every apartment that used it (once it may unload) and
// loads it again for the next; the C++ runtime linked into the DLL does not give back what it
// allocated per load and per client thread when the DLL is unloaded, so a client that starts
// and ends apartments over and over grew by tens of kilobytes each time. The engine state
// still ends with each apartment; only the code stays.
void keep_loaded() noexcept {
    static LONG pinned = 0;
    if (InterlockedExchange(&pinned, 1) != 0) return;
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&keep_loaded), &self);
}

}  // namespace

void object_created() noexcept { InterlockedIncrement(&objects); }
void object_destroyed() noexcept { InterlockedDecrement(&objects); }
long object_count() noexcept { return objects; }
long lock_count() noexcept { return locks; }

HMODULE module_handle() noexcept { return reinterpret_cast<HMODULE>(&__ImageBase); }

std::wstring module_path() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(module_handle(), path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

HRESULT type_info_of(REFGUID guid, ITypeInfo** info) noexcept {
    // The runtime keeps loaded libraries cached by path, so loading per request is cheap
    // and leaves nothing of ours to release at unload time.
    ComPtr<ITypeLib> lib;
    HRESULT hr = LoadTypeLibEx(module_path().c_str(), REGKIND_NONE, &lib);
    if (FAILED(hr)) return hr;
    return lib->GetTypeInfoOfGuid(guid, info);
}

HRESULT get_class_object(REFCLSID clsid, REFIID iid, void** out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    for (const auto& c : classes) {
        if (*c.clsid != clsid) continue;
        keep_loaded();
        auto* factory = new (std::nothrow) class_factory(c.create);
        if (!factory) return E_OUTOFMEMORY;
        HRESULT hr = factory->QueryInterface(iid, out);
        factory->Release();
        return hr;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT can_unload_now() noexcept {
    if (objects != 0 || locks != 0) return S_FALSE;
    // With no objects left, this apartment's engine state goes with the library; the state
    // of another apartment keeps the library loaded until that apartment ends.
    engine::discard_current_state();
    return engine::live_states() == 0 ? S_OK : S_FALSE;
}

std::wstring prog_id(const wchar_t* class_name) { return std::wstring(iface::library.name) + L"." + class_name; }

}  // namespace com
