// The module's class objects, its unload rule, registration into one hive, error
// information, and the connection point of dxinput.
#include <ocidl.h>
#include <olectl.h>

#include <gtest/gtest.h>

#include "com/errors.h"
#include "com/module.h"
#include "com/registration.h"
#include "dx8engine_iface.h"
#include "helpers.h"

namespace {

ComPtr<IClassFactory> factory_of(REFCLSID clsid) {
    ComPtr<IClassFactory> f;
    EXPECT_EQ(S_OK, com::get_class_object(clsid, IID_PPV_ARGS(&f)));
    return f;
}

TEST(Server, AnUnknownClassIsNotAvailableAndNothingIsCreated) {
    long before = com::object_count();
    ComPtr<IClassFactory> f;
    const GUID other = {0x12345678, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, com::get_class_object(other, IID_PPV_ARGS(&f)));
    EXPECT_EQ(nullptr, f.Get());
    EXPECT_EQ(before, com::object_count());
}

TEST(Server, EachRequestGivesANewInstanceAndAggregationIsRefused) {
    auto f = factory_of(iface::CLSID_dxgraphics);
    ComPtr<iface::_dxgraphics> a, b;
    ASSERT_EQ(S_OK, f->CreateInstance(nullptr, iface::IID_dxgraphics, reinterpret_cast<void**>(a.GetAddressOf())));
    ASSERT_EQ(S_OK, f->CreateInstance(nullptr, iface::IID_dxgraphics, reinterpret_cast<void**>(b.GetAddressOf())));
    EXPECT_NE(a.Get(), b.Get());
    a->put_FrameRate(5);
    LONG rate = -1;
    b->get_FrameRate(&rate);
    EXPECT_EQ(0, rate);

    ComPtr<IUnknown> outer = a;
    ComPtr<IUnknown> inner;
    EXPECT_EQ(CLASS_E_NOAGGREGATION, f->CreateInstance(outer.Get(), IID_IUnknown, &inner));
    EXPECT_EQ(nullptr, inner.Get());
}

TEST(Server, CanUnloadOnlyWithNoObjectsAndNoLocks) {
    EXPECT_EQ(S_OK, com::can_unload_now());
    {
        auto f = factory_of(iface::CLSID_dxmain);
        EXPECT_EQ(S_FALSE, com::can_unload_now());
        f->LockServer(TRUE);
        f.Reset();
        EXPECT_EQ(S_FALSE, com::can_unload_now());
        auto again = factory_of(iface::CLSID_dxmain);
        again->LockServer(FALSE);
        ComPtr<IDispatch> object;
        ASSERT_EQ(S_OK, again->CreateInstance(nullptr, IID_PPV_ARGS(&object)));
        again.Reset();
        EXPECT_EQ(S_FALSE, com::can_unload_now());
    }
    EXPECT_EQ(S_OK, com::can_unload_now());
}

TEST(Server, EveryClassSupportsErrorInfoOnItsInterface) {
    const std::pair<const CLSID*, const IID*> classes[] = {{&iface::CLSID_dxgraphics, &iface::IID_dxgraphics},
                                                           {&iface::CLSID_dxinput, &iface::IID_dxinput},
                                                           {&iface::CLSID_dxmain, &iface::IID_dxmain}};
    for (auto [clsid, iid] : classes) {
        ComPtr<ISupportErrorInfo> s;
        ASSERT_EQ(S_OK, factory_of(*clsid)->CreateInstance(nullptr, IID_PPV_ARGS(&s)));
        EXPECT_EQ(S_OK, s->InterfaceSupportsErrorInfo(*iid));
        EXPECT_EQ(S_FALSE, s->InterfaceSupportsErrorInfo(IID_IUnknown));
        ComPtr<IDispatch> d;
        ASSERT_EQ(S_OK, s.As(&d));
        ComPtr<ITypeInfo> ti;
        ASSERT_EQ(S_OK, d->GetTypeInfo(0, 0, &ti));
        TYPEATTR* a = nullptr;
        ASSERT_EQ(S_OK, ti->GetTypeAttr(&a));
        EXPECT_EQ(*iid, a->guid);
        ti->ReleaseTypeAttr(a);
    }
}

TEST(Server, AFailingCallCarriesReadableErrorInformation) {
    ComPtr<iface::_dxgraphics> g;
    ASSERT_EQ(S_OK, factory_of(iface::CLSID_dxgraphics)
                        ->CreateInstance(nullptr, iface::IID_dxgraphics, reinterpret_cast<void**>(g.GetAddressOf())));
    SetErrorInfo(0, nullptr);
    SHORT index = 900;
    EXPECT_EQ(com::error_subscript, g->model_draw(&index));
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(S_OK, GetErrorInfo(0, &info));
    bstr description, source;
    info->GetDescription(description.out());
    info->GetSource(source.out());
    EXPECT_EQ(L"Subscript out of range", description.str());
    EXPECT_EQ(L"Quellbrook_dx_8engine.dxgraphics", source.str());
}

// A sink that counts the calls it gets.
class counting_sink final : public IDispatch {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IDispatch) return E_NOINTERFACE;
        *out = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return S_OK;
    }
    ULONG refs = 1;
};

TEST(Server, DxinputOffersOneConnectionPointForItsEvents) {
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(S_OK, factory_of(iface::CLSID_dxinput)->CreateInstance(nullptr, IID_PPV_ARGS(&container)));

    ComPtr<IProvideClassInfo2> info;
    ASSERT_EQ(S_OK, container.As(&info));
    GUID events{};
    ASSERT_EQ(S_OK, info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &events));
    EXPECT_EQ(iface::DIID_dxinput_events, events);
    ComPtr<ITypeInfo> coclass;
    ASSERT_EQ(S_OK, info->GetClassInfo(&coclass));

    ComPtr<IConnectionPoint> point;
    EXPECT_EQ(CONNECT_E_NOCONNECTION, container->FindConnectionPoint(IID_IDispatch, &point));
    ASSERT_EQ(S_OK, container->FindConnectionPoint(iface::DIID_dxinput_events, &point));
    IID iid{};
    point->GetConnectionInterface(&iid);
    EXPECT_EQ(iface::DIID_dxinput_events, iid);
    ComPtr<IConnectionPointContainer> back;
    ASSERT_EQ(S_OK, point->GetConnectionPointContainer(&back));
    EXPECT_EQ(container.Get(), back.Get());

    ComPtr<IEnumConnectionPoints> points;
    ASSERT_EQ(S_OK, container->EnumConnectionPoints(&points));
    IConnectionPoint* listed[2] = {};
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, points->Next(2, listed, &fetched));
    ASSERT_EQ(1u, fetched);
    EXPECT_EQ(point.Get(), listed[0]);
    listed[0]->Release();

    counting_sink a, b;
    DWORD ca = 0, cb = 0;
    ASSERT_EQ(S_OK, point->Advise(&a, &ca));
    ASSERT_EQ(S_OK, point->Advise(&b, &cb));
    EXPECT_NE(ca, cb);
    ComPtr<IEnumConnections> connections;
    ASSERT_EQ(S_OK, point->EnumConnections(&connections));
    CONNECTDATA data[3] = {};
    EXPECT_EQ(S_FALSE, connections->Next(3, data, &fetched));
    ASSERT_EQ(2u, fetched);
    EXPECT_EQ(ca, data[0].dwCookie);
    EXPECT_EQ(cb, data[1].dwCookie);
    for (ULONG i = 0; i < fetched; ++i) data[i].pUnk->Release();
    connections.Reset();

    EXPECT_EQ(S_OK, point->Unadvise(ca));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(ca));
    EXPECT_EQ(1u, a.refs);
    EXPECT_EQ(S_OK, point->Unadvise(cb));
    EXPECT_EQ(1u, b.refs);
}

TEST(Server, RegistersForTheCurrentUserAndRemovesExactlyThat) {
    ASSERT_EQ(S_OK, com::register_in(com::hive::user));
    auto value = [](const std::wstring& key) {
        wchar_t data[512] = {};
        DWORD size = sizeof data;
        LONG rc = RegGetValueW(HKEY_CURRENT_USER, (L"Software\\Classes\\" + key).c_str(), nullptr, RRF_RT_REG_SZ,
                               nullptr, data, &size);
        return rc == ERROR_SUCCESS ? std::wstring(data) : std::wstring(L"<missing>");
    };
    wchar_t clsid[40];
    StringFromGUID2(iface::CLSID_dxmain, clsid, 40);
    EXPECT_EQ(clsid, value(L"Quellbrook_dx_8engine.dxmain\\CLSID"));
    EXPECT_EQ(com::module_path(), value(std::wstring(L"CLSID\\") + clsid + L"\\InprocServer32"));
    EXPECT_EQ(S_OK, com::unregister_from(com::hive::user));
    EXPECT_EQ(L"<missing>", value(L"Quellbrook_dx_8engine.dxmain\\CLSID"));
    EXPECT_EQ(L"<missing>", value(std::wstring(L"CLSID\\") + clsid));
    // Removing what is not there is not an error.
    EXPECT_EQ(S_OK, com::unregister_from(com::hive::user));
}

}  // namespace
