#include "com/connection_point.h"

#include <olectl.h>

#include "com/module.h"

using Microsoft::WRL::ComPtr;

namespace com {
namespace {

// A snapshot enumerator over a list of items of one COM enumeration interface.
template <class Enum, class Item, class Copy, class Clear>
class snapshot_enum final : public Enum {
public:
    snapshot_enum(std::vector<Item> items, const IID& iid, Copy copy, Clear clear)
        : items_(std::move(items)), iid_(iid), copy_(copy), clear_(clear) {
        object_created();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != iid_) return E_NOINTERFACE;
        *out = static_cast<Enum*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG count, Item* out, ULONG* fetched) override {
        if (!out || (count > 1 && !fetched)) return E_POINTER;
        ULONG n = 0;
        while (n < count && next_ < items_.size()) copy_(out[n++], items_[next_++]);
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        size_t left = items_.size() - next_;
        next_ += count < left ? count : left;
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        next_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(Enum** out) override {
        if (!out) return E_POINTER;
        std::vector<Item> copy(items_.size());
        for (size_t i = 0; i < items_.size(); ++i) copy_(copy[i], items_[i]);
        auto* e = new (std::nothrow) snapshot_enum(std::move(copy), iid_, copy_, clear_);
        if (!e) return E_OUTOFMEMORY;
        e->next_ = next_;
        *out = e;
        return S_OK;
    }

private:
    ~snapshot_enum() {
        for (auto& i : items_) clear_(i);
        object_destroyed();
    }
    LONG refs_ = 1;
    std::vector<Item> items_;
    size_t next_ = 0;
    IID iid_;
    Copy copy_;
    Clear clear_;
};

void copy_connect(CONNECTDATA& to, const CONNECTDATA& from) {
    to = from;
    if (to.pUnk) to.pUnk->AddRef();
}
void clear_connect(CONNECTDATA& c) {
    if (c.pUnk) c.pUnk->Release();
}
void copy_point(IConnectionPoint*& to, IConnectionPoint* const& from) {
    to = from;
    if (to) to->AddRef();
}
void clear_point(IConnectionPoint*& p) {
    if (p) p->Release();
}

}  // namespace

connection_point::connection_point(IConnectionPointContainer* container, REFIID events)
    : container_(container), events_(events) {
    object_created();
}

connection_point::~connection_point() { object_destroyed(); }

HRESULT connection_point::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_IConnectionPoint) return E_NOINTERFACE;
    *out = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
}

ULONG connection_point::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }

ULONG connection_point::Release() {
    LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
}

HRESULT connection_point::GetConnectionInterface(IID* iid) {
    if (!iid) return E_POINTER;
    *iid = events_;
    return S_OK;
}

HRESULT connection_point::GetConnectionPointContainer(IConnectionPointContainer** out) {
    if (!out) return E_POINTER;
    *out = container_;
    if (!container_) return E_UNEXPECTED;
    container_->AddRef();
    return S_OK;
}

HRESULT connection_point::Advise(IUnknown* sink, DWORD* cookie) {
    if (!cookie) return E_POINTER;
    *cookie = 0;
    if (!sink) return E_POINTER;
    ComPtr<IDispatch> dispatch;
    // A sink offers the event interface itself, or at least IDispatch, through which
    // events are raised.
    if (FAILED(sink->QueryInterface(events_, reinterpret_cast<void**>(dispatch.GetAddressOf()))) &&
        FAILED(sink->QueryInterface(IID_PPV_ARGS(&dispatch))))
        return CONNECT_E_CANNOTCONNECT;
    try {
        connections_.push_back({next_cookie_, sink, dispatch});
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    *cookie = next_cookie_++;
    return S_OK;
}

HRESULT connection_point::Unadvise(DWORD cookie) {
    for (auto it = connections_.begin(); it != connections_.end(); ++it) {
        if (it->cookie != cookie) continue;
        // Release the sink only after it has left the list: its release may call back.
        connection gone = std::move(*it);
        connections_.erase(it);
        return S_OK;
    }
    return CONNECT_E_NOCONNECTION;
}

HRESULT connection_point::EnumConnections(IEnumConnections** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    try {
        std::vector<CONNECTDATA> items;
        for (const auto& c : connections_) {
            c.unknown->AddRef();
            items.push_back({c.unknown.Get(), c.cookie});
        }
        *out = new snapshot_enum<IEnumConnections, CONNECTDATA, decltype(&copy_connect), decltype(&clear_connect)>(
            std::move(items), IID_IEnumConnections, &copy_connect, &clear_connect);
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

std::vector<ComPtr<IDispatch>> connection_point::sinks() const {
    std::vector<ComPtr<IDispatch>> out;
    out.reserve(connections_.size());
    for (const auto& c : connections_) out.push_back(c.dispatch);
    return out;
}

HRESULT enum_connection_points(IConnectionPoint* point, IEnumConnectionPoints** out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    try {
        std::vector<IConnectionPoint*> items;
        point->AddRef();
        items.push_back(point);
        *out = new snapshot_enum<IEnumConnectionPoints, IConnectionPoint*, decltype(&copy_point),
                                 decltype(&clear_point)>(std::move(items), IID_IEnumConnectionPoints, &copy_point,
                                                         &clear_point);
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace com
