// Device set-up and shutdown, camera, fill modes and FloatToDWord against the recording double.
#include <cmath>
#include <cstring>

#include "graphics_fixture.h"

namespace {

std::string state(int which, DWORD value) {
    char text[64];
    std::snprintf(text, sizeof text, "Direct3DDevice8.SetRenderState(%d,0x%08lX)", which, value);
    return text;
}

TEST_F(Graphics, DefaultsOpenAFullScreen640By480DeviceWithoutMultisamplingOrFog) {
    open_root();
    ASSERT_EQ(S_OK, initialise());
    ASSERT_EQ(1u, log->graphics.present_parameters.size());
    const auto& pp = log->graphics.present_parameters[0];
    EXPECT_EQ(640u, pp.BackBufferWidth);
    EXPECT_EQ(480u, pp.BackBufferHeight);
    EXPECT_EQ(D3DFMT_X8R8G8B8, pp.BackBufferFormat);
    EXPECT_EQ(1u, pp.BackBufferCount);
    EXPECT_EQ(D3DMULTISAMPLE_NONE, pp.MultiSampleType);
    EXPECT_EQ(D3DSWAPEFFECT_COPY, pp.SwapEffect);
    EXPECT_EQ(reinterpret_cast<HWND>(1234), pp.hDeviceWindow);
    EXPECT_FALSE(pp.Windowed);
    EXPECT_TRUE(pp.EnableAutoDepthStencil);
    EXPECT_EQ(D3DFMT_D16, pp.AutoDepthStencilFormat);
    EXPECT_EQ(0u, pp.Flags);
    EXPECT_EQ(0u, pp.FullScreen_RefreshRateInHz);
    EXPECT_EQ(0u, pp.FullScreen_PresentationInterval);
    EXPECT_EQ((calls{"Direct3D8.GetAdapterDisplayMode(0)", "Direct3D8.CreateDevice(0,1,1234,0x20)"}),
              only("Direct3D8."));
    EXPECT_EQ((calls{"D3DX8.create", "D3DX8.CreateFont(Direct3DDevice8#1,hfont)"}), only("D3DX8."));
    EXPECT_EQ(VARIANT_TRUE, initialised());
    EXPECT_TRUE(notices.empty());
}

TEST_F(Graphics, WindowOneIsWindowedWithTheDisplayFormatAndEveryOtherValueFullScreen) {
    open_root();
    log->graphics.display_mode.Format = D3DFMT_R5G6B5;
    ASSERT_EQ(S_OK, initialise(1, 300, 200));
    auto pp = log->graphics.present_parameters.back();
    EXPECT_EQ(0u, pp.BackBufferWidth);
    EXPECT_EQ(0u, pp.BackBufferHeight);
    EXPECT_EQ(D3DFMT_R5G6B5, pp.BackBufferFormat);
    EXPECT_EQ(0u, pp.BackBufferCount);
    EXPECT_EQ(nullptr, pp.hDeviceWindow);
    EXPECT_TRUE(pp.Windowed);
    for (SHORT window : {SHORT(-1), SHORT(2)}) {
        ASSERT_EQ(S_OK, initialise(window));
        EXPECT_FALSE(log->graphics.present_parameters.back().Windowed);
    }
}

TEST_F(Graphics, AntialiasingOnlyWhenExactlyTrue) {
    open_root();
    struct row {
        VARIANT_BOOL on;
        SHORT samples;
        D3DMULTISAMPLE_TYPE type;
        D3DSWAPEFFECT swap;
        bool state;
    } rows[] = {{VARIANT_TRUE, 2, D3DMULTISAMPLE_2_SAMPLES, D3DSWAPEFFECT_DISCARD, true},
                {VARIANT_TRUE, 4, D3DMULTISAMPLE_4_SAMPLES, D3DSWAPEFFECT_DISCARD, true},
                {VARIANT_TRUE, 3, D3DMULTISAMPLE_3_SAMPLES, D3DSWAPEFFECT_DISCARD, true},
                {VARIANT_TRUE, 1, D3DMULTISAMPLE_NONE, D3DSWAPEFFECT_DISCARD, true},
                {VARIANT_TRUE, 5, D3DMULTISAMPLE_NONE, D3DSWAPEFFECT_DISCARD, true},
                {1, 4, D3DMULTISAMPLE_NONE, D3DSWAPEFFECT_COPY, false}};
    for (const auto& r : rows) {
        log->clear();
        ASSERT_EQ(S_OK, initialise(1, 640, 480, r.on, r.samples));
        const auto& pp = log->graphics.present_parameters.back();
        EXPECT_EQ(r.type, pp.MultiSampleType) << r.samples;
        EXPECT_EQ(r.swap, pp.SwapEffect) << r.samples;
        auto states = only("Direct3DDevice8.SetRenderState");
        bool has = std::find(states.begin(), states.end(), state(D3DRS_MULTISAMPLEANTIALIAS, 1)) != states.end();
        EXPECT_EQ(r.state, has) << r.samples;
    }
}

TEST_F(Graphics, RenderStatesWithoutAndWithFog) {
    open_root();
    ASSERT_EQ(S_OK, initialise(1, 640, 480, VARIANT_FALSE, 2, 1, 1.0f, 2.0f));  // 1 is not True
    EXPECT_EQ((calls{state(D3DRS_LIGHTING, 1), state(D3DRS_ZENABLE, 1)}), only("Direct3DDevice8.SetRenderState"));
    EXPECT_TRUE(only("Direct3D8.GetDeviceCaps").empty());

    log->clear();
    log->graphics.raster_caps = D3DPRASTERCAPS_FOGRANGE;
    ASSERT_EQ(S_OK, initialise(1, 640, 480, VARIANT_FALSE, 2, VARIANT_TRUE, 1.0f, -0.0f));
    EXPECT_EQ((calls{state(D3DRS_LIGHTING, 1), state(D3DRS_ZENABLE, 1), state(D3DRS_FOGENABLE, 1),
                     state(D3DRS_FOGTABLEMODE, 0), state(D3DRS_FOGVERTEXMODE, 3), state(D3DRS_RANGEFOGENABLE, 1),
                     state(D3DRS_FOGSTART, 0x3F800000), state(D3DRS_FOGEND, 0x80000000)}),
              only("Direct3DDevice8.SetRenderState"));
    EXPECT_EQ((calls{"Direct3D8.GetDeviceCaps(0,1)"}), only("Direct3D8.GetDeviceCaps"));
    // The fog distances went through a 4-byte buffer.
    EXPECT_EQ(2u, only("D3DX8.CreateBuffer(4)").size());

    // A failing capabilities query is not reported and answers no.
    log->clear();
    log->fail("Direct3D8.GetDeviceCaps", D3DERR_NOTAVAILABLE);
    ASSERT_EQ(S_OK, initialise(1, 640, 480, VARIANT_FALSE, 2, VARIANT_TRUE, 0.0f, 0.0f));
    EXPECT_TRUE(notices.empty());
    auto states = only("Direct3DDevice8.SetRenderState");
    EXPECT_EQ(state(D3DRS_RANGEFOGENABLE, 0), states[5]);
    EXPECT_EQ(state(D3DRS_FOGSTART, 0), states[6]);
}

TEST_F(Graphics, TransformsAndProjection) {
    open_root();
    ASSERT_EQ(S_OK, initialise(1));
    const auto& t = log->graphics.transforms;
    ASSERT_EQ(3u, t.size());
    EXPECT_EQ(D3DTS_WORLDMATRIX(0), t[0].first);
    EXPECT_EQ(D3DTS_VIEW, t[1].first);
    EXPECT_EQ(D3DTS_PROJECTION, t[2].first);
    D3DMATRIX identity{};
    identity._11 = identity._22 = identity._33 = identity._44 = 1;
    EXPECT_EQ(0, std::memcmp(&identity, &t[0].second, sizeof identity));
    // View from (0, 50, 90) at the origin: the eye lies at depth |eye| on the view axis.
    const auto& v = t[1].second;
    EXPECT_NEAR(std::sqrt(50.0 * 50.0 + 90.0 * 90.0), v._43, 1e-3);
    EXPECT_NEAR(0.0, v._41, 1e-6);
    EXPECT_NEAR(-1.0, v._11, 1e-6);  // looking towards -z, the view's x axis is the world's -x
    EXPECT_NEAR(-50.0 / std::sqrt(50.0 * 50.0 + 90.0 * 90.0), v._23, 1e-6);
    // Perspective with fovy pi/4 as a Single, aspect 1, near 0.1, far 5000.
    const auto& p = t[2].second;
    const double cot = 1.0 / std::tan(static_cast<float>(3.1415927 / 4) / 2.0);
    EXPECT_NEAR(cot, p._11, 1e-5);
    EXPECT_NEAR(cot, p._22, 1e-5);
    EXPECT_NEAR(5000.0 / (5000.0 - 0.1), p._33, 1e-6);
    EXPECT_EQ(1.0f, p._34);
    EXPECT_NEAR(-0.1 * 5000.0 / (5000.0 - 0.1), p._43, 1e-6);
    EXPECT_EQ(0.0f, p._44);
}

TEST_F(Graphics, ADefaultBoldVerdanaFontIsMadeForTheDevice) {
    open_root();
    ASSERT_EQ(S_OK, initialise(1));
    EXPECT_EQ((calls{"D3DX8.CreateFont(Direct3DDevice8#1,hfont)"}), only("D3DX8.CreateFont"));
}

TEST_F(Graphics, AFailedSetUpShowsItsErrorAndStillSucceeds) {
    open_root();
    log->fail("Direct3D8.CreateDevice", D3DERR_NOTAVAILABLE);
    ASSERT_EQ(S_OK, initialise());
    ASSERT_EQ(1u, notices.size());
    EXPECT_EQ(0u, notices[0].find(L"Direct3D8.CreateDevice failed"));
    EXPECT_EQ(VARIANT_FALSE, initialised());
    EXPECT_EQ(nullptr, engine::declarations().d3ddevice.Get());
    // The screen size was already stored.
    log->succeed("Direct3D8.CreateDevice");
    log->clear();
    ASSERT_EQ(S_OK, initialise(1));
    EXPECT_EQ(VARIANT_TRUE, initialised());
    // A later failure keeps Initialised True.
    log->fail("Direct3DDevice8.SetRenderState", E_FAIL);
    ASSERT_EQ(S_OK, initialise(1));
    EXPECT_EQ(2u, notices.size());
    EXPECT_EQ(VARIANT_TRUE, initialised());
    EXPECT_NE(nullptr, engine::declarations().d3ddevice.Get());
}

TEST_F(Graphics, SetUpBeforeDxmainInitializeReportsAnObjectNotSet) {
    ASSERT_EQ(S_OK, initialise());
    ASSERT_EQ(1u, notices.size());
    EXPECT_EQ(L"Object variable or With block variable not set", notices[0]);
    EXPECT_EQ(VARIANT_FALSE, initialised());
}

TEST_F(Graphics, EngineEndReleasesTheDeviceAndMayBeCalledTwice) {
    EXPECT_EQ(S_OK, g->engine_end());
    open_device();
    EXPECT_EQ(S_OK, g->engine_end());
    EXPECT_EQ(S_OK, g->engine_end());
    EXPECT_EQ(nullptr, engine::declarations().d3ddevice.Get());
    EXPECT_NE(nullptr, engine::declarations().d3dx8.Get());
    EXPECT_EQ(VARIANT_TRUE, initialised());
    // The font keeps its own reference to the device.
    EXPECT_EQ(1, log->live("Direct3DDevice8"));
    EXPECT_EQ(com::error_object_not_set, g->scene_begin());
    EXPECT_EQ(com::error_object_not_set, g->engine_render_solid_mode());
}

TEST_F(Graphics, FillModesAreOneRenderStateEach) {
    open_device();
    g->engine_render_point_mode();
    g->engine_render_wireframe_mode();
    g->engine_render_solid_mode();
    EXPECT_EQ((calls{state(D3DRS_FILLMODE, 1), state(D3DRS_FILLMODE, 2), state(D3DRS_FILLMODE, 3)}), log->calls());
}

TEST_F(Graphics, FloatToDWordReturnsTheBitPattern) {
    float f = 1.0f;
    LONG bits = 0;
    EXPECT_EQ(com::error_object_not_set, g->FloatToDWord(&f, &bits));
    open_device();
    const std::pair<float, LONG> cases[] = {{1.0f, 1065353216}, {0.1f, 1036831949}, {5000.0f, 1167867904},
                                            {-0.0f, INT32_MIN}, {0.0f, 0}};
    for (auto [value, want] : cases) {
        EXPECT_EQ(S_OK, g->FloatToDWord(&value, &bits));
        EXPECT_EQ(want, bits);
    }
    log->fail("D3DX8.BufferSetData", E_FAIL);
    EXPECT_EQ(E_FAIL, g->FloatToDWord(&f, &bits));
    // The buffer is released also when a step fails.
    EXPECT_EQ(0, log->live("D3DXBuffer"));
}

TEST_F(Graphics, TheCameraIsUsedFromTheNextFrameAndSurvivesSetUp) {
    float x = 1, y = 2, z = 3, tx = 1, ty = 2, tz = 10;
    EXPECT_EQ(S_OK, g->camera_position(&x, &y, &z));
    EXPECT_EQ(S_OK, g->camera_lookat(&tx, &ty, &tz));
    open_device();
    log->graphics.transforms.clear();
    ASSERT_EQ(S_OK, g->scene_begin());
    ASSERT_EQ(2u, log->graphics.transforms.size());
    const auto& v = log->graphics.transforms[0].second;
    // Looking down +z from (1, 2, 3): the view moves the eye to the origin.
    EXPECT_NEAR(-1.0, v._41, 1e-6);
    EXPECT_NEAR(-2.0, v._42, 1e-6);
    EXPECT_NEAR(-3.0, v._43, 1e-6);
    EXPECT_NEAR(1.0, v._33, 1e-6);
}

}  // namespace
