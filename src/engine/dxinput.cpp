// Class dxinput: the keyboard as events. It is a connectable object with one connection
// point, for the event interface __dxinput.
#include <ocidl.h>
#include <olectl.h>

#include "com/connection_point.h"
#include "com/object.h"
#include "engine/classes.h"
#include "engine/declarations.h"

namespace engine {
namespace {

using base = iface::_dxinput_stubs<com::automation_object<iface::_dxinput>>;

class dxinput final : public base, public IConnectionPointContainer, public IProvideClassInfo2 {
public:
    dxinput() : base(L"dxinput") {
        *events_.ReleaseAndGetAddressOf() = new com::connection_point(this, iface::DIID_dxinput_events);
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override { return base::QueryInterface(iid, out); }
    ULONG STDMETHODCALLTYPE AddRef() override { return base::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return base::Release(); }

    // IConnectionPointContainer
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** out) override {
        return com::enum_connection_points(events_.Get(), out);
    }
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != iface::DIID_dxinput_events) return CONNECT_E_NOCONNECTION;
        return events_.CopyTo(out);
    }

    // IProvideClassInfo2: lets script hosts find the event interface.
    HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** out) override {
        if (!out) return E_POINTER;
        return com::type_info_of(iface::CLSID_dxinput, out);
    }
    HRESULT STDMETHODCALLTYPE GetGUID(DWORD kind, GUID* out) override {
        if (!out) return E_POINTER;
        if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
            *out = GUID_NULL;
            return E_INVALIDARG;
        }
        *out = iface::DIID_dxinput_events;
        return S_OK;
    }

protected:
    ~dxinput() override { events_->detach(); }

    void* query_extra(REFIID iid) override {
        if (iid == IID_IConnectionPointContainer) return static_cast<IConnectionPointContainer*>(this);
        if (iid == IID_IProvideClassInfo || iid == IID_IProvideClassInfo2) return static_cast<IProvideClassInfo2*>(this);
        return nullptr;
    }

private:
    ComPtr<com::connection_point> events_;
};

}  // namespace

HRESULT create_dxinput(REFIID iid, void** out) noexcept { return com::create_instance<dxinput>(iid, out); }

}  // namespace engine
