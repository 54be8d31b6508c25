// The engine-wide state: the DirectX objects and the two tables that every dxgraphics and
// dxinput object of one apartment shares. Each apartment (client thread) has its own.
#pragma once
#include <windows.h>
#include <d3d8types.h>

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dx/layer.h"

namespace engine {

using Microsoft::WRL::ComPtr;

// One row of the display-mode listing, each field as decimal text.
struct display_mode {
    std::wstring mode_width;
    std::wstring mode_height;
    std::wstring mode_depth;
    std::wstring mode_hertz;
};

inline constexpr int model_slots = 801;        // indices 0 to 800
inline constexpr int model_material_slots = 101;  // indices 0 to 100

// A slot of the model table. Its materials and textures are made when a mesh is loaded into it,
// one per material of the mesh up to model_material_slots, zero and empty until read: an empty
// slot holds no material records, so the 801 slots stay small however few are used.
struct model_entry {
    ComPtr<dx::D3DXMesh> mesh;
    std::vector<D3DMATERIAL8> materials;
    std::vector<ComPtr<dx::Direct3DTexture8>> textures;
    LONG material_count = 0;
    VARIANT_BOOL in_use = VARIANT_FALSE;
    D3DMATRIX world{};
};

struct declarations_state {
    ComPtr<dx::DirectX8> dx8;
    ComPtr<dx::Direct3D8> d3d8;
    ComPtr<dx::D3DX8> d3dx8;
    ComPtr<dx::Direct3DDevice8> d3ddevice;
    ComPtr<dx::DirectInput8> dinput8;
    std::optional<std::vector<display_mode>> display_modes;  // empty until the first listing
    std::unique_ptr<std::array<model_entry, model_slots>> models = std::make_unique<std::array<model_entry, model_slots>>();
};

// Slot index of this apartment's model table; error 9 for an index outside 0 to 800.
model_entry& model_at(SHORT index);

// This apartment's state, created empty on first use and discarded, with every reference
// it holds released, when the apartment ends.
declarations_state& declarations();

// Discards the calling thread's state now (the library is about to be unloaded).
void discard_current_state() noexcept;

// How many apartments hold a state.
long live_states() noexcept;

}  // namespace engine
