// Creation of the four public classes, for the class objects of the module.
#pragma once
#include <windows.h>

namespace engine {

HRESULT create_dxgraphics(REFIID iid, void** out) noexcept;
HRESULT create_dxinput(REFIID iid, void** out) noexcept;
HRESULT create_dxmain(REFIID iid, void** out) noexcept;
HRESULT create_dxmodels(REFIID iid, void** out) noexcept;

}  // namespace engine
