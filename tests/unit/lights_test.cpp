// Lights against the recording double: the record of each kind, slots, switches, colours and
// the ambient level.
#include <cstring>

#include "graphics_fixture.h"

namespace {

class Lights : public Graphics {
protected:
    HRESULT spot(LONG inner, LONG outer, VARIANT_BOOL enabled = VARIANT_TRUE) {
        float px = 1, py = 2, pz = 3, dx = 0, dy = -1, dz = 0.5f, r = 0.25f, gr = 0.5f, b = 0.75f;
        LONG range = 100;
        return g->light_create_spot(&px, &py, &pz, &dx, &dy, &dz, &r, &gr, &b, &inner, &outer, &range, &enabled);
    }
    HRESULT directional(VARIANT_BOOL enabled = VARIANT_TRUE) {
        float px = 4, py = 5, pz = 6, dx = 1, dy = 0, dz = 0, r = 1, gr = 1, b = 1;
        LONG range = 7;
        return g->light_create_directional(&px, &py, &pz, &dx, &dy, &dz, &r, &gr, &b, &range, &enabled);
    }
    HRESULT point(VARIANT_BOOL enabled = VARIANT_TRUE, float att = 0.125f) {
        float px = 7, py = 8, pz = 9, range = 50.5f, r = 0, gr = 1, b = 0;
        return g->light_create_point(&px, &py, &pz, &range, &att, &r, &gr, &b, &enabled);
    }
    HRESULT ambience(const wchar_t* color) {
        bstr c(color);
        BSTR cb = c.get();
        return g->light_ambience(&cb);
    }
};

TEST_F(Lights, ASpotLightsRecordAndItsAnglesInRadians) {
    open_device();
    ASSERT_EQ(S_OK, spot(30, 45));
    EXPECT_EQ((calls{"Direct3DDevice8.SetMaterial", "Direct3DDevice8.SetLight(0)", "Direct3DDevice8.LightEnable(0,1)"}),
              log->calls());
    const auto& white = log->graphics.materials.back();
    EXPECT_EQ(1.0f, white.Diffuse.a);
    EXPECT_EQ(1.0f, white.Ambient.r);
    EXPECT_EQ(0.0f, white.Specular.r);
    EXPECT_EQ(0.0f, white.Power);
    const auto& l = log->graphics.lights.back();
    EXPECT_EQ(D3DLIGHT_SPOT, l.Type);
    EXPECT_EQ(0.25f, l.Diffuse.r);
    EXPECT_EQ(0.5f, l.Diffuse.g);
    EXPECT_EQ(0.75f, l.Diffuse.b);
    EXPECT_EQ(0.0f, l.Diffuse.a);
    EXPECT_EQ(0.0f, l.Specular.r);
    EXPECT_EQ(0.0f, l.Ambient.g);
    EXPECT_EQ(3.0f, l.Position.z);
    EXPECT_EQ(0.5f, l.Direction.z);
    EXPECT_EQ(100.0f, l.Range);
    EXPECT_EQ(0.0f, l.Falloff);
    // No attenuation is constant intensity: all three factors zero would black out the scene.
    EXPECT_EQ(1.0f, l.Attenuation0);
    EXPECT_EQ(0.0f, l.Attenuation1);
    EXPECT_EQ(0.0f, l.Attenuation2);
    EXPECT_FLOAT_EQ(0.5235988f, l.Theta);
    EXPECT_FLOAT_EQ(0.7853982f, l.Phi);
}

TEST_F(Lights, DirectionalAndPointLightsKeepTheirOwnFields) {
    open_device();
    ASSERT_EQ(S_OK, directional());
    auto d = log->graphics.lights.back();
    EXPECT_EQ(D3DLIGHT_DIRECTIONAL, d.Type);
    EXPECT_EQ(4.0f, d.Position.x);  // stored although a directional light does not use it
    EXPECT_EQ(1.0f, d.Direction.x);
    EXPECT_EQ(7.0f, d.Range);
    EXPECT_EQ(0.0f, d.Theta);
    ASSERT_EQ(S_OK, point());
    auto p = log->graphics.lights.back();
    EXPECT_EQ(D3DLIGHT_POINT, p.Type);
    EXPECT_EQ(8.0f, p.Position.y);
    EXPECT_EQ(0.0f, p.Direction.x);
    EXPECT_EQ(0.0f, p.Direction.y);
    EXPECT_EQ(50.5f, p.Range);
    EXPECT_EQ(0.125f, p.Attenuation1);
    EXPECT_EQ(0.0f, p.Attenuation0);
    EXPECT_EQ(1.0f, p.Diffuse.g);
    // A point light given no attenuation shines at constant intensity; a directional light has
    // no use for the factors and keeps them zero.
    ASSERT_EQ(S_OK, point(VARIANT_TRUE, 0.0f));
    EXPECT_EQ(1.0f, log->graphics.lights.back().Attenuation0);
    EXPECT_EQ(0.0f, d.Attenuation0);
}

TEST_F(Lights, SlotsAreTakenInOrderAcrossKindsAndOnlyTrueSwitchesOn) {
    open_device();
    ASSERT_EQ(S_OK, spot(10, 20));
    ASSERT_EQ(S_OK, spot(10, 20, VARIANT_FALSE));
    ASSERT_EQ(S_OK, point(1));  // 1 is not True
    EXPECT_EQ((calls{"Direct3DDevice8.SetMaterial", "Direct3DDevice8.SetLight(0)", "Direct3DDevice8.LightEnable(0,1)",
                     "Direct3DDevice8.SetMaterial", "Direct3DDevice8.SetLight(1)", "Direct3DDevice8.SetMaterial",
                     "Direct3DDevice8.SetLight(2)"}),
              log->calls());
    log->clear();
    SHORT on = -1, index = 2;
    ASSERT_EQ(S_OK, g->light_switch(&on, &index));
    SHORT off = 0, never = 150;
    ASSERT_EQ(S_OK, g->light_switch(&off, &never));
    SHORT negative = -3;
    ASSERT_EQ(S_OK, g->light_switch(&on, &negative));
    EXPECT_EQ((calls{"Direct3DDevice8.LightEnable(2,-1)", "Direct3DDevice8.LightEnable(150,0)",
                     "Direct3DDevice8.LightEnable(4294967293,-1)"}),
              log->calls());
}

TEST_F(Lights, TheTwoHundredAndSecondCreateMakesNothingButTheMaterial) {
    open_device();
    for (int i = 0; i < 201; ++i) ASSERT_EQ(S_OK, directional());
    log->clear();
    EXPECT_EQ(S_OK, point());
    EXPECT_EQ((calls{"Direct3DDevice8.SetMaterial"}), log->calls());
}

TEST_F(Lights, AFailingSetLightKeepsTheSlotTakenAndSkipsTheSwitch) {
    open_device();
    log->fail("Direct3DDevice8.SetLight", D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DERR_INVALIDCALL, spot(1, 2));
    EXPECT_TRUE(only("Direct3DDevice8.LightEnable").empty());
    log->succeed("Direct3DDevice8.SetLight");
    log->clear();
    ASSERT_EQ(S_OK, point());
    EXPECT_EQ((calls{"Direct3DDevice8.SetLight(1)"}), only("Direct3DDevice8.SetLight"));
}

TEST_F(Lights, ChangeColorSetsTheDiffuseUnscaledAndResendsTheWholeLight) {
    open_device();
    ASSERT_EQ(S_OK, spot(30, 45));
    LONG r = 1, gr = 0, b = 3;
    SHORT index = 0;
    log->clear();
    ASSERT_EQ(S_OK, g->light_change_color(&r, &gr, &b, &index));
    EXPECT_EQ((calls{"Direct3DDevice8.SetLight(0)"}), log->calls());
    const auto& l = log->graphics.lights.back();
    EXPECT_EQ(1.0f, l.Diffuse.r);
    EXPECT_EQ(0.0f, l.Diffuse.g);
    EXPECT_EQ(3.0f, l.Diffuse.b);
    EXPECT_FLOAT_EQ(0.5235988f, l.Theta);  // the rest as stored
    // A free slot is sent as it stands (type 0): the device decides.
    index = 5;
    ASSERT_EQ(S_OK, g->light_change_color(&r, &gr, &b, &index));
    EXPECT_EQ(0, log->graphics.lights.back().Type);
    for (SHORT bad : {SHORT(-1), SHORT(201)}) {
        log->clear();
        EXPECT_EQ(com::error_subscript, g->light_change_color(&r, &gr, &b, &bad));
        EXPECT_TRUE(log->calls().empty());
    }
}

TEST_F(Lights, AmbienceReadsHexTextWithTheRuntimesConversion) {
    open_device();
    const std::pair<const wchar_t*, const char*> ok[] = {
        {L"FFFFFF", "(139,0x00FFFFFF)"}, {L"FFFFFFFF", "(139,0xFFFFFFFF)"}, {L"80", "(139,0x00000080)"},
        {L"ff8000", "(139,0x00FF8000)"}};
    for (auto [color, want] : ok) {
        ASSERT_EQ(S_OK, ambience(color));
        EXPECT_EQ(std::string("Direct3DDevice8.SetRenderState") + want, log->calls().back());
    }
    log->clear();
    EXPECT_EQ(com::error_type_mismatch, ambience(L""));
    EXPECT_EQ(com::error_type_mismatch, ambience(L"#FFFFFF"));
    EXPECT_EQ(com::error_type_mismatch, ambience(L"FFZZFF"));
    EXPECT_EQ(com::error_overflow, ambience(L"123456789"));
    EXPECT_TRUE(log->calls().empty());
}

TEST_F(Lights, WithoutADeviceEveryLightCallFailsWithObjectNotSet) {
    EXPECT_EQ(com::error_object_not_set, spot(1, 2));
    EXPECT_EQ(com::error_object_not_set, ambience(L"FFFFFF"));
    SHORT on = -1, index = 0;
    EXPECT_EQ(com::error_object_not_set, g->light_switch(&on, &index));
    // The record was already changed when the missing device is found.
    LONG r = 1, gr = 1, b = 1;
    EXPECT_EQ(com::error_object_not_set, g->light_change_color(&r, &gr, &b, &index));
    // No slot was taken by the failed create: the first light later is still index 0.
    open_device();
    ASSERT_EQ(S_OK, point());
    EXPECT_EQ((calls{"Direct3DDevice8.SetLight(0)"}), only("Direct3DDevice8.SetLight"));
}

}  // namespace
