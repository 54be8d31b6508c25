// The engine's DirectX layer: narrow interfaces for the DirectX 8 objects and operations the
// engine uses. They mirror the platform's automation objects (methods return HRESULTs) and
// have two implementations: one over d3d8.dll and dinput8.dll, and a recording double for
// tests that logs every call and can be told to fail any of them.
#pragma once
#include <windows.h>
#include <unknwn.h>
#include <wrl/client.h>

#include <functional>

#include "dx/graphics.h"
#include "dx/input.h"

namespace dx {

using Microsoft::WRL::ComPtr;

// The root object, from which the Direct3D and DirectInput objects are made.
struct DirectX8 : IUnknown {
    virtual HRESULT Direct3DCreate(Direct3D8** out) = 0;
    virtual HRESULT DirectInputCreate(DirectInput8** out) = 0;
};

// Makes a new root object. The engine calls it where a client's program would create a
// new DirectX8 instance; tests replace it with the recording double's.
using directx_factory = std::function<HRESULT(ComPtr<DirectX8>&)>;
HRESULT create_directx8(ComPtr<DirectX8>& out);
// Installs a factory; an empty one restores the real implementation.
void set_directx_factory(directx_factory factory);

// The real root object over d3d8.dll and dinput8.dll, loaded when first needed.
HRESULT create_real_directx8(ComPtr<DirectX8>& out);

}  // namespace dx
