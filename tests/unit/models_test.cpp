// Models against the recording double: what model_load, model_move and model_draw call,
// with the failures of each step, and what dxmodels hands the mesh.
#include <cmath>
#include <cstring>
#include <limits>

#include "graphics_fixture.h"

namespace {

class Models : public Graphics {
protected:
    HRESULT load(const wchar_t* path, const wchar_t* file) {
        bstr p(path), f(file);
        BSTR pb = p.get(), fb = f.get();
        return g->model_load(&pb, &fb);
    }
    HRESULT move(SHORT index, float x, float y, float z) { return g->model_move(&index, &x, &y, &z); }
    HRESULT draw(SHORT index) { return g->model_draw(&index); }

    static D3DMATERIAL8 material(float r, float gr, float b) {
        D3DMATERIAL8 m{};
        m.Diffuse = {r, gr, b, 0.5f};
        m.Ambient = {9, 9, 9, 9};
        m.Specular = {0.1f, 0.2f, 0.3f, 1};
        m.Power = 7;
        return m;
    }
    engine::model_entry& slot(int i) { return (*engine::declarations().models)[i]; }

    iface::_dxmodels& models() {
        if (!models_) engine::create_dxmodels(iface::IID_dxmodels, reinterpret_cast<void**>(models_.GetAddressOf()));
        return *models_.Get();
    }
    HRESULT place(SHORT index, float x, float y, float z, float pitch, float yaw, float roll, float scale) {
        return models().model_place(&index, &x, &y, &z, &pitch, &yaw, &roll, &scale);
    }
    HRESULT animate(SHORT index, LONG animation, float seconds, float weight = 1) {
        return models().model_animate(&index, &animation, &seconds, &weight);
    }
    void TearDown() override {
        models_.Reset();
        Graphics::TearDown();
    }
    ComPtr<iface::_dxmodels> models_;
};

TEST_F(Models, LoadReadsTheMeshThenEachMaterialAndItsTexture) {
    open_device();
    log->graphics.mesh_materials = {{material(1, 0, 0), L"skin.png"}, {material(0, 1, 0), L""}};
    ASSERT_EQ(S_OK, load(L"C:\\models\\", L"cube.x"));
    EXPECT_EQ((calls{"D3DX8.LoadMeshFromX(\"C:\\models\\cube.x\",0x220,Direct3DDevice8#1)", "D3DXBuffer#1.Release",
                     "D3DX8.BufferGetMaterial(D3DXBuffer#2,0)", "D3DX8.BufferGetTextureName(D3DXBuffer#2,0)",
                     "D3DX8.CreateTextureFromFileEx(Direct3DDevice8#1,\"C:\\models\\\\skin.png\",128,128,-1,0,0,1,3,3,0x0)",
                     "D3DX8.BufferGetMaterial(D3DXBuffer#2,1)", "D3DX8.BufferGetTextureName(D3DXBuffer#2,1)",
                     "D3DXBuffer#2.Release"}),
              log->calls());
    auto& s = slot(0);
    EXPECT_EQ(VARIANT_TRUE, s.in_use);
    EXPECT_EQ(2, s.material_count);
    // The diffuse colour is copied over the ambient one; the rest stays as read.
    EXPECT_EQ(1.0f, s.materials[0].Ambient.r);
    EXPECT_EQ(0.5f, s.materials[0].Ambient.a);
    EXPECT_EQ(7.0f, s.materials[0].Power);
    EXPECT_EQ(0.2f, s.materials[0].Specular.g);
    EXPECT_NE(nullptr, s.textures[0].Get());
    EXPECT_EQ(nullptr, s.textures[1].Get());
}

// glTF and OBJ files name their images relative to themselves, which the loader resolves, and
// glTF files can hold them: neither is looked up in the client's folder.
TEST_F(Models, ResolvedAndEmbeddedTexturesAreNotLookedUpInTheClientsFolder) {
    open_device();
    log->graphics.mesh_materials = {{material(1, 0, 0), L"tex/a.png"}, {material(0, 1, 0), L"image 0"}};
    log->graphics.texture_sources.resize(2);
    log->graphics.texture_sources[0].file = L"C:\\m\\sub\\tex\\a.png";
    log->graphics.texture_sources[1].image = std::make_shared<std::vector<unsigned char>>(5, 0);
    log->fail("D3DX8.CreateTextureFromFileInMemoryEx", static_cast<HRESULT>(0x88760B59));
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(static_cast<HRESULT>(0x88760B59), load(L"C:\\m\\", L"sub\\model.glb"));
    const calls made = log->calls();
    ASSERT_GE(made.size(), 8u);
    EXPECT_EQ("D3DX8.CreateTextureFromFileEx(Direct3DDevice8#1,\"C:\\m\\sub\\tex\\a.png\",128,128,-1,0,0,1,3,3,0x0)",
              made[4]);
    EXPECT_EQ("D3DX8.CreateTextureFromFileInMemoryEx(Direct3DDevice8#1,5 bytes,128,128,-1,0,0,1,3,3,0x0)", made[7]);
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(S_OK, GetErrorInfo(0, &info));
    bstr d;
    info->GetDescription(d.out());
    EXPECT_NE(std::wstring::npos, d.str().find(L"C:\\m\\sub\\model.glb\", image \"image 0\""));
    EXPECT_NE(nullptr, slot(0).textures[0].Get());  // what came before the failure stays
}

TEST_F(Models, AMissingMeshUsesUpItsSlot) {
    open_device();
    log->fail("D3DX8.LoadMeshFromX", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), load(L"C:\\m\\", L"gone.x"));
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(S_OK, GetErrorInfo(0, &info));
    bstr d;
    info->GetDescription(d.out());
    EXPECT_NE(std::wstring::npos, d.str().find(L"C:\\m\\gone.x")) << std::string(d.str().begin(), d.str().end());
    EXPECT_EQ(VARIANT_TRUE, slot(0).in_use);
    EXPECT_EQ(0, slot(0).material_count);
    log->succeed("D3DX8.LoadMeshFromX");
    ASSERT_EQ(S_OK, load(L"C:\\m\\", L"cube.x"));
    EXPECT_EQ(VARIANT_TRUE, slot(1).in_use);
    // Drawing the empty slot only sets the world transform.
    log->clear();
    ASSERT_EQ(S_OK, draw(0));
    EXPECT_EQ((calls{"Direct3DDevice8.SetTransform(256)"}), log->calls());
}

TEST_F(Models, AMissingTextureStopsTheMaterialLoopAtItsMaterial) {
    open_device();
    log->graphics.mesh_materials = {{material(1, 0, 0), L"a.png"}, {material(0, 1, 0), L"b.png"},
                                    {material(0, 0, 1), L"c.png"}};
    log->fail("D3DX8.CreateTextureFromFileEx(Direct3DDevice8#1,\"p\\b.png\",128,128,-1,0,0,1,3,3,0x0)",
              static_cast<HRESULT>(0x88760B59));
    EXPECT_EQ(static_cast<HRESULT>(0x88760B59), load(L"p", L"\\m.x"));
    auto& s = slot(0);
    EXPECT_EQ(3, s.material_count);
    EXPECT_NE(nullptr, s.textures[0].Get());
    EXPECT_EQ(nullptr, s.textures[1].Get());
    EXPECT_EQ(1.0f, s.materials[1].Diffuse.g);  // material k read, texture k not
    EXPECT_EQ(0.0f, s.materials[2].Diffuse.b);  // materials above k untouched
    EXPECT_NE(nullptr, s.mesh.Get());
}

TEST_F(Models, MoreThan101MaterialsFailWithSubscriptOutOfRange) {
    open_device();
    log->graphics.mesh_materials.assign(102, {material(1, 1, 1), L""});
    EXPECT_EQ(com::error_subscript, load(L"p\\", L"many.x"));
    auto& s = slot(0);
    EXPECT_EQ(102, s.material_count);
    EXPECT_EQ(1.0f, s.materials[100].Diffuse.r);
    log->clear();
    EXPECT_EQ(com::error_subscript, draw(0));
    EXPECT_EQ("D3DXMesh.DrawSubset(100)", log->calls().back());
}

TEST_F(Models, DrawSetsTheWorldThenEachSubsetsMaterialTextureAndDraw) {
    open_device();
    log->graphics.mesh_materials = {{material(1, 0, 0), L"t.png"}, {material(0, 1, 0), L""}};
    ASSERT_EQ(S_OK, load(L"p\\", L"m.x"));
    ASSERT_EQ(S_OK, move(0, 1, 2, 3));
    ASSERT_EQ(S_OK, move(0, 4, 5, 6));  // replaces, never combines
    log->clear();
    log->graphics.transforms.clear();
    log->graphics.materials.clear();
    ASSERT_EQ(S_OK, draw(0));
    EXPECT_EQ((calls{"Direct3DDevice8.SetTransform(256)", "Direct3DDevice8.SetMaterial",
                     "Direct3DDevice8.SetTexture(0,Direct3DTexture8#1)", "D3DXMesh.DrawSubset(0)",
                     "Direct3DDevice8.SetMaterial", "Direct3DDevice8.SetTexture(0,null)", "D3DXMesh.DrawSubset(1)"}),
              log->calls());
    const auto& w = log->graphics.transforms[0].second;
    EXPECT_EQ(4.0f, w._41);
    EXPECT_EQ(5.0f, w._42);
    EXPECT_EQ(6.0f, w._43);
    EXPECT_EQ(1.0f, w._11);
    EXPECT_EQ(0.0f, log->graphics.materials[1].Diffuse.r);
}

TEST_F(Models, ANeverMovedModelIsDrawnWithAZeroWorldMatrix) {
    open_device();
    ASSERT_EQ(S_OK, load(L"p\\", L"m.x"));
    log->graphics.transforms.clear();
    ASSERT_EQ(S_OK, draw(0));
    D3DMATRIX zero{};
    EXPECT_EQ(0, std::memcmp(&zero, &log->graphics.transforms[0].second, sizeof zero));
}

TEST_F(Models, IndicesOutsideTheTableAreSubscriptOutOfRange) {
    open_device();
    for (SHORT bad : {SHORT(-1), SHORT(801)}) {
        EXPECT_EQ(com::error_subscript, move(bad, 0, 0, 0));
        EXPECT_EQ(com::error_subscript, draw(bad));
    }
    EXPECT_TRUE(log->calls().empty());
    EXPECT_EQ(S_OK, move(800, 1, 1, 1));  // a slot never loaded may be moved and drawn
    EXPECT_EQ(S_OK, draw(800));
}

TEST_F(Models, AFullTableLoadsNothingAndSucceeds) {
    open_device();
    for (int i = 0; i < engine::model_slots; ++i) slot(i).in_use = VARIANT_TRUE;
    log->clear();
    EXPECT_EQ(S_OK, load(L"p\\", L"m.x"));
    EXPECT_TRUE(log->calls().empty());
}

TEST_F(Models, WithoutADeviceLoadAndDrawFailWithObjectNotSet) {
    open_root();
    EXPECT_EQ(com::error_object_not_set, load(L"p\\", L"m.x"));
    EXPECT_EQ(VARIANT_TRUE, slot(0).in_use);  // the slot was taken before the failure
    EXPECT_EQ(com::error_object_not_set, draw(0));
}

// Meshes and textures go with the device they were made on, at engine_end or when a new device
// replaces it, so that no device outlives its client's window in them; their slots stay taken
// and placed, drawing nothing.
TEST_F(Models, MeshesAndTexturesGoWithTheirDevice) {
    open_device();
    log->graphics.mesh_materials = {{material(1, 0, 0), L"t.png"}};
    ASSERT_EQ(S_OK, load(L"p\\", L"m.x"));
    ASSERT_EQ(S_OK, move(0, 1, 2, 3));
    ASSERT_EQ(S_OK, g->engine_end());
    EXPECT_EQ(0, log->live("D3DXMesh"));
    EXPECT_EQ(0, log->live("Direct3DTexture8"));
    EXPECT_EQ(1, log->live("Direct3DDevice8"));  // the font's
    EXPECT_EQ(VARIANT_TRUE, slot(0).in_use);
    EXPECT_EQ(3.0f, slot(0).world._43);

    ASSERT_EQ(S_OK, initialise(1));
    EXPECT_EQ(1, log->live("Direct3DDevice8"));  // the new font replaced the old one
    ASSERT_EQ(S_OK, load(L"p\\", L"m.x"));
    EXPECT_EQ(VARIANT_TRUE, slot(1).in_use);
    log->clear();
    ASSERT_EQ(S_OK, draw(0));
    EXPECT_EQ((calls{"Direct3DDevice8.SetTransform(256)"}), log->calls());

    // Opened again without engine_end: the device that goes takes its models along.
    ASSERT_EQ(S_OK, initialise(1));
    EXPECT_EQ(0, log->live("D3DXMesh"));
    EXPECT_EQ(1, log->live("Direct3DDevice8"));
}

// model_place: scale, then roll about z, pitch about x, yaw about y, then the translation.
// model_animate: checked, then handed to the mesh; the mesh and its animations go at
// engine_end. A bad argument changes nothing. (Scripts and the end-to-end tests check the rest.)
TEST_F(Models, DxmodelsPlacesAndHandsCheckedPosesToTheMesh) {
    ASSERT_EQ(S_OK, place(3, 1, 2, 3, 90, 90, 0, 2));
    const D3DMATRIX& w = slot(3).world;
    const float expected[4][4] = {{0, 0, -2, 0}, {2, 0, 0, 0}, {0, -2, 0, 0}, {1, 2, 3, 1}};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) EXPECT_NEAR(expected[i][j], w.m[i][j], 1e-6) << i << "," << j;
    const D3DMATRIX before = w;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(com::error_invalid_argument, place(3, 0, 0, 0, nan, 0, 0, 1));
    EXPECT_NE(std::wstring::npos, error_description().find(L"pitch"));
    EXPECT_EQ(0, std::memcmp(&before, &w, sizeof before));

    open_device();
    log->graphics.mesh_animations = {{L"walk", 2.5f}, {L"", 0.0f}};
    ASSERT_EQ(S_OK, load(L"p\\", L"m.x"));
    log->clear();
    EXPECT_EQ(S_OK, animate(0, 0, -7.25f, 0.5f));
    EXPECT_EQ(S_OK, animate(0, -1, 0));
    EXPECT_EQ(com::error_subscript, animate(0, 2, 0));
    EXPECT_EQ(com::error_subscript, animate(0, -2, 0));
    EXPECT_EQ(com::error_invalid_argument, animate(0, 0, std::numeric_limits<float>::infinity()));
    EXPECT_EQ(com::error_invalid_argument, animate(0, 0, 0, nan));
    EXPECT_NE(std::wstring::npos, error_description().find(L"weight"));
    EXPECT_EQ((calls{"D3DXMesh.Animate(0,-7.25,0.5)", "D3DXMesh.Animate(-1,0,1)"}), log->calls());

    ASSERT_EQ(S_OK, g->engine_end());
    SHORT index = 0;
    LONG count = -1, animation = 0;
    float length = 0;
    ASSERT_EQ(S_OK, models().model_animation_count(&index, &count));
    EXPECT_EQ(0, count);
    EXPECT_EQ(com::error_subscript, models().model_animation_length(&index, &animation, &length));
}

}  // namespace
