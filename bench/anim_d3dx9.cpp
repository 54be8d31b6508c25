// The d3dx9 side of the animation benchmark: the work model_animate does, done with Wine's
// d3dx9 as a d3dx9 program does it. Each call interpolates the animation's keys at the time
// (D3DXQuaternionSlerp and D3DXVec3Lerp between the two keys around it, the time wrapped round
// the animation's length as the engine wraps it), makes each frame's matrix from its rotation
// and translation (D3DXMatrixRotationQuaternion), combines the hierarchy and takes each bone's
// offset (D3DXMatrixMultiply), skins the model's vertices with ID3DXSkinInfo::UpdateSkinnedMesh
// into a copy in memory, and locks the dynamic vertex buffer with D3DLOCK_DISCARD to copy them
// in, as the engine does. The skin info is made with D3DXCreateSkinInfoFVF, SetBoneInfluence and
// SetBoneOffsetMatrix from the same data the benchmark writes into its .x file.
//
// Wine 8.0's UpdateSkinnedMesh is a stub that returns E_NOTIMPL. Where it fails, the side runs
// the loop that D3DX's software skinning runs, with d3dx9's own functions: positions and normals
// set to zero, then for each bone and each vertex it influences (as the skin info's
// GetBoneInfluence gives them) D3DXVec3TransformCoord of the position and
// D3DXVec3TransformNormal of the normal by the bone's matrix, added with the vertex's weight,
// and last D3DXVec3Normalize of every normal.
#include <windows.h>
#include <d3d9.h>
#include <d3dx9mesh.h>
#include <wrl/client.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "anim_model.h"

using Microsoft::WRL::ComPtr;

struct d3dx9_skinning {
    const anim_model* model = nullptr;
    ComPtr<IDirect3D9> d3d;
    ComPtr<IDirect3DDevice9> device;
    ComPtr<ID3DXSkinInfo> skin;
    ComPtr<IDirect3DVertexBuffer9> buffer;
    decltype(&D3DXQuaternionSlerp) slerp = nullptr;
    decltype(&D3DXMatrixMultiply) multiply = nullptr;
    decltype(&D3DXMatrixRotationQuaternion) rotation = nullptr;
    decltype(&D3DXVec3TransformCoord) transform_coord = nullptr;
    decltype(&D3DXVec3TransformNormal) transform_normal = nullptr;
    decltype(&D3DXVec3Normalize) normalize = nullptr;
    std::vector<D3DXMATRIX> rest, offsets, local, combined, bones;
    bool update_skinned_mesh = false;  // whether d3dx9 implements it
    struct influences {
        std::vector<DWORD> vertices;
        std::vector<float> weights;
    };
    std::vector<influences> influence;  // per bone, as the skin info holds them
    std::vector<anim_model::vertex> skinned;
};

namespace {

constexpr DWORD fvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1;

D3DXMATRIX matrix_of(const std::array<float, 16>& m) { return D3DXMATRIX(m.data()); }

// The bone matrices of animation at seconds into s->bones.
void pose(d3dx9_skinning* s, int animation, float seconds) {
    const anim_model::animation& a = s->model->animations[animation];
    float time = 0;
    if (a.length > 0) {
        time = std::fmod(seconds, a.length);
        if (time < 0) time += a.length;
        if (!(time < a.length)) time = 0;
    }
    std::copy(s->rest.begin(), s->rest.end(), s->local.begin());
    for (const anim_model::channel& c : a.channels) {
        const size_t last = c.times.size() - 1;
        const size_t next = std::upper_bound(c.times.begin(), c.times.end(), time) - c.times.begin();
        const size_t k = next == 0 ? 0 : std::min(next - 1, last), k2 = std::min(k + 1, last);
        const float span = c.times[k2] - c.times[k];
        const float u = span > 0 ? std::clamp((time - c.times[k]) / span, 0.0f, 1.0f) : 0.0f;
        D3DXQUATERNION q;
        D3DXVECTOR3 t(0, 0, 0);
        s->slerp(&q, reinterpret_cast<const D3DXQUATERNION*>(c.rotations[k].data()),
                 reinterpret_cast<const D3DXQUATERNION*>(c.rotations[k2].data()), u);
        D3DXVec3Lerp(&t, reinterpret_cast<const D3DXVECTOR3*>(c.translations[k].data()),
                     reinterpret_cast<const D3DXVECTOR3*>(c.translations[k2].data()), u);
        D3DXMATRIX& m = s->local[c.frame];
        s->rotation(&m, &q);
        m._41 = t.x, m._42 = t.y, m._43 = t.z;
    }
    const auto& frames = s->model->frames;
    for (size_t f = 0; f < frames.size(); ++f) {
        if (frames[f].parent < 0) s->combined[f] = s->local[f];
        else s->multiply(&s->combined[f], &s->local[f], &s->combined[frames[f].parent]);
    }
    for (size_t b = 0; b < s->bones.size(); ++b) s->multiply(&s->bones[b], &s->offsets[b], &s->combined[b]);
}

// The model's vertices under s->bones into s->skinned, whose texture coordinates are the
// model's already.
bool skin(d3dx9_skinning* s) {
    const anim_model::vertex* source = s->model->vertices.data();
    if (s->update_skinned_mesh) return SUCCEEDED(s->skin->UpdateSkinnedMesh(s->bones.data(), nullptr, source, s->skinned.data()));
    for (anim_model::vertex& v : s->skinned)
        for (int k = 0; k < 3; ++k) v.position[k] = v.normal[k] = 0;
    for (size_t b = 0; b < s->bones.size(); ++b) {
        const d3dx9_skinning::influences& in = s->influence[b];
        for (size_t j = 0; j < in.vertices.size(); ++j) {
            const anim_model::vertex& from = source[in.vertices[j]];
            anim_model::vertex& to = s->skinned[in.vertices[j]];
            D3DXVECTOR3 p, n;
            s->transform_coord(&p, reinterpret_cast<const D3DXVECTOR3*>(from.position), &s->bones[b]);
            s->transform_normal(&n, reinterpret_cast<const D3DXVECTOR3*>(from.normal), &s->bones[b]);
            const float w = in.weights[j];
            to.position[0] += w * p.x, to.position[1] += w * p.y, to.position[2] += w * p.z;
            to.normal[0] += w * n.x, to.normal[1] += w * n.y, to.normal[2] += w * n.z;
        }
    }
    for (anim_model::vertex& v : s->skinned) {
        auto* n = reinterpret_cast<D3DXVECTOR3*>(v.normal);
        s->normalize(n, n);
    }
    return true;
}

}  // namespace

d3dx9_skinning* d3dx9_skinning_open(HWND window, const anim_model& model) {
    HMODULE d3d9_lib = LoadLibraryW(L"d3d9.dll"), d3dx9_lib = LoadLibraryW(L"d3dx9_36.dll");
    if (!d3d9_lib || !d3dx9_lib) {
        std::fprintf(stderr, "d3d9 or d3dx9_36 is not available\n");
        return nullptr;
    }
    auto create9 = reinterpret_cast<IDirect3D9*(WINAPI*)(UINT)>(GetProcAddress(d3d9_lib, "Direct3DCreate9"));
    auto create_skin =
        reinterpret_cast<decltype(&D3DXCreateSkinInfoFVF)>(GetProcAddress(d3dx9_lib, "D3DXCreateSkinInfoFVF"));
    auto* s = new d3dx9_skinning;
    s->model = &model;
    s->slerp = reinterpret_cast<decltype(s->slerp)>(GetProcAddress(d3dx9_lib, "D3DXQuaternionSlerp"));
    s->multiply = reinterpret_cast<decltype(s->multiply)>(GetProcAddress(d3dx9_lib, "D3DXMatrixMultiply"));
    s->rotation = reinterpret_cast<decltype(s->rotation)>(GetProcAddress(d3dx9_lib, "D3DXMatrixRotationQuaternion"));
    s->transform_coord = reinterpret_cast<decltype(s->transform_coord)>(GetProcAddress(d3dx9_lib, "D3DXVec3TransformCoord"));
    s->transform_normal =
        reinterpret_cast<decltype(s->transform_normal)>(GetProcAddress(d3dx9_lib, "D3DXVec3TransformNormal"));
    s->normalize = reinterpret_cast<decltype(s->normalize)>(GetProcAddress(d3dx9_lib, "D3DXVec3Normalize"));
    if (!create9 || !create_skin || !s->slerp || !s->multiply || !s->rotation || !s->transform_coord ||
        !s->transform_normal || !s->normalize) {
        std::fprintf(stderr, "d3dx9_36 lacks a function the benchmark calls\n");
        delete s;
        return nullptr;
    }
    *s->d3d.ReleaseAndGetAddressOf() = create9(D3D_SDK_VERSION);
    D3DPRESENT_PARAMETERS pp{};
    pp.Windowed = TRUE;
    pp.SwapEffect = D3DSWAPEFFECT_COPY;
    pp.BackBufferFormat = D3DFMT_UNKNOWN;
    const UINT bytes = static_cast<UINT>(model.vertices.size() * sizeof(anim_model::vertex));
    HRESULT hr = s->d3d ? s->d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp,
                                               s->device.GetAddressOf())
                        : E_FAIL;
    if (SUCCEEDED(hr))
        hr = s->device->CreateVertexBuffer(bytes, D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, fvf, D3DPOOL_DEFAULT,
                                           s->buffer.GetAddressOf(), nullptr);
    if (SUCCEEDED(hr))
        hr = create_skin(static_cast<DWORD>(model.vertices.size()), fvf, static_cast<DWORD>(model.bones.size()),
                         s->skin.GetAddressOf());
    for (DWORD b = 0; SUCCEEDED(hr) && b < model.bones.size(); ++b) {
        const anim_model::bone& bone = model.bones[b];
        hr = s->skin->SetBoneInfluence(b, static_cast<DWORD>(bone.vertices.size()), bone.vertices.data(),
                                       bone.weights.data());
        s->offsets.push_back(matrix_of(bone.offset));
        if (SUCCEEDED(hr)) hr = s->skin->SetBoneOffsetMatrix(b, &s->offsets.back());
    }
    if (FAILED(hr)) {
        std::fprintf(stderr, "d3dx9's device, buffer or skin info cannot be made: 0x%08lX\n",
                     static_cast<unsigned long>(hr));
        delete s;
        return nullptr;
    }
    for (const anim_model::frame& f : model.frames) s->rest.push_back(matrix_of(f.rest));
    s->local.resize(model.frames.size());
    s->combined.resize(model.frames.size());
    s->bones.resize(model.bones.size());
    for (DWORD b = 0; b < model.bones.size(); ++b) {
        d3dx9_skinning::influences in;
        in.vertices.resize(s->skin->GetNumBoneInfluences(b));
        in.weights.resize(in.vertices.size());
        if (!in.vertices.empty()) s->skin->GetBoneInfluence(b, in.vertices.data(), in.weights.data());
        s->influence.push_back(std::move(in));
    }
    s->skinned = model.vertices;
    pose(s, 0, 0);
    s->update_skinned_mesh = true;
    s->update_skinned_mesh = skin(s);
    return s;
}

bool d3dx9_updates_skinned_mesh(const d3dx9_skinning* s) { return s->update_skinned_mesh; }

bool d3dx9_skinning_run(d3dx9_skinning* s, int animation, float seconds) {
    pose(s, animation, seconds);
    if (!skin(s)) return false;
    void* v = nullptr;
    if (FAILED(s->buffer->Lock(0, 0, &v, D3DLOCK_DISCARD))) return false;
    std::memcpy(v, s->skinned.data(), s->skinned.size() * sizeof s->skinned[0]);
    s->buffer->Unlock();
    return true;
}

bool d3dx9_skinning_to_memory(d3dx9_skinning* s, int animation, float seconds, anim_model::vertex* out) {
    pose(s, animation, seconds);
    if (!skin(s)) return false;
    std::copy(s->skinned.begin(), s->skinned.end(), out);
    return true;
}

void d3dx9_skinning_close(d3dx9_skinning* s) { delete s; }
