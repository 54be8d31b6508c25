// Probe objects: the generated interfaces implemented by methods that only record which
// method ran and with what arguments, behind the engine's real IDispatch machinery.
#pragma once
#include <cstdio>
#include <string>

#include "com/object.h"
#include "helpers.h"

template <class Interface>
class probe_base : public com::automation_object<Interface> {
public:
    probe_base() : com::automation_object<Interface>(L"probe") {}

    std::wstring last;        // "name(arg,arg,...)" of the last call
    bool write_back = false;  // methods change every by-reference argument they get
    HRESULT fail_with = S_OK;

protected:
    template <class... Args>
    HRESULT record(const wchar_t* name, Args... args) {
        last = name;
        last += L"(";
        bool first = true;
        ((last += (first ? L"" : L","), first = false, last += show(args)), ...);
        last += L")";
        if (FAILED(fail_with)) return com::report(fail_with, L"probe failure", L"probe", this->desc().iid);
        return S_OK;
    }

private:
    static std::wstring number(double v) {
        wchar_t text[32];
        std::swprintf(text, 32, L"%g", v);
        return text;
    }
    std::wstring show(LONG v) { return number(v); }
    std::wstring show(VARIANT_BOOL v) { return number(v); }
    std::wstring show(LONG* p) {
        auto s = number(*p);
        if (write_back) *p += 1;
        return s;
    }
    std::wstring show(SHORT* p) {  // Integer and Boolean alike
        auto s = number(*p);
        if (write_back) *p += 1;
        return s;
    }
    std::wstring show(float* p) {
        auto s = number(*p);
        if (write_back) *p += 0.5f;
        return s;
    }
    std::wstring show(BSTR* p) {
        std::wstring s = *p ? std::wstring(*p, SysStringLen(*p)) : std::wstring();
        if (write_back) {
            SysFreeString(*p);
            *p = SysAllocString((s + L"!").c_str());
        }
        return s;
    }
};

using probe_dxgraphics = iface::_dxgraphics_probe<probe_base<iface::_dxgraphics>>;
using probe_dxinput = iface::_dxinput_probe<probe_base<iface::_dxinput>>;
using probe_dxmain = iface::_dxmain_probe<probe_base<iface::_dxmain>>;
using probe_dxmodels = iface::_dxmodels_probe<probe_base<iface::_dxmodels>>;

// Makes a probe and hands its first reference to a ComPtr.
template <class Probe>
ComPtr<Probe> make_probe() {
    ComPtr<Probe> p;
    *p.ReleaseAndGetAddressOf() = new Probe();
    return p;
}
