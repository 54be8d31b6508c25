#include "com/dispatch.h"

#include <oleauto.h>
#include <wrl/client.h>

#include <array>

using Microsoft::WRL::ComPtr;

namespace com {
namespace {

constexpr UINT max_params = 16;

bool same_name(const wchar_t* a, const wchar_t* b) {
    return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

// Variants for the converted arguments, the first count of them in use and cleared on every
// way out; the rest are never touched.
struct variant_set {
    std::array<VARIANT, max_params> v;
    UINT count;
    explicit variant_set(UINT n) : count(n) {
        for (UINT i = 0; i < count; ++i) V_VT(&v[i]) = VT_EMPTY;
    }
    ~variant_set() {
        for (UINT i = 0; i < count; ++i) VariantClear(&v[i]);
    }
};

// Whether a value of this type is copied bit for bit, as VariantChangeTypeEx copies a
// variant that already has the type asked for.
bool plain_value(VARTYPE vt) { return vt == VT_I2 || vt == VT_I4 || vt == VT_R4 || vt == VT_BOOL; }

HRESULT set_default(VARIANT& out, const param_desc& p) {
    V_VT(&out) = p.vt;
    switch (p.vt) {
    case VT_I4: V_I4(&out) = static_cast<LONG>(p.number); break;
    case VT_I2: V_I2(&out) = static_cast<SHORT>(p.number); break;
    case VT_BOOL: V_BOOL(&out) = p.number != 0 ? VARIANT_TRUE : VARIANT_FALSE; break;
    case VT_R4: V_R4(&out) = static_cast<float>(p.number); break;
    case VT_BSTR:
        V_BSTR(&out) = SysAllocString(p.text ? p.text : L"");
        if (!V_BSTR(&out)) return E_OUTOFMEMORY;
        break;
    default: return E_UNEXPECTED;
    }
    return S_OK;
}

// The innermost variant behind any chain of VT_BYREF|VT_VARIANT.
VARIANT* inner(VARIANT* v) {
    while (v && V_VT(v) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(v)) v = V_VARIANTREF(v);
    return v;
}

// Gives the caller's by-reference variable the value the method left in its argument.
void write_back(VARIANT* caller, VARIANT& value, LCID lcid) {
    if (!caller || !(V_VT(caller) & VT_BYREF)) return;
    if (V_VT(caller) == (VT_BYREF | VT_VARIANT)) {
        VARIANT* target = inner(caller);
        if (V_VT(target) & VT_BYREF) {
            write_back(target, value, lcid);
            return;
        }
        VARIANT copy;
        VariantInit(&copy);
        if (SUCCEEDED(VariantCopy(&copy, &value))) {
            VariantClear(target);
            *target = copy;
        }
        return;
    }
    VARTYPE vt = V_VT(caller) & ~VT_BYREF;
    VARIANT converted;
    VariantInit(&converted);
    if (FAILED(VariantChangeTypeEx(&converted, &value, lcid, 0, vt))) return;
    switch (vt) {
    case VT_I4: *V_I4REF(caller) = V_I4(&converted); break;
    case VT_I2: *V_I2REF(caller) = V_I2(&converted); break;
    case VT_UI1: *V_UI1REF(caller) = V_UI1(&converted); break;
    case VT_BOOL: *V_BOOLREF(caller) = V_BOOL(&converted); break;
    case VT_R4: *V_R4REF(caller) = V_R4(&converted); break;
    case VT_R8: *V_R8REF(caller) = V_R8(&converted); break;
    case VT_CY: *V_CYREF(caller) = V_CY(&converted); break;
    case VT_DATE: *V_DATEREF(caller) = V_DATE(&converted); break;
    case VT_BSTR:
        SysFreeString(*V_BSTRREF(caller));
        *V_BSTRREF(caller) = V_BSTR(&converted);
        V_VT(&converted) = VT_EMPTY;
        break;
    default: break;
    }
    VariantClear(&converted);
}

}  // namespace

const member_desc* find_member(const interface_desc& desc, DISPID id, WORD flags) noexcept {
    const member_desc* get = nullptr;
    const member_desc* put = nullptr;
    const member_desc* func = nullptr;
    for (short i = 0; i < desc.member_count; ++i) {
        const auto& m = desc.members[i];
        if (m.dispid != id) continue;
        if (m.kind == INVOKE_PROPERTYGET) get = &m;
        else if (m.kind == INVOKE_PROPERTYPUT) put = &m;
        else func = &m;
    }
    if ((flags & DISPATCH_PROPERTYGET) && get) return get;
    if ((flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) && put) return put;
    if ((flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)) && func) return func;
    return nullptr;
}

HRESULT ids_of_names(const interface_desc& desc, LPOLESTR* names, UINT count, DISPID* ids) noexcept {
    if (!names || !ids || count == 0) return E_INVALIDARG;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    const member_desc* found = nullptr;
    for (short i = 0; i < desc.member_count && !found; ++i)
        if (same_name(desc.members[i].name, names[0])) found = &desc.members[i];
    if (!found) return DISP_E_UNKNOWNNAME;
    ids[0] = found->dispid;
    // Parameter names are those of the method; a property has no named parameters.
    HRESULT hr = S_OK;
    for (UINT n = 1; n < count; ++n) {
        for (short k = 0; k < found->param_count; ++k)
            if (found->kind == INVOKE_FUNC && found->params[k].name && same_name(found->params[k].name, names[n]))
                ids[n] = k;
        if (ids[n] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT invoke(const interface_desc& desc, IDispatch* self, DISPID id, LCID lcid, WORD flags, DISPPARAMS* params,
               VARIANT* result, EXCEPINFO* excep, UINT* arg_err) noexcept {
    const member_desc* m = find_member(desc, id, flags);
    if (!m) return DISP_E_MEMBERNOTFOUND;
    DISPPARAMS empty{};
    if (!params) params = &empty;
    const UINT n = static_cast<UINT>(m->param_count);
    const UINT named = params->cNamedArgs;
    if (params->cArgs < named || (named && !params->rgdispidNamedArgs) || (params->cArgs && !params->rgvarg))
        return E_INVALIDARG;
    const UINT positional = params->cArgs - named;

    // Which caller variant feeds which parameter, and its position in rgvarg.
    std::array<VARIANT*, max_params> source{};
    std::array<UINT, max_params> position{};
    if (m->kind == INVOKE_PROPERTYPUT) {
        if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
        source[0] = &params->rgvarg[0];
    } else {
        if (positional > n || params->cArgs > n) return DISP_E_BADPARAMCOUNT;
        for (UINT i = 0; i < positional; ++i) {
            position[i] = params->cArgs - 1 - i;
            source[i] = &params->rgvarg[position[i]];
        }
        for (UINT j = 0; j < named; ++j) {
            DISPID k = params->rgdispidNamedArgs[j];
            if (k < 0 || static_cast<UINT>(k) >= n || source[k]) {
                if (arg_err) *arg_err = j;
                return DISP_E_PARAMNOTFOUND;
            }
            source[k] = &params->rgvarg[j];
            position[k] = j;
        }
    }

    variant_set args(n);
    for (UINT i = 0; i < n; ++i) {
        const param_desc& p = m->params[i];
        VARIANT* s = inner(source[i]);
        bool missing = !s || (V_VT(s) == VT_ERROR && V_ERROR(s) == DISP_E_PARAMNOTFOUND);
        HRESULT hr;
        if (missing) {
            if (!p.has_default) {
                if (arg_err) *arg_err = source[i] ? position[i] : i;
                return DISP_E_PARAMNOTFOUND;
            }
            hr = set_default(args.v[i], p);
        } else if (V_VT(s) == p.vt && plain_value(p.vt)) {
            args.v[i] = *s;  // already the parameter's type: nothing to convert
            hr = S_OK;
        } else {
            hr = VariantChangeTypeEx(&args.v[i], s, lcid, 0, p.vt);
            if (FAILED(hr)) {
                if (arg_err) *arg_err = position[i];
                return hr == DISP_E_OVERFLOW ? DISP_E_OVERFLOW : DISP_E_TYPEMISMATCH;
            }
        }
        if (FAILED(hr)) return hr;
    }

    VARIANT out;
    VariantInit(&out);
    if (m->result != VT_EMPTY) V_VT(&out) = m->result;
    SetErrorInfo(0, nullptr);
    HRESULT hr = m->call(self, args.v.data(), &out);

    if (m->kind == INVOKE_FUNC)
        for (UINT i = 0; i < n; ++i) write_back(source[i], args.v[i], lcid);

    if (FAILED(hr)) {
        VariantClear(&out);
        ComPtr<IErrorInfo> info;
        if (excep && GetErrorInfo(0, &info) == S_OK && info) {
            *excep = EXCEPINFO{};
            excep->scode = hr;
            info->GetSource(&excep->bstrSource);
            info->GetDescription(&excep->bstrDescription);
            SetErrorInfo(0, info.Get());
            return DISP_E_EXCEPTION;
        }
        if (info) SetErrorInfo(0, info.Get());
        return hr;
    }
    if (result) {
        VariantClear(result);
        *result = out;
    } else {
        VariantClear(&out);
    }
    return S_OK;
}

}  // namespace com
