// Pieces shared by the real implementations of the layer.
#pragma once
#include <windows.h>

#include <memory>

namespace dx {

// A counted reference to a DLL loaded at run time; each object made from a DLL keeps one,
// so the DLL stays loaded for as long as any of its objects lives.
class library {
public:
    static HRESULT load(const wchar_t* name, library& out);
    FARPROC symbol(const char* name) const;

private:
    struct unload {
        void operator()(HMODULE m) const noexcept { FreeLibrary(m); }
    };
    std::unique_ptr<std::remove_pointer_t<HMODULE>, unload> handle_;
};

}  // namespace dx
