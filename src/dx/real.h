// Pieces shared by the real implementations of the layer.
#pragma once
#include <windows.h>

#include <wrl/client.h>

#include <memory>

namespace dx {

// A counted reference to a DLL loaded at run time; each object made from a DLL keeps one
// (copies share it), so the DLL stays loaded for as long as any of its objects lives.
class library {
public:
    static HRESULT load(const wchar_t* name, library& out);
    FARPROC symbol(const char* name) const;

private:
    std::shared_ptr<std::remove_pointer_t<HMODULE>> handle_;
};

struct Direct3D8;
// Wraps a Direct3D object made from the given d3d8.dll, taking over its reference.
HRESULT wrap_direct3d8(library lib, struct IDirect3D8* d3d, Microsoft::WRL::ComPtr<Direct3D8>& out);

struct DirectInput8;
// A new DirectInput object over dinput8.dll (dx/real_input.cpp).
HRESULT create_real_directinput8(DirectInput8** out);

}  // namespace dx
