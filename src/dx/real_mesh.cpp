#include "dx/real_mesh.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "anim/pose.h"
#include "dx/ref_counted.h"
#include "readers/reader.h"

namespace dx {
namespace {

class real_material_buffer final : public ref_counted<D3DXBuffer> {
public:
    std::vector<D3DMATERIAL8> materials;
    std::vector<std::wstring> textures;
    std::vector<texture_source> sources;
};

class real_adjacency_buffer final : public ref_counted<D3DXBuffer> {
public:
    std::vector<DWORD> neighbours;  // three per face, 0xFFFFFFFF where an edge has none
};

struct subset {
    UINT first_face = 0;
    UINT face_count = 0;
};

// Which mesh's vertex buffer, index buffer and vertex format a device holds, as the last mesh
// drawn bound them. A mesh drawn again, subset after subset and model after model, binds
// nothing again; everything else that binds its own on a device forgets this first.
struct mesh_binding {
    IDirect3DDevice8* device = nullptr;
    unsigned long long mesh = 0;  // 0: none known
};
thread_local mesh_binding bound;
std::atomic<unsigned long long> last_mesh_id{0};

std::wstring widen(const std::string& s, UINT code_page = CP_ACP);

// A name from a model file: UTF-8 where it is valid UTF-8 (glTF spells names so, and so do
// .x files of plain ASCII names), otherwise in the ANSI code page, as other .x files spell them.
std::wstring name_text(const std::string& s) {
    if (s.empty()) return {};
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(), static_cast<int>(s.size()), nullptr, 0) > 0)
        return widen(s, CP_UTF8);
    return widen(s, CP_ACP);
}

class real_mesh final : public ref_counted<D3DXMesh> {
public:
    real_mesh(ComPtr<Direct3DDevice8> owner, IDirect3DDevice8* device) : owner_(std::move(owner)), device_(device) {}

    HRESULT DrawSubset(DWORD attribute) override {
        if (attribute >= subsets_.size() || subsets_[attribute].face_count == 0) return S_OK;
        const subset& s = subsets_[attribute];
        if (posed_) {
            // A posed mesh is drawn from its own copy of the vertices, which the device copies
            // into a stream of its own at the call: the next pose may be written at once, and
            // the draws of earlier poses keep theirs, with no wait for a buffer still in use.
            forget_mesh_binding(device_);  // a draw from memory leaves stream 0 and the indices unset
            HRESULT hr = device_->SetVertexShader(fvf_);
            if (FAILED(hr)) return hr;
            const size_t index_size = index_format_ == D3DFMT_INDEX32 ? 4 : 2;
            return device_->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, vertex_count_, s.face_count,
                                                   index_image_.data() + size_t{s.first_face} * 3 * index_size,
                                                   index_format_, image_.data(), stride_);
        }
        if (bound.device != device_ || bound.mesh != id_) {
            forget_mesh_binding(device_);
            HRESULT hr = device_->SetStreamSource(0, vertices_.Get(), stride_);
            if (SUCCEEDED(hr)) hr = device_->SetIndices(indices_.Get(), 0);
            if (SUCCEEDED(hr)) hr = device_->SetVertexShader(fvf_);
            if (FAILED(hr)) return hr;
            bound = {device_, id_};
        }
        return device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, vertex_count_, s.first_face * 3, s.face_count);
    }

    LONG AnimationCount() override { return pose_ ? pose_->animation_count() : 0; }

    HRESULT GetAnimation(LONG index, std::wstring* name, float* seconds) override {
        if (index < 0 || index >= AnimationCount()) return D3DERR_INVALIDCALL;
        if (name) *name = name_text(pose_->name(index));
        if (seconds) *seconds = pose_->length(index);
        return S_OK;
    }

    // Skins the kept copy of the vertices, which the mesh draws from from then on.
    HRESULT Animate(LONG animation, float seconds, float weight) override {
        if (!pose_) return animation == -1 ? S_OK : D3DERR_INVALIDCALL;
        if (animation < -1 || animation >= pose_->animation_count() || !std::isfinite(seconds) ||
            !(weight >= 0 && weight <= 1))
            return D3DERR_INVALIDCALL;
        pose_->animate(animation, seconds, weight);
        pose_->skin(image_.data(), stride_, pose_->has_normals() ? image_.data() + 12 : nullptr, stride_);
        posed_ = true;
        return S_OK;
    }

    // Fills the buffers from m, giving back m's vertex arrays as soon as they are copied, so
    // that a large mesh is not held twice at once. order receives the file's face index of
    // each face of the index buffer.
    HRESULT build(readers::mesh& m, DWORD options, std::vector<UINT>& order) {
        const D3DPOOL pool = (options & 0x220) ? D3DPOOL_MANAGED : D3DPOOL_DEFAULT;
        vertex_count_ = static_cast<UINT>(m.positions.size());
        fvf_ = D3DFVF_XYZ;
        stride_ = 12;
        const bool normals = !m.normals.empty(), colors = !m.colors.empty(), uv = !m.texcoords.empty();
        if (normals) fvf_ |= D3DFVF_NORMAL, stride_ += 12;
        if (colors) fvf_ |= D3DFVF_DIFFUSE, stride_ += 4;
        if (uv) fvf_ |= D3DFVF_TEX1, stride_ += 8;
        HRESULT hr = device_->CreateVertexBuffer(vertex_count_ * stride_, D3DUSAGE_WRITEONLY, fvf_, pool,
                                                 vertices_.GetAddressOf());
        if (FAILED(hr)) return hr;
        const auto interleave = [&](BYTE* out) {
            for (UINT i = 0; i < vertex_count_; ++i) {
                BYTE* p = out + static_cast<size_t>(i) * stride_;
                std::memcpy(p, m.positions[i].data(), 12), p += 12;
                if (normals) std::memcpy(p, m.normals[i].data(), 12), p += 12;
                if (colors) std::memcpy(p, &m.colors[i], 4), p += 4;
                if (uv) std::memcpy(p, m.texcoords[i].data(), 8);
            }
        };
        // A mesh with animations or bones keeps its pose and a copy of its vertices to skin.
        if (vertex_count_ > 0 && (!m.animations.empty() || !m.bones.empty())) {
            pose_ = std::make_unique<anim::pose>(m);
            image_.resize(static_cast<size_t>(vertex_count_) * stride_);
            interleave(image_.data());
        }
        BYTE* v = nullptr;
        hr = vertices_->Lock(0, 0, &v, 0);
        if (FAILED(hr)) return hr;
        if (pose_) std::memcpy(v, image_.data(), image_.size());
        else interleave(v);
        vertices_->Unlock();

        // The vertex data is in the buffer: give it back before the index buffer is made.
        std::vector<std::array<float, 3>>().swap(m.positions);
        std::vector<std::array<float, 3>>().swap(m.normals);
        std::vector<std::uint32_t>().swap(m.colors);
        std::vector<std::array<float, 2>>().swap(m.texcoords);

        // Faces grouped by attribute id, in file order within a group: one draw per subset. A
        // counting sort, linear in the faces (attribute ids index the file's materials).
        UINT groups = 0;
        for (std::uint32_t a : m.attributes) groups = std::max<UINT>(groups, a + 1);
        std::vector<UINT> first_of(static_cast<size_t>(groups) + 1, 0);
        for (std::uint32_t a : m.attributes) ++first_of[a + 1];
        for (UINT g = 0; g < groups; ++g) first_of[g + 1] += first_of[g];
        order.assign(m.triangles.size(), 0);
        {
            std::vector<UINT> next(first_of.begin(), first_of.end() - 1);
            for (UINT f = 0; f < order.size(); ++f) order[next[m.attributes[f]]++] = f;
        }
        const bool wide = vertex_count_ > 0xFFFF;
        const UINT index_bytes = static_cast<UINT>(order.size() * 3 * (wide ? 4 : 2));
        hr = device_->CreateIndexBuffer(std::max(index_bytes, 4u), D3DUSAGE_WRITEONLY,
                                        wide ? D3DFMT_INDEX32 : D3DFMT_INDEX16, pool, indices_.GetAddressOf());
        if (FAILED(hr)) return hr;
        BYTE* ib = nullptr;
        hr = indices_->Lock(0, 0, &ib, 0);
        if (FAILED(hr)) return hr;
        for (size_t f = 0; f < order.size(); ++f) {
            const auto& t = m.triangles[order[f]];
            for (int k = 0; k < 3; ++k) {
                if (wide) reinterpret_cast<DWORD*>(ib)[f * 3 + k] = t[k];
                else reinterpret_cast<WORD*>(ib)[f * 3 + k] = static_cast<WORD>(t[k]);
            }
            const UINT attribute = m.attributes[order[f]];
            if (attribute >= subsets_.size()) subsets_.resize(attribute + 1, subset{static_cast<UINT>(f), 0});
            if (subsets_[attribute].face_count == 0) subsets_[attribute].first_face = static_cast<UINT>(f);
            ++subsets_[attribute].face_count;
        }
        indices_->Unlock();
        if (pose_) {  // the indices again, for the draws from memory of a posed mesh
            index_format_ = wide ? D3DFMT_INDEX32 : D3DFMT_INDEX16;
            index_image_.resize(index_bytes);
            for (size_t f = 0; f < order.size(); ++f)
                for (int k = 0; k < 3; ++k) {
                    const std::uint32_t i = m.triangles[order[f]][k];
                    if (wide) std::memcpy(index_image_.data() + (f * 3 + k) * 4, &i, 4);
                    else {
                        const WORD w = static_cast<WORD>(i);
                        std::memcpy(index_image_.data() + (f * 3 + k) * 2, &w, 2);
                    }
                }
        }
        return S_OK;
    }

private:
    ComPtr<Direct3DDevice8> owner_;  // keeps the device alive
    IDirect3DDevice8* device_;
    const unsigned long long id_ = ++last_mesh_id;  // never reused, unlike an address
    ComPtr<IDirect3DVertexBuffer8> vertices_;
    ComPtr<IDirect3DIndexBuffer8> indices_;
    DWORD fvf_ = 0;
    UINT stride_ = 0;
    UINT vertex_count_ = 0;
    std::vector<subset> subsets_;
    std::unique_ptr<anim::pose> pose_;  // only for a mesh with animations or bones
    std::vector<BYTE> image_;           // its vertices as the buffer holds them, posed by Animate
    std::vector<BYTE> index_image_;     // and its indices, as the index buffer holds them
    D3DFORMAT index_format_ = D3DFMT_INDEX16;
    bool posed_ = false;  // drawn from image_ since the first Animate
};

// The neighbouring face across each edge of each face, from shared vertex pairs: the edges with
// the same two vertices are paired in file order, the first with the second, the third with the
// fourth and so on. The edges are grouped by their smaller vertex with a counting sort (4 bytes
// an edge, no allocation per edge), and each group, mostly a handful of edges, sorted by the
// other vertex.
std::vector<DWORD> adjacency_of(const readers::mesh& m) {
    const size_t faces = m.triangles.size();
    std::vector<DWORD> out(faces * 3, 0xFFFFFFFFu);
    const size_t vertices = m.positions.size();
    std::vector<UINT> first(vertices + 1, 0);
    auto low = [&](size_t edge) {
        const auto& t = m.triangles[edge / 3];
        return std::min(t[edge % 3], t[(edge + 1) % 3]);
    };
    auto high = [&](size_t edge) {
        const auto& t = m.triangles[edge / 3];
        return std::max(t[edge % 3], t[(edge + 1) % 3]);
    };
    for (size_t edge = 0; edge < faces * 3; ++edge) ++first[low(edge) + 1];
    for (size_t v = 0; v < vertices; ++v) first[v + 1] += first[v];
    std::vector<UINT> grouped(faces * 3);
    {
        std::vector<UINT> next(first.begin(), first.end() - 1);
        for (size_t edge = 0; edge < faces * 3; ++edge) grouped[next[low(edge)]++] = static_cast<UINT>(edge);
    }
    for (size_t v = 0; v < vertices; ++v) {
        // The group's edges by their other vertex, in file order among equals; a sort, not a
        // search per edge, so that a vertex shared by very many faces (a large fan) stays cheap.
        const auto begin = grouped.begin() + first[v], end = grouped.begin() + first[v + 1];
        if (end - begin > 1)
            std::sort(begin, end, [&](UINT a, UINT b) { return high(a) != high(b) ? high(a) < high(b) : a < b; });
        for (auto i = begin; i + 1 < end;) {
            if (high(*i) != high(*(i + 1))) {
                ++i;
                continue;
            }
            out[*i] = *(i + 1) / 3;
            out[*(i + 1)] = *i / 3;
            i += 2;
        }
    }
    return out;
}

// Text of the model files: .x files spell names in the ANSI code page, glTF and OBJ in UTF-8.
std::wstring widen(const std::string& s, UINT code_page) {
    if (s.empty()) return {};
    int n = MultiByteToWideChar(code_page, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(n, L'\0');
    MultiByteToWideChar(code_page, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

std::string narrow_utf8(const std::wstring& w) {
    if (w.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

// The folder part of a file name, with its final separator; empty for a bare name.
std::wstring folder_of(const std::wstring& file) {
    const size_t end = file.find_last_of(L"\\/:");
    return end == std::wstring::npos ? std::wstring() : file.substr(0, end + 1);
}

// A file that a glTF or OBJ file names relative to its own folder, as a Windows file name.
// Such names are UTF-8 and separate their parts with '/'.
std::wstring beside(const std::wstring& model_file, const std::string& name) {
    std::wstring w = widen(name, CP_UTF8);
    std::replace(w.begin(), w.end(), L'/', L'\\');
    return folder_of(model_file) + w;
}

}  // namespace

void forget_mesh_binding(IDirect3DDevice8* device) noexcept {
    if (bound.device == device) bound = {};
}

bool read_file(const wchar_t* file, std::vector<unsigned char>& out, std::wstring* detail) {
    HANDLE h = CreateFileW(file, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        if (detail) *detail = L"the file cannot be opened";
        return false;
    }
    LARGE_INTEGER size{};
    bool ok = GetFileSizeEx(h, &size) && size.QuadPart < (1LL << 30);
    if (ok) {
        out.resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        ok = out.empty() || (ReadFile(h, out.data(), static_cast<DWORD>(out.size()), &got, nullptr) && got == out.size());
    }
    CloseHandle(h);
    if (!ok && detail) *detail = L"the file cannot be read";
    return ok;
}

HRESULT load_real_mesh(const wchar_t* file, DWORD options, Direct3DDevice8* device, bool want_adjacency,
                       ComPtr<D3DXBuffer>& adjacency, ComPtr<D3DXBuffer>& materials, LONG& material_count,
                       ComPtr<D3DXMesh>& mesh, std::wstring* detail) {
    if (!file || !device || !device->native_device()) return D3DERR_INVALIDCALL;
    const std::wstring model_file(file);
    readers::mesh parsed;
    {
        std::vector<unsigned char> bytes;  // given back once parsed, before the buffers are made
        if (!read_file(file, bytes, detail)) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        // The buffers and material libraries that the file names, beside it.
        readers::side_files side = [&](const std::string& name, std::vector<std::uint8_t>& out, std::string& error) {
            std::wstring why;
            if (read_file(beside(model_file, name).c_str(), out, &why)) return true;
            error = "\"" + name + "\": " + narrow_utf8(why);
            return false;
        };
        std::string error;
        if (!readers::read(bytes.data(), bytes.size(), narrow_utf8(model_file), side, parsed, error)) {
            if (detail) *detail = widen(error, CP_UTF8);
            return static_cast<HRESULT>(0x88760B59);  // D3DXERR_INVALIDDATA
        }
    }
    ComPtr<real_adjacency_buffer> adj;
    HRESULT hr = S_OK;
    if (want_adjacency) {  // worth its time only to a caller that reads it
        hr = make<real_adjacency_buffer>(adj);
        if (FAILED(hr)) return hr;
        adj->neighbours = adjacency_of(parsed);
    }
    ComPtr<real_mesh> made;
    hr = make<real_mesh>(made, ComPtr<Direct3DDevice8>(device), device->native_device());
    if (FAILED(hr)) return hr;
    std::vector<UINT> order;
    hr = made->build(parsed, options, order);
    if (FAILED(hr)) return hr;
    if (adj) {
        // The neighbours were found in the file's face order; the mesh's faces are grouped by
        // material, so both the faces and the neighbours they name take the mesh's order.
        std::vector<UINT> position(order.size());
        for (UINT f = 0; f < order.size(); ++f) position[order[f]] = f;
        std::vector<DWORD> neighbours(adj->neighbours.size());
        for (UINT f = 0; f < order.size(); ++f)
            for (int k = 0; k < 3; ++k) {
                const DWORD n = adj->neighbours[order[f] * 3 + k];
                neighbours[f * 3 + k] = n == 0xFFFFFFFFu ? n : position[n];
            }
        adj->neighbours = std::move(neighbours);
    }

    ComPtr<real_material_buffer> mats;
    hr = make<real_material_buffer>(mats);
    if (FAILED(hr)) return hr;
    for (const auto& m : parsed.materials) {
        D3DMATERIAL8 d{};
        d.Diffuse = {m.diffuse[0], m.diffuse[1], m.diffuse[2], m.diffuse[3]};
        d.Specular = {m.specular[0], m.specular[1], m.specular[2], 1.0f};
        d.Emissive = {m.emissive[0], m.emissive[1], m.emissive[2], 1.0f};
        d.Power = m.power;
        mats->materials.push_back(d);
        texture_source source;
        switch (m.origin) {
            case readers::texture_origin::client_folder:  // as .x files spell them, in the ANSI code page
                mats->textures.push_back(widen(m.texture));
                break;
            case readers::texture_origin::model_folder:
                mats->textures.push_back(widen(m.texture, CP_UTF8));
                if (!m.texture.empty()) source.file = beside(model_file, m.texture);
                break;
            case readers::texture_origin::embedded:
                mats->textures.push_back(widen(m.texture, CP_UTF8));
                source.image = m.image;
                break;
        }
        mats->sources.push_back(std::move(source));
    }
    material_count = static_cast<LONG>(mats->materials.size());
    mesh = made;
    materials = mats;
    adjacency = adj;
    return S_OK;
}

HRESULT real_material(D3DXBuffer* materials, LONG index, D3DMATERIAL8* out) {
    auto* b = dynamic_cast<real_material_buffer*>(materials);
    if (!b || !out || index < 0 || index >= static_cast<LONG>(b->materials.size())) return D3DERR_INVALIDCALL;
    *out = b->materials[index];
    return S_OK;
}

HRESULT real_texture_name(D3DXBuffer* materials, LONG index, std::wstring* out, texture_source* source) {
    auto* b = dynamic_cast<real_material_buffer*>(materials);
    if (!b || !out || index < 0 || index >= static_cast<LONG>(b->textures.size())) return D3DERR_INVALIDCALL;
    *out = b->textures[index];
    if (source) *source = b->sources[index];
    return S_OK;
}

}  // namespace dx
