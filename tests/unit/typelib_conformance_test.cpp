// The type library embedded in the built DLL, attribute by attribute, against the
// hand-written list of the public interface.
#include <gtest/gtest.h>

#include "helpers.h"
#include "public_interface.h"

namespace {

// The library's own GUIDs: registered clients bind to them, so they must never change.
const GUID libid = {0x8DA21A9B, 0x1DEC, 0x4FFA, {0x9F, 0x4C, 0x6B, 0x9A, 0x87, 0xF6, 0x90, 0x4B}};
const GUID iid_dxgraphics = {0xF47709CE, 0xF373, 0x478A, {0x96, 0xAA, 0x78, 0x20, 0x4C, 0x0D, 0xAF, 0x86}};
const GUID clsid_dxgraphics = {0x33E0EF11, 0xC8C8, 0x4288, {0xB2, 0xD1, 0x55, 0x5D, 0xFE, 0x67, 0x31, 0x84}};
const GUID iid_dxinput = {0x41BC419B, 0xFE83, 0x4D28, {0xA5, 0x32, 0xC0, 0x05, 0xBF, 0x39, 0x68, 0xB5}};
const GUID clsid_dxinput = {0xD5C23875, 0x4209, 0x4578, {0x88, 0x99, 0x3A, 0x69, 0xC3, 0x84, 0x29, 0x4E}};
const GUID iid_dxmain = {0x868FB7F4, 0xAA04, 0x497C, {0x87, 0x7D, 0x83, 0xA9, 0xDF, 0x27, 0x41, 0xA3}};
const GUID clsid_dxmain = {0x0BD31CDD, 0xF89D, 0x473E, {0xA0, 0x43, 0x7A, 0xF7, 0x8D, 0xBF, 0x65, 0xD9}};
const GUID diid_events = {0xBE70E162, 0x1602, 0x45DB, {0x99, 0x1D, 0x91, 0xE4, 0xFA, 0x8F, 0xE0, 0x96}};
const GUID iid_dxmodels = {0xD7F32969, 0xF23C, 0x4782, {0xBB, 0xAA, 0x0B, 0xC5, 0xBC, 0xE5, 0x21, 0x2D}};
const GUID clsid_dxmodels = {0x9CC9A4BB, 0x360C, 0x4F12, {0x98, 0xE6, 0xE3, 0x72, 0xB9, 0x11, 0x71, 0xA1}};
const GUID stdole = {0x00020430, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// The library under test: by default the one in the DLL of this program's own architecture.
// TYPELIB_DLL names another DLL and TYPELIB_SYSTEM ("win32" or "win64") the system it was
// built for, so that a 64-bit run checks the 32-bit DLL's library too, on machines where no
// 32-bit program can run.
std::wstring library_path() {
    wchar_t path[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"TYPELIB_DLL", path, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(path, n) : engine_dll_path();
}

bool library_is_32_bit() {
    wchar_t system[8];
    DWORD n = GetEnvironmentVariableW(L"TYPELIB_SYSTEM", system, 8);
    if (n > 0 && n < 8) return std::wstring(system, n) == L"win32";
    return sizeof(void*) == 4;
}

const int pointer_size = library_is_32_bit() ? 4 : 8;

constexpr WORD dual_flags = TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FOLEAUTOMATION |
                            TYPEFLAG_FDISPATCHABLE;
constexpr WORD event_flags = TYPEFLAG_FHIDDEN | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FDISPATCHABLE;

class TypeLibrary : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, LoadTypeLibEx(library_path().c_str(), REGKIND_NONE, &lib));
    }

    ComPtr<ITypeInfo> info(UINT index) {
        ComPtr<ITypeInfo> ti;
        EXPECT_EQ(S_OK, lib->GetTypeInfo(index, &ti));
        return ti;
    }

    static std::wstring name_of(ITypeInfo* ti, MEMBERID id = MEMBERID_NIL) {
        bstr name;
        ti->GetDocumentation(id, name.out(), nullptr, nullptr, nullptr);
        return name.str();
    }

    // The vtable view of a dual interface.
    static ComPtr<ITypeInfo> vtable_view(ITypeInfo* dispatch_view) {
        HREFTYPE ref = 0;
        ComPtr<ITypeInfo> ti;
        EXPECT_EQ(S_OK, dispatch_view->GetRefTypeOfImplType(-1, &ref));
        EXPECT_EQ(S_OK, dispatch_view->GetRefTypeInfo(ref, &ti));
        return ti;
    }

    static void expect_param(const ELEMDESC& e, const expected::param& p, bool by_ref, USHORT flags,
                             const std::wstring& where) {
        SCOPED_TRACE(where);
        if (by_ref) {
            ASSERT_EQ(VT_PTR, e.tdesc.vt);
            EXPECT_EQ(p.vt, e.tdesc.lptdesc->vt);
        } else {
            EXPECT_EQ(p.vt, e.tdesc.vt);
        }
        USHORT want = flags | (p.optional ? PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT : 0);
        EXPECT_EQ(want, e.paramdesc.wParamFlags);
        if (!p.optional) return;
        ASSERT_NE(nullptr, e.paramdesc.pparamdescex);
        const VARIANT& d = e.paramdesc.pparamdescex->varDefaultValue;
        ASSERT_EQ(p.vt, V_VT(&d));
        switch (p.vt) {
        case VT_I2: EXPECT_EQ(p.number, V_I2(&d)); break;
        case VT_I4: EXPECT_EQ(p.number, V_I4(&d)); break;
        case VT_R4: EXPECT_EQ(p.number, V_R4(&d)); break;
        case VT_BOOL: EXPECT_EQ(p.number != 0 ? VARIANT_TRUE : VARIANT_FALSE, V_BOOL(&d)); break;
        case VT_BSTR: EXPECT_STREQ(p.text, V_BSTR(&d)); break;
        default: ADD_FAILURE() << "unexpected default type";
        }
    }

    void expect_dual(UINT index, const wchar_t* name, const GUID& iid, const std::vector<expected::member>& members,
                     int slots) {
        auto ti = info(index);
        TYPEATTR* a = nullptr;
        ASSERT_EQ(S_OK, ti->GetTypeAttr(&a));
        EXPECT_EQ(name, name_of(ti.Get()));
        EXPECT_EQ(iid, a->guid);
        EXPECT_EQ(TKIND_DISPATCH, a->typekind);
        EXPECT_EQ(dual_flags, a->wTypeFlags | TYPEFLAG_FOLEAUTOMATION);
        EXPECT_EQ(1, a->wMajorVerNum);
        EXPECT_EQ(0, a->wMinorVerNum);
        ti->ReleaseTypeAttr(a);

        auto vt = vtable_view(ti.Get());
        ASSERT_EQ(S_OK, vt->GetTypeAttr(&a));
        EXPECT_EQ(TKIND_INTERFACE, a->typekind);
        EXPECT_EQ(dual_flags, a->wTypeFlags);
        EXPECT_EQ(members.size(), a->cFuncs);
        EXPECT_EQ(slots * pointer_size, a->cbSizeVft);
        WORD funcs = a->cFuncs;
        vt->ReleaseTypeAttr(a);

        // The interface derives from IDispatch, imported from stdole2.
        HREFTYPE ref = 0;
        ComPtr<ITypeInfo> base;
        ASSERT_EQ(S_OK, vt->GetRefTypeOfImplType(0, &ref));
        ASSERT_EQ(S_OK, vt->GetRefTypeInfo(ref, &base));
        EXPECT_EQ(L"IDispatch", name_of(base.Get()));
        ComPtr<ITypeLib> container;
        UINT at = 0;
        ASSERT_EQ(S_OK, base->GetContainingTypeLib(&container, &at));
        TLIBATTR* la = nullptr;
        ASSERT_EQ(S_OK, container->GetLibAttr(&la));
        EXPECT_EQ(stdole, la->guid);
        EXPECT_EQ(2, la->wMajorVerNum);
        container->ReleaseTLibAttr(la);

        for (WORD i = 0; i < funcs && i < members.size(); ++i) {
            const auto& m = members[i];
            SCOPED_TRACE(m.name);
            FUNCDESC* f = nullptr;
            ASSERT_EQ(S_OK, vt->GetFuncDesc(i, &f));
            EXPECT_EQ(m.dispid, f->memid);
            // The runtime gives offsets in the reading process's pointer size, scaled from the
            // library's by its system (checked above); the vtable's size it gives as stored.
            EXPECT_EQ(m.slot * static_cast<int>(sizeof(void*)), f->oVft);
            EXPECT_EQ(FUNC_PUREVIRTUAL, f->funckind);
            EXPECT_EQ(CC_STDCALL, f->callconv);
            EXPECT_EQ(0, f->cParamsOpt);
            EXPECT_EQ(0, f->wFuncFlags);
            EXPECT_EQ(VT_HRESULT, f->elemdescFunc.tdesc.vt);
            EXPECT_EQ(name_of(vt.Get(), f->memid), m.name);
            switch (m.how) {
            case expected::kind::get:
                EXPECT_EQ(INVOKE_PROPERTYGET, f->invkind);
                ASSERT_EQ(1, f->cParams);
                expect_param(f->lprgelemdescParam[0], {m.name, m.result}, true, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL,
                             L"value");
                break;
            case expected::kind::let:
                EXPECT_EQ(INVOKE_PROPERTYPUT, f->invkind);
                ASSERT_EQ(1, f->cParams);
                expect_param(f->lprgelemdescParam[0], m.params[0], false, PARAMFLAG_FIN, L"value");
                break;
            case expected::kind::method: {
                EXPECT_EQ(INVOKE_FUNC, f->invkind);
                size_t count = m.params.size() + (m.result != VT_EMPTY ? 1 : 0);
                ASSERT_EQ(count, static_cast<size_t>(f->cParams));
                for (size_t k = 0; k < m.params.size(); ++k)
                    expect_param(f->lprgelemdescParam[k], m.params[k], true, PARAMFLAG_FIN | PARAMFLAG_FOUT,
                                 m.params[k].name);
                if (m.result != VT_EMPTY)
                    expect_param(f->lprgelemdescParam[count - 1], {L"", m.result}, true,
                                 PARAMFLAG_FOUT | PARAMFLAG_FRETVAL, L"result");
                break;
            }
            }
            vt->ReleaseFuncDesc(f);
            // Parameter names, in order; a get names its value after the property.
            if (m.how != expected::kind::let) {
                BSTR names[20] = {};
                UINT got = 0;
                ASSERT_EQ(S_OK, vt->GetNames(m.dispid, names, 20, &got));
                std::vector<std::wstring> want{m.name};
                if (m.how == expected::kind::get) want.push_back(m.name);
                for (const auto& p : m.params) want.push_back(p.name);
                std::vector<std::wstring> have;
                for (UINT k = 0; k < got; ++k) {
                    have.push_back(names[k] ? names[k] : L"");
                    SysFreeString(names[k]);
                }
                EXPECT_EQ(want, have);
            }
        }
    }

    void expect_coclass(UINT index, const wchar_t* name, const GUID& clsid, const wchar_t* iface,
                        const wchar_t* source) {
        auto ti = info(index);
        TYPEATTR* a = nullptr;
        ASSERT_EQ(S_OK, ti->GetTypeAttr(&a));
        EXPECT_EQ(name, name_of(ti.Get()));
        EXPECT_EQ(clsid, a->guid);
        EXPECT_EQ(TKIND_COCLASS, a->typekind);
        EXPECT_EQ(TYPEFLAG_FCANCREATE, a->wTypeFlags);
        EXPECT_EQ(1, a->wMajorVerNum);
        EXPECT_EQ(0, a->wMinorVerNum);
        EXPECT_EQ(source ? 2 : 1, a->cImplTypes);
        ti->ReleaseTypeAttr(a);
        auto impl = [&](UINT k, const wchar_t* want, int want_flags) {
            HREFTYPE ref = 0;
            ComPtr<ITypeInfo> t;
            ASSERT_EQ(S_OK, ti->GetRefTypeOfImplType(k, &ref));
            ASSERT_EQ(S_OK, ti->GetRefTypeInfo(ref, &t));
            EXPECT_EQ(want, name_of(t.Get()));
            INT flags = 0;
            ASSERT_EQ(S_OK, ti->GetImplTypeFlags(k, &flags));
            EXPECT_EQ(want_flags, flags);
        };
        impl(0, iface, IMPLTYPEFLAG_FDEFAULT);
        if (source) impl(1, source, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE);
    }

    ComPtr<ITypeLib> lib;
};

TEST_F(TypeLibrary, LibraryAttributes) {
    TLIBATTR* a = nullptr;
    ASSERT_EQ(S_OK, lib->GetLibAttr(&a));
    EXPECT_EQ(libid, a->guid);
    // 67.1 added the fourth class: a client built against 67.0 finds it too.
    EXPECT_EQ(67, a->wMajorVerNum);
    EXPECT_EQ(1, a->wMinorVerNum);
    EXPECT_EQ(0u, a->lcid);
    EXPECT_EQ(library_is_32_bit() ? SYS_WIN32 : SYS_WIN64, a->syskind);
    // The library sets no flags; the runtime marks every library it loaded from a file.
    EXPECT_EQ(0, a->wLibFlags & ~LIBFLAG_FHASDISKIMAGE);
    lib->ReleaseTLibAttr(a);
    bstr name, doc, help;
    DWORD context = 1;
    ASSERT_EQ(S_OK, lib->GetDocumentation(-1, name.out(), doc.out(), &context, help.out()));
    EXPECT_EQ(L"Quellbrook_dx_8engine", name.str());
    EXPECT_EQ(L"", doc.str());
    EXPECT_EQ(L"", help.str());
    EXPECT_EQ(0u, context);
}

TEST_F(TypeLibrary, TypesInOrder) {
    // The first seven keep the indices compiled clients were built with; later classes follow.
    const wchar_t* names[] = {L"_dxgraphics", L"dxgraphics", L"_dxinput", L"dxinput", L"_dxmain",
                              L"dxmain",      L"__dxinput",  L"_dxmodels", L"dxmodels"};
    ASSERT_EQ(9u, lib->GetTypeInfoCount());
    for (UINT i = 0; i < 9; ++i) EXPECT_EQ(names[i], name_of(info(i).Get()));
}

TEST_F(TypeLibrary, DxgraphicsInterface) { expect_dual(0, L"_dxgraphics", iid_dxgraphics, expected::dxgraphics(), 48); }
TEST_F(TypeLibrary, DxinputInterface) { expect_dual(2, L"_dxinput", iid_dxinput, expected::dxinput(), 10); }
TEST_F(TypeLibrary, DxmainInterface) { expect_dual(4, L"_dxmain", iid_dxmain, expected::dxmain(), 9); }
TEST_F(TypeLibrary, DxmodelsInterface) { expect_dual(7, L"_dxmodels", iid_dxmodels, expected::dxmodels(), 12); }

TEST_F(TypeLibrary, Classes) {
    expect_coclass(1, L"dxgraphics", clsid_dxgraphics, L"_dxgraphics", nullptr);
    expect_coclass(3, L"dxinput", clsid_dxinput, L"_dxinput", L"__dxinput");
    expect_coclass(5, L"dxmain", clsid_dxmain, L"_dxmain", nullptr);
    expect_coclass(8, L"dxmodels", clsid_dxmodels, L"_dxmodels", nullptr);
}

TEST_F(TypeLibrary, EventInterface) {
    auto ti = info(6);
    TYPEATTR* a = nullptr;
    ASSERT_EQ(S_OK, ti->GetTypeAttr(&a));
    EXPECT_EQ(diid_events, a->guid);
    EXPECT_EQ(TKIND_DISPATCH, a->typekind);
    EXPECT_EQ(event_flags, a->wTypeFlags);
    EXPECT_EQ(1, a->wMajorVerNum);
    EXPECT_EQ(1, a->cImplTypes);
    // A dispinterface lists the seven methods of IDispatch first, then its own.
    ASSERT_EQ(7 + 2, a->cFuncs);
    ti->ReleaseTypeAttr(a);
    auto events = expected::events();
    for (UINT i = 0; i < 2; ++i) {
        FUNCDESC* f = nullptr;
        ASSERT_EQ(S_OK, ti->GetFuncDesc(7 + i, &f));
        EXPECT_EQ(events[i].dispid, f->memid);
        EXPECT_EQ(FUNC_DISPATCH, f->funckind);
        EXPECT_EQ(INVOKE_FUNC, f->invkind);
        EXPECT_EQ(VT_VOID, f->elemdescFunc.tdesc.vt);
        EXPECT_EQ(0, f->wFuncFlags);
        ASSERT_EQ(1, f->cParams);
        expect_param(f->lprgelemdescParam[0], events[i].params[0], true, PARAMFLAG_FIN | PARAMFLAG_FOUT, L"keycode");
        ti->ReleaseFuncDesc(f);
        BSTR names[2] = {};
        UINT got = 0;
        ASSERT_EQ(S_OK, ti->GetNames(events[i].dispid, names, 2, &got));
        ASSERT_EQ(2u, got);
        EXPECT_STREQ(events[i].name, names[0]);
        EXPECT_STREQ(L"keycode", names[1]);
        SysFreeString(names[0]);
        SysFreeString(names[1]);
    }
}

}  // namespace
