// Class dxmain: creates and releases the DirectX root objects of the engine-wide state.
#include "com/object.h"
#include "engine/classes.h"
#include "engine/declarations.h"

namespace engine {
namespace {

class dxmain final : public com::automation_object<iface::_dxmain> {
public:
    dxmain() : automation_object(L"dxmain") {}

    // Makes a new root object, then the Direct3D and DirectInput objects from it; each
    // replaces (and so releases) what the state held. A failing step leaves what the steps
    // before it stored.
    HRESULT STDMETHODCALLTYPE initialize() override {
        return call([] {
            auto& s = declarations();
            ComPtr<dx::DirectX8> root;
            com::check(dx::create_directx8(root), L"Creating the DirectX8 object");
            s.dx8 = root;
            ComPtr<dx::Direct3D8> d3d;
            com::check(com::need(s.dx8).Direct3DCreate(&d3d), L"DirectX8.Direct3DCreate");
            s.d3d8 = d3d;
            ComPtr<dx::DirectInput8> input;
            com::check(com::need(s.dx8).DirectInputCreate(&input), L"DirectX8.DirectInputCreate");
            s.dinput8 = input;
        });
    }

    // Releases the root objects; the device, the D3DX object and the tables stay.
    HRESULT STDMETHODCALLTYPE engine_unload() override {
        return call([] {
            auto& s = declarations();
            s.d3d8.Reset();
            s.dx8.Reset();
            s.dinput8.Reset();
        });
    }
};

}  // namespace

HRESULT create_dxmain(REFIID iid, void** out) noexcept { return com::create_instance<dxmain>(iid, out); }

}  // namespace engine
