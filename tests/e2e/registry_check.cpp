// Checks what regsvr32 left in the registry: "registry_check registered" expects every key
// and a working creation by ProgID for each class; "registry_check unregistered" expects
// none of them.
#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "dx8engine_iface.h"

using Microsoft::WRL::ComPtr;

namespace {

int failures = 0;

void expect(bool ok, const std::wstring& what) {
    std::wprintf(L"%ls: %ls\n", ok ? L"ok" : L"FAIL", what.c_str());
    if (!ok) ++failures;
}

std::wstring read(const std::wstring& key, const wchar_t* name = nullptr) {
    wchar_t data[1024] = {};
    DWORD size = sizeof data;
    LONG rc = RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size);
    return rc == ERROR_SUCCESS ? data : L"<missing>";
}

std::wstring text(REFGUID g) {
    wchar_t t[40];
    StringFromGUID2(g, t, 40);
    return t;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 || (std::strcmp(argv[1], "registered") && std::strcmp(argv[1], "unregistered"))) {
        std::fprintf(stderr, "usage: registry_check registered|unregistered DLL-NAME\n");
        return 2;
    }
    const bool registered = std::strcmp(argv[1], "registered") == 0;
    std::wstring dll_name(argv[2], argv[2] + std::strlen(argv[2]));
    CoInitialize(nullptr);
    const auto& lib = iface::library;
    for (short i = 0; i < lib.coclass_count; ++i) {
        const auto& c = lib.coclasses[i];
        const std::wstring progid = std::wstring(lib.name) + L"." + c.name;
        const std::wstring clsid = L"CLSID\\" + text(c.clsid);
        if (registered) {
            std::wstring server = read(clsid + L"\\InprocServer32");
            bool names_dll = server.size() >= dll_name.size() &&
                             _wcsicmp(server.c_str() + server.size() - dll_name.size(), dll_name.c_str()) == 0;
            expect(names_dll, clsid + L"\\InprocServer32 = " + server);
            expect(read(clsid + L"\\InprocServer32", L"ThreadingModel") == L"Apartment", clsid + L" ThreadingModel");
            expect(read(clsid + L"\\ProgID") == progid, clsid + L"\\ProgID");
            expect(read(clsid + L"\\TypeLib") == text(lib.libid), clsid + L"\\TypeLib");
            expect(read(progid + L"\\CLSID") == text(c.clsid), progid + L"\\CLSID");
            CLSID found{};
            expect(SUCCEEDED(CLSIDFromProgID(progid.c_str(), &found)) && found == c.clsid, L"CLSIDFromProgID " + progid);
            ComPtr<IDispatch> object;
            HRESULT hr = CoCreateInstance(found, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&object));
            expect(SUCCEEDED(hr), L"CoCreateInstance " + progid);
            ComPtr<IUnknown> typed;
            expect(object && SUCCEEDED(object->QueryInterface(c.default_interface->iid, &typed)),
                   L"default interface of " + progid);
        } else {
            expect(read(clsid + L"\\InprocServer32") == L"<missing>", clsid + L" removed");
            expect(read(progid + L"\\CLSID") == L"<missing>", progid + L" removed");
            CLSID found{};
            expect(FAILED(CLSIDFromProgID(progid.c_str(), &found)), L"CLSIDFromProgID fails for " + progid);
        }
    }
    // The library's key of this architecture (the version in hex, as the runtime writes it);
    // the other architecture's registration may stand beside it.
    wchar_t key[128];
    wsprintfW(key, L"TypeLib\\%s\\%x.%x\\0\\%s", text(lib.libid).c_str(), lib.major, lib.minor,
              sizeof(void*) == 8 ? L"win64" : L"win32");
    expect((read(key) != L"<missing>") == registered, std::wstring(L"type library key ") + key);
    if (registered) {
        ComPtr<ITypeLib> tl;
        expect(SUCCEEDED(LoadRegTypeLib(lib.libid, lib.major, lib.minor, 0, &tl)), L"LoadRegTypeLib");
    }
    CoUninitialize();
    std::printf("%d failed\n", failures);
    return failures ? 1 : 0;
}
