// A C++ client built the way a user of the release archive builds one: against the archive's
// header alone, with the registered DLL. It binds early through the header's vtables and
// through the archive's type library file (ITypeInfo::Invoke calls the vtable slot the library
// names), and checks that both reach the same members with the same results.
//   packaged_client Z:\path\to\dx8engine.tlb
// Prints "summary: N passed, M failed".
#include <windows.h>
#include <wrl/client.h>
#include <oleauto.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "dx8engine_iface.h"

using Microsoft::WRL::ComPtr;

namespace {

int passed = 0, failed = 0;

void check(bool ok, const std::string& what) {
    ++(ok ? passed : failed);
    std::printf("%s: %s\n", ok ? "ok" : "FAIL", what.c_str());
    std::fflush(stdout);
}

// Calls a member by name through the type library's description, on the object's vtable; a
// failing member's own HRESULT when it raised an exception.
HRESULT invoke(ITypeInfo* type, void* object, const wchar_t* name, WORD flags, VARIANT* args, UINT count,
               VARIANT* result) {
    MEMBERID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = type->GetIDsOfNames(names, 1, &id);
    if (FAILED(hr)) return hr;
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params = {args, flags == DISPATCH_PROPERTYPUT ? &put : nullptr, count,
                         flags == DISPATCH_PROPERTYPUT ? 1u : 0u};
    EXCEPINFO info = {};
    UINT bad = 0;
    hr = type->Invoke(object, id, flags, &params, result, &info, &bad);
    if (hr == DISP_E_EXCEPTION) {
        if (info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
        if (info.scode) hr = info.scode;
    }
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrHelpFile);
    return hr;
}

// The slot the type library gives a member, from its vtable offset.
int slot_of(ITypeInfo* type, const wchar_t* name, INVOKEKIND kind) {
    TYPEATTR* attr = nullptr;
    if (FAILED(type->GetTypeAttr(&attr))) return -1;
    int slot = -1;
    for (WORD i = 0; i < attr->cFuncs; ++i) {
        FUNCDESC* f = nullptr;
        if (FAILED(type->GetFuncDesc(i, &f))) continue;
        BSTR n = nullptr;
        type->GetDocumentation(f->memid, &n, nullptr, nullptr, nullptr);
        if (n && std::wstring(n) == name && f->invkind == kind) slot = f->oVft / static_cast<int>(sizeof(void*));
        SysFreeString(n);
        type->ReleaseFuncDesc(f);
    }
    type->ReleaseTypeAttr(attr);
    return slot;
}

// The vtable interface of a dual interface's description in the library.
bool vtable_type(ITypeLib* lib, REFIID iid, ComPtr<ITypeInfo>& out) {
    ComPtr<ITypeInfo> dispatch;
    if (FAILED(lib->GetTypeInfoOfGuid(iid, dispatch.GetAddressOf()))) return false;
    HREFTYPE ref = 0;
    return SUCCEEDED(dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref)) &&
           SUCCEEDED(dispatch->GetRefTypeInfo(ref, out.GetAddressOf()));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: packaged_client TLB\n");
        return 2;
    }
    CoInitialize(nullptr);
    {
        std::wstring tlb(argv[1], argv[1] + std::strlen(argv[1]));
        ComPtr<ITypeLib> lib;
        check(SUCCEEDED(LoadTypeLibEx(tlb.c_str(), REGKIND_NONE, lib.GetAddressOf())), "the archive's type library loads");
        ComPtr<ITypeInfo> graphics_type, main_type;
        check(lib.Get() && vtable_type(lib.Get(), iface::IID_dxgraphics, graphics_type) &&
                  vtable_type(lib.Get(), iface::IID_dxmain, main_type),
              "the library describes _dxgraphics and _dxmain as dual interfaces");

        // The header's slots are the library's: the comments of the generated header say which.
        check(graphics_type.Get() && slot_of(graphics_type.Get(), L"FrameRate", INVOKE_PROPERTYGET) == 7 &&
                  slot_of(graphics_type.Get(), L"bRunning", INVOKE_PROPERTYPUT) == 14 &&
                  slot_of(graphics_type.Get(), L"FloatToDWord", INVOKE_FUNC) == 21 &&
                  slot_of(graphics_type.Get(), L"engine_render_point_mode", INVOKE_FUNC) == 47,
              "the library's slots are the header's (FrameRate 7, bRunning let 14, FloatToDWord 21, last 47)");

        CLSID clsid;
        ComPtr<iface::_dxgraphics> g;
        ComPtr<iface::_dxmain> m;
        check(SUCCEEDED(CLSIDFromProgID(L"Quellbrook_dx_8engine.dxgraphics", &clsid)) &&
                  IsEqualCLSID(clsid, iface::CLSID_dxgraphics) &&
                  SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iface::IID_dxgraphics, &g)) &&
                  SUCCEEDED(CoCreateInstance(iface::CLSID_dxmain, nullptr, CLSCTX_INPROC_SERVER, iface::IID_dxmain,
                                             &m)),
              "dxgraphics by ProgID and dxmain by the header's CLSID");
        if (!g.Get() || !m.Get() || !graphics_type.Get() || !main_type.Get()) {
            std::printf("summary: %d passed, %d failed\n", passed, failed + 1);
            return 1;
        }

        // A value written through one binding reads back through the other.
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_I4;
        v.lVal = 42;
        check(SUCCEEDED(invoke(graphics_type.Get(), g.Get(), L"FrameRate", DISPATCH_PROPERTYPUT, &v, 1, nullptr)),
              "FrameRate = 42 through the type library");
        LONG rate = 0;
        check(SUCCEEDED(g->get_FrameRate(&rate)) && rate == 42, "get_FrameRate through the header reads 42");
        check(SUCCEEDED(g->put_bRunning(VARIANT_TRUE)), "put_bRunning(True) through the header");
        VARIANT r;
        VariantInit(&r);
        check(SUCCEEDED(invoke(graphics_type.Get(), g.Get(), L"bRunning", DISPATCH_PROPERTYGET, nullptr, 0, &r)) &&
                  r.vt == VT_BOOL && r.boolVal == VARIANT_TRUE,
              "bRunning through the type library reads True");

        // A by-reference parameter both ways: FloatToDWord needs a device, so both report error 91.
        float f = 3.0f;
        LONG bits = 0;
        check(g->FloatToDWord(&f, &bits) == static_cast<HRESULT>(0x800A005B),
              "FloatToDWord through the header before a device: 0x800A005B");
        VARIANT arg;
        VariantInit(&arg);
        arg.vt = VT_R4 | VT_BYREF;
        arg.pfltVal = &f;
        VariantClear(&r);
        check(invoke(graphics_type.Get(), g.Get(), L"FloatToDWord", DISPATCH_METHOD, &arg, 1, &r) ==
                  static_cast<HRESULT>(0x800A005B),
              "FloatToDWord through the type library before a device: 0x800A005B");

        // A failing call: the same HRESULT both ways, the description through IErrorInfo.
        SHORT index = 900;
        HRESULT early = g->model_draw(&index);
        ComPtr<IErrorInfo> info;
        BSTR text = nullptr;
        if (GetErrorInfo(0, info.GetAddressOf()) == S_OK) info->GetDescription(&text);
        check(early == static_cast<HRESULT>(0x800A0009) && text && std::wstring(text) == L"Subscript out of range",
              "model_draw 900 through the header: 0x800A0009, Subscript out of range");
        SysFreeString(text);
        VARIANT at;
        VariantInit(&at);
        at.vt = VT_I2 | VT_BYREF;
        at.piVal = &index;
        check(invoke(graphics_type.Get(), g.Get(), L"model_draw", DISPATCH_METHOD, &at, 1, nullptr) ==
                  static_cast<HRESULT>(0x800A0009),
              "model_draw 900 through the type library: 0x800A0009");

        // The display-mode listing: a Long property and a String result, both ways.
        check(SUCCEEDED(invoke(main_type.Get(), m.Get(), L"initialize", DISPATCH_METHOD, nullptr, 0, nullptr)),
              "dxmain initialize through the type library");
        check(SUCCEEDED(g->engine_get_display_modes()), "engine_get_display_modes through the header");
        VariantClear(&r);
        LONG modes = 0;
        check(SUCCEEDED(invoke(graphics_type.Get(), g.Get(), L"numberofmodes", DISPATCH_PROPERTYGET, nullptr, 0, &r)) &&
                  r.vt == VT_I4 && SUCCEEDED(g->get_numberofmodes(&modes)) && modes == r.lVal && modes > 0,
              "numberofmodes the same both ways, above 0");
        SHORT first = 0;
        BSTR width = nullptr;
        VARIANT number;
        VariantInit(&number);
        number.vt = VT_I2 | VT_BYREF;
        number.piVal = &first;
        VariantClear(&r);
        check(SUCCEEDED(g->engine_show_display_modes_width(&first, &width)) &&
                  SUCCEEDED(invoke(graphics_type.Get(), g.Get(), L"engine_show_display_modes_width", DISPATCH_METHOD, &number, 1,
                                   &r)) &&
                  r.vt == VT_BSTR && width && std::wstring(width) == r.bstrVal,
              "the first mode's width the same both ways");
        SysFreeString(width);
        VariantClear(&r);
        check(SUCCEEDED(m->engine_unload()), "dxmain engine_unload through the header");
    }
    CoUninitialize();
    std::printf("summary: %d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
