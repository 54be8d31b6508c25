// A client that uses the engine without registering it: the program carries an application
// manifest that depends on the engine's assembly, and the engine's DLL and assembly manifest
// lie beside the program. It checks first that the registry knows nothing of the engine, then
// creates the three classes by ProgID and by CLSID and calls them late (IDispatch by name) and
// early (the dual interfaces' vtables). Built against the packaged header, as a user of the
// archive builds. Prints "summary: N passed, M failed".
//
// What the system's activation contexts do not serve is printed as a line starting with
// "not served by the activation context:" and is not counted as a failure, so that the run
// shows exactly which lookups a system lacks.
#include <windows.h>
#include <wrl/client.h>
#include <oleauto.h>

#include <cstdio>
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

void not_served(const std::string& what, HRESULT hr) {
    std::printf("not served by the activation context: %s (0x%08lX)\n", what.c_str(), static_cast<unsigned long>(hr));
    std::fflush(stdout);
}

std::string narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

std::wstring text_of(REFGUID g) {
    wchar_t t[40];
    StringFromGUID2(g, t, 40);
    return t;
}

struct engine_class {
    const wchar_t* name;
    CLSID clsid;
    IID iid;
};

const engine_class classes[] = {
    {L"dxmain", iface::CLSID_dxmain, iface::IID_dxmain},
    {L"dxgraphics", iface::CLSID_dxgraphics, iface::IID_dxgraphics},
    {L"dxinput", iface::CLSID_dxinput, iface::IID_dxinput},
};

// Whether HKEY_CLASSES_ROOT has the key (the merged machine and user classes).
bool registry_has(const std::wstring& key) {
    HKEY k = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
    RegCloseKey(k);
    return true;
}

// Reads a property by name through IDispatch.
HRESULT get_by_name(IDispatch* d, const wchar_t* name, VARIANT* out) {
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = d->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) return hr;
    DISPPARAMS none = {};
    return d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, out, nullptr, nullptr);
}

// Assigns a property by name through IDispatch.
HRESULT put_by_name(IDispatch* d, const wchar_t* name, VARIANT value) {
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = d->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) return hr;
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS args = {&value, &put, 1, 1};
    return d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &args, nullptr, nullptr, nullptr);
}

// Calls a method by DISPID with one argument; the HRESULT of the automation error it raised,
// or of the call itself, and the error's description.
HRESULT invoke_error(IDispatch* d, DISPID id, VARIANT arg, std::wstring* description = nullptr) {
    DISPPARAMS args = {&arg, nullptr, 1, 0};
    EXCEPINFO info = {};
    VARIANT result;
    VariantInit(&result);
    HRESULT hr = d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &args, &result, &info, nullptr);
    VariantClear(&result);
    if (hr == DISP_E_EXCEPTION) {
        if (info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
        hr = info.scode ? info.scode : static_cast<HRESULT>(0x800A0000 | info.wCode);
        if (description && info.bstrDescription) *description = info.bstrDescription;
    }
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrHelpFile);
    return hr;
}

void nothing_registered() {
    for (const auto& c : classes) {
        const std::wstring progid = std::wstring(L"Quellbrook_dx_8engine.") + c.name;
        check(!registry_has(L"CLSID\\" + text_of(c.clsid)) && !registry_has(progid),
              "the registry knows nothing of " + narrow(c.name));
    }
    check(!registry_has(L"TypeLib\\" + text_of(iface::LIBID_Quellbrook_dx_8engine)),
          "the registry knows nothing of the type library");
}

// Every class by ProgID. The activation context answers CLSIDFromProgID with an alias of the
// class's CLSID that it makes up itself (Windows does the same), so the check is that the
// answer creates the class, and that the way back, ProgIDFromCLSID, names the ProgID.
void create_by_progid() {
    for (const auto& c : classes) {
        const std::wstring progid = std::wstring(L"Quellbrook_dx_8engine.") + c.name;
        CLSID clsid = {};
        HRESULT hr = CLSIDFromProgID(progid.c_str(), &clsid);
        if (FAILED(hr)) {
            not_served("CLSIDFromProgID " + narrow(progid), hr);
            continue;
        }
        if (!IsEqualCLSID(clsid, c.clsid))
            std::printf("note: CLSIDFromProgID %s gives %s, an alias of %s\n", narrow(progid).c_str(),
                        narrow(text_of(clsid)).c_str(), narrow(text_of(c.clsid)).c_str());
        ComPtr<IDispatch> object;
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, c.iid, &object);
        check(SUCCEEDED(hr) && object.Get(), "CLSIDFromProgID " + narrow(progid) + " gives a CLSID that creates the class");
        LPOLESTR back = nullptr;
        hr = ProgIDFromCLSID(c.clsid, &back);
        if (FAILED(hr))
            not_served("ProgIDFromCLSID " + narrow(text_of(c.clsid)), hr);
        else
            check(back && progid == back, "ProgIDFromCLSID of " + narrow(c.name) + "'s CLSID names " + narrow(progid));
        CoTaskMemFree(back);
    }
}

// Every class by CLSID, asked for its own dual interface, which is also its IDispatch.
void create_by_clsid() {
    for (const auto& c : classes) {
        ComPtr<IDispatch> object;
        HRESULT hr = CoCreateInstance(c.clsid, nullptr, CLSCTX_INPROC_SERVER, c.iid, &object);
        check(SUCCEEDED(hr) && object.Get(), "CoCreateInstance of " + narrow(c.name) + " by CLSID, its own interface");
        if (!object.Get()) continue;
        ComPtr<IDispatch> dispatch;
        check(SUCCEEDED(object->QueryInterface(IID_IDispatch, &dispatch)), narrow(c.name) + " answers IDispatch");
    }
    ComPtr<IUnknown> none;
    CLSID unknown = iface::LIBID_Quellbrook_dx_8engine;  // a GUID that names no class
    check(CoCreateInstance(unknown, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &none) == REGDB_E_CLASSNOTREG,
          "a GUID that is no class of the engine is not a class");
}

// Late binding: properties by name, a method by name with an argument by value, a failing call.
void late_binding() {
    ComPtr<IDispatch> g;
    if (FAILED(CoCreateInstance(iface::CLSID_dxgraphics, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, &g))) {
        check(false, "dxgraphics for late binding");
        return;
    }
    VARIANT v;
    VariantInit(&v);
    check(SUCCEEDED(get_by_name(g.Get(), L"bRunning", &v)) && v.vt == VT_BOOL && v.boolVal == VARIANT_FALSE,
          "bRunning by name starts False");
    VARIANT t;
    VariantInit(&t);
    t.vt = VT_BOOL;
    t.boolVal = VARIANT_TRUE;
    check(SUCCEEDED(put_by_name(g.Get(), L"bRunning", t)), "bRunning = True by name");
    VariantClear(&v);
    check(SUCCEEDED(get_by_name(g.Get(), L"BRUNNING", &v)) && v.vt == VT_BOOL && v.boolVal == VARIANT_TRUE,
          "bRunning reads back True, its name in any case");

    VARIANT rate;
    VariantInit(&rate);
    rate.vt = VT_I4;
    rate.lVal = 75;
    check(SUCCEEDED(put_by_name(g.Get(), L"FrameRate", rate)), "FrameRate = 75 by name");
    VariantClear(&v);
    check(SUCCEEDED(get_by_name(g.Get(), L"FrameRate", &v)) && v.vt == VT_I4 && v.lVal == 75, "FrameRate reads back 75");

    // FloatToDWord by name, with the Double a script passes: converted to the Single parameter,
    // it reaches the engine, which needs a device for it and says so (error 91, not 13).
    DISPID id = 0;
    LPOLESTR name[] = {const_cast<LPOLESTR>(L"FloatToDWord")};
    check(SUCCEEDED(g->GetIDsOfNames(IID_NULL, name, 1, LOCALE_USER_DEFAULT, &id)) && id == 0x60030000,
          "FloatToDWord has its DISPID");
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_R8;
    arg.dblVal = 1.0;
    check(invoke_error(g.Get(), id, arg) == static_cast<HRESULT>(0x800A005B), "FloatToDWord(1.0) by name before a device: error 91");

    // model_draw of a slot past the table: an automation error with its number and text.
    LPOLESTR draw[] = {const_cast<LPOLESTR>(L"model_draw")};
    check(SUCCEEDED(g->GetIDsOfNames(IID_NULL, draw, 1, LOCALE_USER_DEFAULT, &id)), "model_draw by name");
    VARIANT index;
    VariantInit(&index);
    index.vt = VT_I4;
    index.lVal = 900;
    std::wstring description;
    check(invoke_error(g.Get(), id, index, &description) == static_cast<HRESULT>(0x800A0009) && description == L"Subscript out of range",
          "model_draw 900 by name: error 9, Subscript out of range");

    // The object describes itself from the type library inside the DLL.
    ComPtr<ITypeInfo> type;
    HRESULT hr = g->GetTypeInfo(0, LOCALE_USER_DEFAULT, type.GetAddressOf());
    BSTR type_name = nullptr;
    check(SUCCEEDED(hr) && SUCCEEDED(type->GetDocumentation(MEMBERID_NIL, &type_name, nullptr, nullptr, nullptr)) &&
              type_name && std::wstring(type_name) == L"_dxgraphics",
          "GetTypeInfo describes _dxgraphics");
    SysFreeString(type_name);
}

// Early binding: the same members through the vtables of the packaged header.
void early_binding() {
    ComPtr<iface::_dxgraphics> g;
    ComPtr<iface::_dxmain> m;
    ComPtr<iface::_dxinput> k;
    check(SUCCEEDED(CoCreateInstance(iface::CLSID_dxgraphics, nullptr, CLSCTX_INPROC_SERVER, iface::IID_dxgraphics,
                                     &g)) &&
              SUCCEEDED(CoCreateInstance(iface::CLSID_dxmain, nullptr, CLSCTX_INPROC_SERVER, iface::IID_dxmain,
                                         &m)) &&
              SUCCEEDED(CoCreateInstance(iface::CLSID_dxinput, nullptr, CLSCTX_INPROC_SERVER, iface::IID_dxinput,
                                         &k)),
          "the three dual interfaces");
    if (!g.Get() || !m.Get() || !k.Get()) return;
    VARIANT_BOOL running = VARIANT_TRUE;
    check(SUCCEEDED(g->get_bRunning(&running)) && running == VARIANT_FALSE, "get_bRunning of a new object: False");
    check(SUCCEEDED(g->put_bRunning(VARIANT_TRUE)) && SUCCEEDED(g->get_bRunning(&running)) && running == VARIANT_TRUE,
          "put_bRunning then get_bRunning: True");
    LONG rate = -1;
    check(SUCCEEDED(g->get_FrameRate(&rate)) && rate == 0, "get_FrameRate of a new object: 0");
    float f = -2.5f;
    LONG bits = 0;
    check(g->FloatToDWord(&f, &bits) == static_cast<HRESULT>(0x800A005B),
          "FloatToDWord through the vtable before a device: error 91");
    check(SUCCEEDED(m->initialize()), "dxmain initialize creates the DirectX root objects");
    check(SUCCEEDED(g->engine_get_display_modes()), "engine_get_display_modes");
    LONG modes = 0;
    check(SUCCEEDED(g->get_numberofmodes(&modes)) && modes > 0, "numberofmodes after the listing is above 0");
    SHORT first = 0;
    BSTR width = nullptr;
    check(SUCCEEDED(g->engine_show_display_modes_width(&first, &width)) && width && SysStringLen(width) > 0,
          "the first mode's width as text");
    SysFreeString(width);
    check(k->capturekey() != S_OK, "capturekey before engine_initialize fails");
    check(SUCCEEDED(m->engine_unload()), "dxmain engine_unload");
}

// The type library through the activation context: what LoadRegTypeLib finds without a registry.
void type_library() {
    ComPtr<ITypeLib> lib;
    HRESULT hr = LoadRegTypeLib(iface::LIBID_Quellbrook_dx_8engine, 67, 0, LOCALE_NEUTRAL, lib.GetAddressOf());
    if (FAILED(hr)) {
        not_served("LoadRegTypeLib of the engine's library", hr);
        return;
    }
    ComPtr<ITypeInfo> info;
    check(SUCCEEDED(lib->GetTypeInfoOfGuid(iface::CLSID_dxinput, info.GetAddressOf())),
          "LoadRegTypeLib finds the library, and dxinput in it");
}

}  // namespace

int main() {
    HRESULT hr = CoInitialize(nullptr);
    if (FAILED(hr)) {
        std::printf("CoInitialize failed: 0x%08lX\n", static_cast<unsigned long>(hr));
        return 1;
    }
    nothing_registered();
    create_by_progid();
    create_by_clsid();
    late_binding();
    early_binding();
    type_library();
    CoUninitialize();
    std::printf("summary: %d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
