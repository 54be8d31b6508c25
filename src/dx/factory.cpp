#include "dx/layer.h"

namespace dx {
namespace {
directx_factory& current_factory() {
    static directx_factory factory;
    return factory;
}
}  // namespace

HRESULT create_directx8(ComPtr<DirectX8>& out) {
    auto& factory = current_factory();
    return factory ? factory(out) : create_real_directx8(out);
}

void set_directx_factory(directx_factory factory) { current_factory() = std::move(factory); }

}  // namespace dx

namespace dx {
namespace {
d3dx_factory& current_d3dx_factory() {
    static d3dx_factory factory;
    return factory;
}
}  // namespace

HRESULT create_d3dx8(ComPtr<D3DX8>& out) {
    auto& factory = current_d3dx_factory();
    return factory ? factory(out) : create_real_d3dx8(out);
}

void set_d3dx_factory(d3dx_factory factory) { current_d3dx_factory() = std::move(factory); }

}  // namespace dx
