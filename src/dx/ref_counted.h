// Reference counting for the layer's objects, which are reached only through ComPtr.
#pragma once
#include <windows.h>
#include <unknwn.h>

#include <new>

namespace dx {

template <class Interface>
class ref_counted : public Interface {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown) return E_NOINTERFACE;
        *out = static_cast<IUnknown*>(this);
        this->AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

protected:
    ref_counted() = default;
    virtual ~ref_counted() = default;

private:
    LONG refs_ = 1;
};

// Creates an object and hands its first reference to a ComPtr.
template <class T, class Out, class... Args>
HRESULT make(Out& out, Args&&... args) {
    T* p = new (std::nothrow) T(static_cast<Args&&>(args)...);
    if (!p) return E_OUTOFMEMORY;
    *out.ReleaseAndGetAddressOf() = p;  // not Attach: this WRL's Attach adds a reference
    return S_OK;
}

}  // namespace dx
