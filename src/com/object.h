// The COM half of every public class: reference counting, IDispatch over the generated
// member table, ISupportErrorInfo, and the call wrapper that each public method runs in.
#pragma once
#include <windows.h>
#include <oaidl.h>

#include "com/dispatch.h"
#include "com/errors.h"
#include "com/module.h"
#include "dx8engine_iface.h"

namespace com {

template <class Interface>
class automation_object : public Interface, public ISupportErrorInfo {
public:
    automation_object(const automation_object&) = delete;
    automation_object& operator=(const automation_object&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == desc().iid)
            *out = static_cast<Interface*>(this);
        else if (iid == IID_ISupportErrorInfo)
            *out = static_cast<ISupportErrorInfo*>(this);
        else
            *out = query_extra(iid);
        if (!*out) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
        if (!info) return E_POINTER;
        *info = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        return type_info_of(desc().iid, info);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        return ids_of_names(desc(), names, count, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* excep, UINT* arg_err) override {
        return invoke(desc(), static_cast<Interface*>(this), id, lcid, flags, params, result, excep, arg_err);
    }

    // ISupportErrorInfo
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
        return iid == desc().iid ? S_OK : S_FALSE;
    }

protected:
    explicit automation_object(const wchar_t* class_name) : source_(prog_id(class_name)) { object_created(); }
    virtual ~automation_object() { object_destroyed(); }

    static const interface_desc& desc() { return iface::desc_of<Interface>(); }

    // Further interfaces of a derived class; the pointer returned is not yet AddRef'd.
    virtual void* query_extra(REFIID) { return nullptr; }

    // Runs the body of a public method: holds a reference to this object for the call and
    // turns any error into the method's HRESULT with error information.
    template <class Body>
    HRESULT call(Body&& body) noexcept {
        AddRef();
        HRESULT hr = guard(source_.c_str(), desc().iid, body);
        Release();
        return hr;
    }

private:
    LONG refs_ = 1;
    std::wstring source_;
};

// Creates an object of class T and returns the requested interface of it.
template <class T>
HRESULT create_instance(REFIID iid, void** out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    T* object = new (std::nothrow) T();
    if (!object) return E_OUTOFMEMORY;
    HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
}

}  // namespace com
