// Every member is reached alike by name, by DISPID and by vtable slot, and an omitted
// optional argument arrives as its default.
#include <gtest/gtest.h>

#include <cwctype>
#include <vector>

#include "helpers.h"
#include "probe.h"
#include "public_interface.h"

namespace {

std::wstring upper(std::wstring s) {
    for (auto& c : s) c = static_cast<wchar_t>(std::towupper(c));
    return s;
}

std::wstring method_name(const expected::member& m) {
    if (m.how == expected::kind::get) return std::wstring(L"get_") + m.name;
    if (m.how == expected::kind::let) return std::wstring(L"put_") + m.name;
    return m.name;
}

// Typed storage for one argument, addressable by reference.
struct slot_value {
    LONG l = 7;
    SHORT i = 3;
    float f = 1.5f;
    VARIANT_BOOL b = VARIANT_TRUE;
    BSTR s = SysAllocString(L"s");
    ~slot_value() { SysFreeString(s); }
    void* address(VARTYPE vt) {
        switch (vt) {
        case VT_I4: return &l;
        case VT_I2: return &i;
        case VT_R4: return &f;
        case VT_BOOL: return &b;
        default: return &s;
        }
    }
};

void set_value(VARIANT& v, VARTYPE vt, slot_value& s) {
    V_VT(&v) = vt;
    switch (vt) {
    case VT_I4: V_I4(&v) = s.l; break;
    case VT_I2: V_I2(&v) = s.i; break;
    case VT_R4: V_R4(&v) = s.f; break;
    case VT_BOOL: V_BOOL(&v) = s.b; break;
    default: V_BSTR(&v) = s.s; break;
    }
}

// Calls a member through its vtable slot with the given arguments.
template <class Probe>
HRESULT call_slot(Probe* p, const expected::member& m, std::vector<slot_value>& values) {
    std::vector<VARIANT> args(m.params.size() + 1);
    std::vector<VARIANTARG*> ptrs;
    std::vector<VARTYPE> types;
    size_t n = 0;
    if (m.how == expected::kind::let) {
        set_value(args[n], m.params[0].vt, values[0]);
        types.push_back(m.params[0].vt);
        ptrs.push_back(&args[n++]);
    } else {
        for (size_t k = 0; k < m.params.size(); ++k) {
            V_VT(&args[n]) = VT_BYREF | m.params[k].vt;
            V_BYREF(&args[n]) = values[k].address(m.params[k].vt);
            types.push_back(V_VT(&args[n]));
            ptrs.push_back(&args[n++]);
        }
        if (m.result != VT_EMPTY) {
            // A result starts empty, as the dispatcher's does.
            slot_value& r = values.back();
            r.l = 0, r.i = 0, r.f = 0, r.b = 0;
            SysFreeString(r.s);
            r.s = nullptr;
            V_VT(&args[n]) = VT_BYREF | m.result;
            V_BYREF(&args[n]) = values.back().address(m.result);
            types.push_back(V_VT(&args[n]));
            ptrs.push_back(&args[n++]);
        }
    }
    VARIANT ret;
    VariantInit(&ret);
    HRESULT hr = DispCallFunc(static_cast<IUnknown*>(static_cast<IDispatch*>(p)), m.slot * sizeof(void*), CC_STDCALL,
                              VT_I4, static_cast<UINT>(n), types.data(), ptrs.data(), &ret);
    EXPECT_EQ(S_OK, hr);
    return V_I4(&ret);
}

template <class Probe>
void expect_bindings(const std::vector<expected::member>& members) {
    auto probe = make_probe<Probe>();
    for (const auto& m : members) {
        SCOPED_TRACE(method_name(m));
        // By name, in any capitalisation.
        for (std::wstring name : {std::wstring(m.name), upper(m.name)}) {
            LPOLESTR names[] = {name.data()};
            DISPID id = 0;
            EXPECT_EQ(S_OK, probe->GetIDsOfNames(IID_NULL, names, 1, 0, &id));
            EXPECT_EQ(m.dispid, id);
        }
        // By DISPID.
        std::vector<slot_value> values(m.params.size() + 1);
        std::vector<VARIANT> args(m.params.size());
        for (size_t k = 0; k < m.params.size(); ++k) set_value(args[args.size() - 1 - k], m.params[k].vt, values[k]);
        DISPID put = DISPID_PROPERTYPUT;
        DISPPARAMS dp{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
        WORD flags = DISPATCH_METHOD;
        if (m.how == expected::kind::get) flags = DISPATCH_PROPERTYGET;
        if (m.how == expected::kind::let) {
            flags = DISPATCH_PROPERTYPUT;
            dp.rgdispidNamedArgs = &put;
            dp.cNamedArgs = 1;
        }
        variant result;
        probe->last.clear();
        EXPECT_EQ(S_OK, probe->Invoke(m.dispid, IID_NULL, 0, flags, &dp, &result, nullptr, nullptr));
        std::wstring by_dispid = probe->last;
        EXPECT_EQ(method_name(m), by_dispid.substr(0, by_dispid.find(L'(')));
        if (m.result != VT_EMPTY) {
            EXPECT_EQ(m.result, V_VT(&result));
        }
        // By vtable slot: the same method with the same arguments.
        probe->last.clear();
        std::vector<slot_value> fresh(m.params.size() + 1);
        EXPECT_EQ(S_OK, call_slot(probe.Get(), m, fresh));
        EXPECT_EQ(by_dispid, probe->last);
    }
}

TEST(Binding, DxgraphicsByNameDispidAndSlot) { expect_bindings<probe_dxgraphics>(expected::dxgraphics()); }
TEST(Binding, DxinputByNameDispidAndSlot) { expect_bindings<probe_dxinput>(expected::dxinput()); }
TEST(Binding, DxmainByNameDispidAndSlot) { expect_bindings<probe_dxmain>(expected::dxmain()); }
TEST(Binding, DxmodelsByNameDispidAndSlot) { expect_bindings<probe_dxmodels>(expected::dxmodels()); }

std::wstring invoke_without_arguments(IDispatch* d, DISPID id, std::vector<VARIANT> args = {}) {
    DISPPARAMS dp{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
    variant result;
    EXPECT_EQ(S_OK, d->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &dp, &result, nullptr, nullptr));
    return {};
}

TEST(Binding, OmittedOptionalArgumentsArriveAsTheirDefaults) {
    auto g = make_probe<probe_dxgraphics>();
    invoke_without_arguments(g.Get(), 0x60030009);
    EXPECT_EQ(L"engine_Initialise(0,640,480,0,2,0,0,0)", g->last);
    invoke_without_arguments(g.Get(), 0x60030012);
    EXPECT_EQ(L"text_change(12,Verdana,0)", g->last);

    VARIANT text;
    V_VT(&text) = VT_BSTR;
    bstr hello(L"hello");
    V_BSTR(&text) = hello.get();
    invoke_without_arguments(g.Get(), 0x60030011, {text});
    EXPECT_EQ(L"text_draw(hello,0,0,CCCCFF)", g->last);

    auto in = make_probe<probe_dxinput>();
    VARIANT window;
    V_VT(&window) = VT_I4;
    V_I4(&window) = 5;
    invoke_without_arguments(in.Get(), 0x60030000, {window});
    EXPECT_EQ(L"engine_initialize(5,GUID_SysKeyboard)", in->last);
}

}  // namespace
