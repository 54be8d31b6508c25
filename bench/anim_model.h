// What the two sources of the animation benchmark share: the skinned model it makes, as plain
// data, and the d3dx9 side that poses and skins it (anim_d3dx9.cpp, apart because d3d9.h and
// d3d8.h cannot meet in one source).
#pragma once
#include <windows.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// A skinned model in D3DX's conventions: row vectors, 4x4 matrices row by row, quaternions
// x, y, z, w as D3DXMatrixRotationQuaternion takes them (a .x file stores their conjugates).
struct anim_model {
    struct vertex {
        float position[3], normal[3], uv[2];  // the layout of D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1
    };
    struct frame {
        std::string name;
        int parent = -1;  // an earlier frame, or -1
        std::array<float, 16> rest{};
    };
    // Bone b moves the vertices it lists by offset x the combined matrix of frame b.
    struct bone {
        std::array<float, 16> offset{};
        std::vector<DWORD> vertices;
        std::vector<float> weights;
    };
    // One frame's keys: rotations and translations at the same times, in seconds.
    struct channel {
        int frame = 0;
        std::vector<float> times;
        std::vector<std::array<float, 4>> rotations;
        std::vector<std::array<float, 3>> translations;
    };
    struct animation {
        std::string name;
        float length = 0;
        std::vector<channel> channels;
    };
    std::vector<vertex> vertices;
    std::vector<std::array<std::uint16_t, 3>> triangles;
    std::vector<frame> frames;
    std::vector<bone> bones;  // as many as frames
    std::vector<animation> animations;
};

// Wine's d3dx9 posing and skinning the model on a d3d9 device of its own on the window; nullptr,
// with the reason printed, where d3d9 or d3dx9 is not available.
struct d3dx9_skinning;
d3dx9_skinning* d3dx9_skinning_open(HWND window, const anim_model& model);
// Whether d3dx9's ID3DXSkinInfo::UpdateSkinnedMesh skins (Wine 8.0's is a stub); where it does
// not, its loop runs with d3dx9's vector functions instead (anim_d3dx9.cpp).
bool d3dx9_updates_skinned_mesh(const d3dx9_skinning* s);
// The frame matrices of animation at seconds, the model's vertices skinned in memory and copied
// into the dynamic vertex buffer, locked with D3DLOCK_DISCARD; false when a call fails.
bool d3dx9_skinning_run(d3dx9_skinning* s, int animation, float seconds);
// The same pose, its vertices copied into out (one anim_model::vertex per vertex).
bool d3dx9_skinning_to_memory(d3dx9_skinning* s, int animation, float seconds, anim_model::vertex* out);
void d3dx9_skinning_close(d3dx9_skinning* s);
