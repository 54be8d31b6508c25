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

void add_interface_members(ICreateTypeInfo* cti, const com::interface_desc& d) {
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
        f.oVft = d.dual ? static_cast<SHORT>(m.slot * sizeof(void*)) : 0;
        f.elemdescFunc.tdesc.vt = d.dual ? VT_HRESULT : VT_VOID;
        f.lprgelemdescParam = b.params.data();
        f.wFuncFlags = 0;
        check(cti->AddFuncDesc(i, &f), "AddFuncDesc");
        check(cti->SetFuncAndParamNames(i, const_cast<LPOLESTR*>(b.names.data()), static_cast<UINT>(b.names.size())),
              "SetFuncAndParamNames");
    }
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

    ComPtr<ITypeLib> stdole;
    check(LoadRegTypeLib(stdole_libid, 2, 0, 0, &stdole), "LoadRegTypeLib(stdole2)");
    ComPtr<ITypeInfo> idispatch;
    check(stdole->GetTypeInfoOfGuid(IID_IDispatch, &idispatch), "GetTypeInfoOfGuid(IDispatch)");

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
            add_interface_members(cti, *t.iface);
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
