#include "com/registration.h"

#include <oleauto.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "com/module.h"
#include "dx8engine_iface.h"

using Microsoft::WRL::ComPtr;

// Present in oleaut32 since Windows Vista; the MinGW headers do not declare them.
extern "C" {
HRESULT WINAPI RegisterTypeLibForUser(ITypeLib* lib, OLECHAR* path, OLECHAR* help_dir);
HRESULT WINAPI UnRegisterTypeLibForUser(REFGUID libid, WORD major, WORD minor, LCID lcid, SYSKIND syskind);
}

namespace com {
namespace {

#ifdef _WIN64
constexpr SYSKIND library_syskind = SYS_WIN64;
#else
constexpr SYSKIND library_syskind = SYS_WIN32;
#endif

std::wstring guid_text(REFGUID g) {
    wchar_t text[40] = {};
    StringFromGUID2(g, text, 40);
    return text;
}

// One registry value to write: key below the classes root, value name (empty for the
// default value) and data.
struct entry {
    std::wstring key;
    std::wstring name;
    std::wstring data;
};

// Every value registration writes; unregistration removes the top keys of these.
std::vector<entry> entries(const std::wstring& server_path) {
    const auto& lib = iface::library;
    wchar_t version[16];
    wsprintfW(version, L"%u.%u", lib.major, lib.minor);
    std::vector<entry> out;
    for (short i = 0; i < lib.coclass_count; ++i) {
        const auto& c = lib.coclasses[i];
        const std::wstring clsid = L"CLSID\\" + guid_text(c.clsid);
        const std::wstring progid = prog_id(c.name);
        out.push_back({clsid, L"", progid});
        out.push_back({clsid + L"\\InprocServer32", L"", server_path});
        out.push_back({clsid + L"\\InprocServer32", L"ThreadingModel", L"Apartment"});
        out.push_back({clsid + L"\\ProgID", L"", progid});
        out.push_back({clsid + L"\\TypeLib", L"", guid_text(lib.libid)});
        out.push_back({clsid + L"\\Version", L"", version});
        out.push_back({progid, L"", progid});
        out.push_back({progid + L"\\CLSID", L"", guid_text(c.clsid)});
    }
    return out;
}

std::vector<std::wstring> top_keys() {
    const auto& lib = iface::library;
    std::vector<std::wstring> out;
    for (short i = 0; i < lib.coclass_count; ++i) {
        out.push_back(L"CLSID\\" + guid_text(lib.coclasses[i].clsid));
        out.push_back(prog_id(lib.coclasses[i].name));
    }
    return out;
}

HKEY root_of(hive where) { return where == hive::machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

HRESULT write_entries(hive where) {
    HKEY classes = nullptr;
    LONG rc = RegCreateKeyExW(root_of(where), L"Software\\Classes", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &classes,
                              nullptr);
    if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
    for (const auto& e : entries(module_path())) {
        HKEY key = nullptr;
        rc = RegCreateKeyExW(classes, e.key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
        if (rc != ERROR_SUCCESS) break;
        rc = RegSetValueExW(key, e.name.empty() ? nullptr : e.name.c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(e.data.c_str()),
                            static_cast<DWORD>((e.data.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
        if (rc != ERROR_SUCCESS) break;
    }
    RegCloseKey(classes);
    return HRESULT_FROM_WIN32(rc);
}

HRESULT remove_entries(hive where) {
    HKEY classes = nullptr;
    LONG rc = RegOpenKeyExW(root_of(where), L"Software\\Classes", 0, KEY_ALL_ACCESS, &classes);
    if (rc == ERROR_FILE_NOT_FOUND) return S_OK;
    if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
    HRESULT result = S_OK;
    for (const auto& k : top_keys()) {
        rc = RegDeleteTreeW(classes, k.c_str());
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) result = HRESULT_FROM_WIN32(rc);
    }
    RegCloseKey(classes);
    return result;
}

bool access_denied(HRESULT hr) {
    return hr == E_ACCESSDENIED || hr == TYPE_E_REGISTRYACCESS || hr == HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
}

}  // namespace

HRESULT register_in(hive where) noexcept {
    try {
        ComPtr<ITypeLib> lib;
        const std::wstring path = module_path();
        HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &lib);
        if (FAILED(hr)) return hr;
        std::wstring mutable_path = path;
        hr = where == hive::machine ? RegisterTypeLib(lib.Get(), mutable_path.data(), nullptr)
                                    : RegisterTypeLibForUser(lib.Get(), mutable_path.data(), nullptr);
        if (FAILED(hr)) return hr;
        return write_entries(where);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT unregister_from(hive where) noexcept {
    try {
        const auto& lib = iface::library;
        HRESULT hr = where == hive::machine
                         ? UnRegisterTypeLib(lib.libid, lib.major, lib.minor, 0, library_syskind)
                         : UnRegisterTypeLibForUser(lib.libid, lib.major, lib.minor, 0, library_syskind);
        HRESULT removed = remove_entries(where);
        // A library that was never registered is not an error when unregistering.
        // (Wine answers E_INVALIDARG for a library with no registration.)
        if (FAILED(hr) && hr != TYPE_E_REGISTRYACCESS && hr != TYPE_E_LIBNOTREGISTERED && hr != E_INVALIDARG &&
            !access_denied(hr))
            return hr;
        return removed;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT register_server() noexcept {
    HRESULT hr = register_in(hive::machine);
    if (access_denied(hr)) {
        unregister_from(hive::machine);
        hr = register_in(hive::user);
    }
    return hr;
}

HRESULT unregister_server() noexcept {
    HRESULT machine = unregister_from(hive::machine);
    HRESULT user = unregister_from(hive::user);
    if (access_denied(machine)) return user;
    return FAILED(machine) ? machine : user;
}

}  // namespace com
