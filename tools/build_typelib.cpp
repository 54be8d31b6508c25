// Writes the engine's type library from the generated member tables, through the platform's
// own ICreateTypeLib2 / ICreateTypeInfo2. Runs under Wine during the cross build; the result
// is embedded in the DLL as resource TYPELIB 1. The target system is an argument, so one
// 64-bit build of this tool writes the library of either DLL: the runtime lays out vtable
// offsets for the pointer size of the system it is given.
//
//   build_typelib win32|win64 OUTPUT.tlb
#include <windows.h>
#include <oaidl.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <cstdio>
#include <string>
#include <vector>

#include "dx8engine_iface.h"

using Microsoft::WRL::ComPtr;

namespace {

const GUID stdole_libid = {0x00020430, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct failure {
    HRESULT hr;
    const char* what;
};

void check(HRESULT hr, const char* what) {
    if (FAILED(hr)) throw failure{hr, what};
}

// Owns the type descriptions and defaults that one FUNCDESC points into.
struct func_builder {
    std::vector<TYPEDESC> pointees;
    std::vector<ELEMDESC> params;
    std::vector<PARAMDESCEX> defaults;
    std::vector<const wchar_t*> names;

    explicit func_builder(size_t count) {
        pointees.reserve(count);
        params.reserve(count);
        defaults.reserve(count);
    }
    ~func_builder() {
        for (auto& d : defaults) VariantClear(&d.varDefaultValue);
    }

    void add(VARTYPE vt, bool by_ref, USHORT flags, const com::param_desc* p) {
        ELEMDESC e{};
        if (by_ref) {
            pointees.push_back(TYPEDESC{});
            pointees.back().vt = vt;
            e.tdesc.vt = VT_PTR;
            e.tdesc.lptdesc = &pointees.back();
        } else {
            e.tdesc.vt = vt;
        }
        e.paramdesc.wParamFlags = flags;
        if (p && p->has_default) {
            defaults.push_back(PARAMDESCEX{});
            auto& d = defaults.back();
            d.cBytes = sizeof(PARAMDESCEX);
            VariantInit(&d.varDefaultValue);
            V_VT(&d.varDefaultValue) = vt;
            switch (vt) {
            case VT_I4: V_I4(&d.varDefaultValue) = static_cast<LONG>(p->number); break;
            case VT_I2: V_I2(&d.varDefaultValue) = static_cast<SHORT>(p->number); break;
            case VT_BOOL: V_BOOL(&d.varDefaultValue) = p->number != 0 ? VARIANT_TRUE : VARIANT_FALSE; break;
            case VT_R4: V_R4(&d.varDefaultValue) = static_cast<float>(p->number); break;
            case VT_BSTR: V_BSTR(&d.varDefaultValue) = SysAllocString(p->text); break;
            }
            e.paramdesc.wParamFlags |= PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT;
            e.paramdesc.pparamdescex = &d;
        }
        params.push_back(e);
    }
};

// Vtable offsets are given in the target system's pointer size: the runtime stores them as
// they are given, whatever the size of the process that writes them.
void add_interface_members(ICreateTypeInfo* cti, const com::interface_desc& d, int pointer_size) {
    for (short i = 0; i < d.member_count; ++i) {
        const auto& m = d.members[i];
        func_builder b(m.param_count + 1);
        b.names.push_back(m.name);
        if (m.kind == INVOKE_PROPERTYGET) {
            b.add(m.result, true, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL, nullptr);
            b.names.push_back(m.name);
        } else if (m.kind == INVOKE_PROPERTYPUT) {
            b.add(m.params[0].vt, false, PARAMFLAG_FIN, nullptr);
        } else {
            for (short k = 0; k < m.param_count; ++k) {
                const auto& p = m.params[k];
                b.add(p.vt, true, PARAMFLAG_FIN | PARAMFLAG_FOUT, &p);
                b.names.push_back(p.name);
            }
            if (m.result != VT_EMPTY) b.add(m.result, true, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL, nullptr);
        }
        FUNCDESC f{};
        f.memid = m.dispid;
        f.funckind = d.dual ? FUNC_PUREVIRTUAL : FUNC_DISPATCH;
        f.invkind = m.kind;
        f.callconv = CC_STDCALL;
        f.cParams = static_cast<SHORT>(b.params.size());
        f.cParamsOpt = 0;
        f.oVft = d.dual ? static_cast<SHORT>(m.slot * pointer_size) : 0;
        f.elemdescFunc.tdesc.vt = d.dual ? VT_HRESULT : VT_VOID;
        f.lprgelemdescParam = b.params.data();
        f.wFuncFlags = 0;
        check(cti->AddFuncDesc(i, &f), "AddFuncDesc");
        check(cti->SetFuncAndParamNames(i, const_cast<LPOLESTR*>(b.names.data()), static_cast<UINT>(b.names.size())),
              "SetFuncAndParamNames");
    }
}

ComPtr<ITypeInfo> registered_idispatch() {
    ComPtr<ITypeLib> stdole;
    check(LoadRegTypeLib(stdole_libid, 2, 0, 0, &stdole), "LoadRegTypeLib(stdole2)");
    ComPtr<ITypeInfo> idispatch;
    check(stdole->GetTypeInfoOfGuid(IID_IDispatch, &idispatch), "GetTypeInfoOfGuid(IDispatch)");
    return idispatch;
}

// IDispatch as a library of the target system describes it. The runtime sizes a derived
// interface's vtable from its base's size as the writing process reads it, so a 32-bit
// library written by a 64-bit process would start its own slots after a 56-byte IDispatch.
// This stand-in carries stdole2's identity and file name, so the library written still
// imports the real IDispatch from stdole2. It is saved to a scratch folder and loaded back:
// the runtime lays out against a base read from a file, not against one still being built.
ComPtr<ITypeInfo> idispatch_for(SYSKIND sys) {
    const int pointer_size = sys == SYS_WIN32 ? 4 : 8;
    wchar_t temp[MAX_PATH];
    DWORD n = GetTempPathW(MAX_PATH, temp);
    if (n == 0 || n > MAX_PATH - 40) throw failure{E_FAIL, "GetTempPath"};
    std::wstring dir = std::wstring(temp) + L"dx8engine-typelib-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(dir.c_str(), nullptr);
    std::wstring path = dir + L"\\stdole2.tlb";
    {
        ComPtr<ICreateTypeLib2> lib;
        check(CreateTypeLib2(sys, path.c_str(), &lib), "CreateTypeLib2(stdole2)");
        check(lib->SetName(const_cast<LPOLESTR>(L"stdole")), "SetName(stdole)");
        check(lib->SetGuid(stdole_libid), "SetGuid(stdole)");
        check(lib->SetVersion(2, 0), "SetVersion(stdole)");
        ComPtr<ICreateTypeInfo> cti;
        check(lib->CreateTypeInfo(const_cast<LPOLESTR>(L"IDispatch"), TKIND_INTERFACE, &cti),
              "CreateTypeInfo(IDispatch)");
        check(cti->SetGuid(IID_IDispatch), "SetGuid(IDispatch)");
        const wchar_t* methods[] = {L"QueryInterface", L"AddRef", L"Release", L"GetTypeInfoCount",
                                    L"GetTypeInfo", L"GetIDsOfNames", L"Invoke"};
        for (UINT i = 0; i < 7; ++i) {
            FUNCDESC f{};
            f.memid = static_cast<MEMBERID>(0x60000000 + i);
            f.funckind = FUNC_PUREVIRTUAL;
            f.invkind = INVOKE_FUNC;
            f.callconv = CC_STDCALL;
            f.oVft = static_cast<SHORT>(i * pointer_size);
            f.elemdescFunc.tdesc.vt = VT_HRESULT;
            check(cti->AddFuncDesc(i, &f), "AddFuncDesc(IDispatch)");
            check(cti->SetFuncAndParamNames(i, const_cast<LPOLESTR*>(&methods[i]), 1),
                  "SetFuncAndParamNames(IDispatch)");
        }
        check(cti->LayOut(), "LayOut(IDispatch)");
        check(lib->SaveAllChanges(), "SaveAllChanges(stdole2)");
    }
    ComPtr<ITypeLib> stdole;
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &stdole);
    DeleteFileW(path.c_str());
    RemoveDirectoryW(dir.c_str());
    check(hr, "LoadTypeLibEx(stdole2)");
    ComPtr<ITypeInfo> idispatch;
    check(stdole->GetTypeInfoOfGuid(IID_IDispatch, &idispatch), "GetTypeInfoOfGuid(IDispatch)");
    return idispatch;
}

void build(SYSKIND sys, const wchar_t* path) {
    const auto& lib = iface::library;
    ComPtr<ICreateTypeLib2> ctl;
    check(CreateTypeLib2(sys, path, &ctl), "CreateTypeLib2");
    check(ctl->SetName(const_cast<LPOLESTR>(lib.name)), "SetName");
    check(ctl->SetGuid(lib.libid), "SetGuid");
    check(ctl->SetVersion(lib.major, lib.minor), "SetVersion");
    check(ctl->SetLcid(0), "SetLcid");
    check(ctl->SetLibFlags(0), "SetLibFlags");

    const int pointer_size = sys == SYS_WIN32 ? 4 : 8;
    ComPtr<ITypeInfo> idispatch = pointer_size == sizeof(void*) ? registered_idispatch() : idispatch_for(sys);

    // Create every type description first, in library order, so that classes can refer to
    // interfaces that come after them.
    std::vector<ComPtr<ICreateTypeInfo>> infos(lib.type_count);
    for (short i = 0; i < lib.type_count; ++i) {
        const auto& t = lib.types[i];
        TYPEKIND kind = t.coclass ? TKIND_COCLASS : (t.iface->dual ? TKIND_INTERFACE : TKIND_DISPATCH);
        const wchar_t* name = t.coclass ? t.coclass->name : t.iface->name;
        check(ctl->CreateTypeInfo(const_cast<LPOLESTR>(name), kind, &infos[i]), "CreateTypeInfo");
    }
    auto info_of = [&](const com::interface_desc* d) -> ComPtr<ITypeInfo> {
        for (short i = 0; i < lib.type_count; ++i)
            if (lib.types[i].iface == d) {
                ComPtr<ITypeInfo> ti;
                check(infos[i].As(&ti), "QueryInterface(ITypeInfo)");
                return ti;
            }
        throw failure{E_FAIL, "unknown interface"};
    };

    for (short i = 0; i < lib.type_count; ++i) {
        const auto& t = lib.types[i];
        ICreateTypeInfo* cti = infos[i].Get();
        check(cti->SetVersion(1, 0), "SetVersion");
        HREFTYPE ref = 0;
        if (t.coclass) {
            check(cti->SetGuid(t.coclass->clsid), "SetGuid");
            check(cti->AddRefTypeInfo(info_of(t.coclass->default_interface).Get(), &ref), "AddRefTypeInfo");
            check(cti->AddImplType(0, ref), "AddImplType");
            check(cti->SetImplTypeFlags(0, IMPLTYPEFLAG_FDEFAULT), "SetImplTypeFlags");
            if (t.coclass->source) {
                check(cti->AddRefTypeInfo(info_of(t.coclass->source).Get(), &ref), "AddRefTypeInfo");
                check(cti->AddImplType(1, ref), "AddImplType");
                check(cti->SetImplTypeFlags(1, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE), "SetImplTypeFlags");
            }
            // Set last: set before the implemented interfaces, the runtime adds dispatchable.
            check(cti->SetTypeFlags(TYPEFLAG_FCANCREATE), "SetTypeFlags");
        } else {
            check(cti->SetGuid(t.iface->iid), "SetGuid");
            UINT flags = TYPEFLAG_FHIDDEN | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FDISPATCHABLE;
            if (t.iface->dual) flags |= TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION;
            check(cti->SetTypeFlags(flags), "SetTypeFlags");
            check(cti->AddRefTypeInfo(idispatch.Get(), &ref), "AddRefTypeInfo(IDispatch)");
            check(cti->AddImplType(0, ref), "AddImplType(IDispatch)");
            add_interface_members(cti, *t.iface, pointer_size);
        }
    }
    for (auto& cti : infos) check(cti->LayOut(), "LayOut");
    check(ctl->SaveAllChanges(), "SaveAllChanges");
}

}  // namespace

int main(int argc, char** argv) {
    const std::string target = argc == 3 ? argv[1] : "";
    if (target != "win32" && target != "win64") {
        std::fprintf(stderr, "usage: build_typelib win32|win64 OUTPUT.tlb\n");
        return 2;
    }
    const SYSKIND sys = target == "win32" ? SYS_WIN32 : SYS_WIN64;
    std::wstring path(argv[2], argv[2] + std::char_traits<char>::length(argv[2]));
    CoInitialize(nullptr);
    int rc = 0;
    try {
        build(sys, path.c_str());
    } catch (const failure& f) {
        std::fprintf(stderr, "build_typelib: %s failed with 0x%08lX\n", f.what, static_cast<unsigned long>(f.hr));
        rc = 1;
    }
    CoUninitialize();
    return rc;
}
