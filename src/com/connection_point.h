// The connection point of a connectable object: one outgoing (event) interface, any number
// of sinks, and the enumerators the protocol asks for.
#pragma once
#include <windows.h>
#include <ocidl.h>
#include <wrl/client.h>

#include <vector>

namespace com {

class connection_point final : public IConnectionPoint {
public:
    // The container is not AddRef'd here: it owns this point and outlives every use of it
    // except through GetConnectionPointContainer, which AddRefs it.
    connection_point(IConnectionPointContainer* container, REFIID events);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override;
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** out) override;
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** out) override;

    // The container goes away: later calls through a point a client still holds fail.
    void detach() noexcept { container_ = nullptr; }

    // The sinks connected now, each held for the caller's use; a sink that unadvises during
    // an event stays valid until the caller drops this snapshot.
    std::vector<Microsoft::WRL::ComPtr<IDispatch>> sinks() const;

private:
    ~connection_point();
    struct connection {
        DWORD cookie;
        Microsoft::WRL::ComPtr<IUnknown> unknown;
        Microsoft::WRL::ComPtr<IDispatch> dispatch;
    };
    LONG refs_ = 1;
    IConnectionPointContainer* container_;
    IID events_;
    DWORD next_cookie_ = 1;
    std::vector<connection> connections_;
};

// Enumerates the one connection point of a container.
HRESULT enum_connection_points(IConnectionPoint* point, IEnumConnectionPoints** out) noexcept;

}  // namespace com
