// The frame cycle and the frame-rate bookkeeping against the recording double.
#include "graphics_fixture.h"

namespace {

class Frames : public Graphics {
protected:
    LONG rate() {
        LONG v = -1;
        g->get_FrameRate(&v);
        return v;
    }
    LONG max() {
        LONG v = -1;
        g->get_Frameratemax(&v);
        return v;
    }
    LONG min() {
        LONG v = -1;
        g->get_frameratemin(&v);
        return v;
    }
    // n frames, the clock advancing by step milliseconds after each.
    void frames(int n, DWORD step) {
        for (int i = 0; i < n; ++i) {
            ASSERT_EQ(S_OK, g->scene_begin());
            ASSERT_EQ(S_OK, g->scene_end());
            now += step;
        }
    }
};

TEST_F(Frames, BeginClearsBeginsAndSetsViewThenWorldAndEndPresents) {
    open_device();
    ASSERT_EQ(S_OK, g->scene_begin());
    ASSERT_EQ(S_OK, g->scene_end());
    EXPECT_EQ((calls{"Direct3DDevice8.Clear(0,null,3,0x00000000,1,0)", "Direct3DDevice8.BeginScene",
                     "Direct3DDevice8.SetTransform(2)", "Direct3DDevice8.SetTransform(256)",
                     "Direct3DDevice8.EndScene", "Direct3DDevice8.Present(0,0,0,0)"}),
              log->calls());
}

TEST_F(Frames, TheFirstSampleIsZeroAndLaterSamplesCountTheFramesOfEachWindow) {
    open_device();
    frames(1, 0);  // tick 5000 is a second past the initial 0: a sample of 0 frames
    EXPECT_EQ(0, rate());
    EXPECT_EQ(0, min());
    EXPECT_EQ(0, max());
    // The frame that closed the window counts in the next one: 1 + 9 frames.
    frames(9, 100);
    EXPECT_EQ(0, rate());
    now = 6000;
    frames(1, 0);
    EXPECT_EQ(10, rate());
    EXPECT_EQ(10, min());  // a minimum of 0 counts as none held yet
    EXPECT_EQ(10, max());
    frames(19, 50);
    now = 7000;
    frames(1, 0);
    EXPECT_EQ(20, rate());
    EXPECT_EQ(10, min());
    EXPECT_EQ(20, max());
    frames(4, 200);
    now = 8000;
    frames(1, 0);
    EXPECT_EQ(5, rate());
    EXPECT_EQ(5, min());
    EXPECT_EQ(20, max());
    // A window of 999 ms is not closed.
    frames(1, 999);
    frames(1, 0);
    EXPECT_EQ(5, rate());
}

TEST_F(Frames, SetUpResetsTheStatisticsButNotTheRate) {
    open_device();
    frames(1, 0);
    frames(6, 0);
    now = 6000;
    frames(1, 0);
    ASSERT_EQ(7, rate());
    ASSERT_EQ(S_OK, initialise(1));
    EXPECT_EQ(7, rate());
    EXPECT_EQ(0, max());
    EXPECT_EQ(0, min());
    frames(3, 0);
    now = 7000;
    frames(1, 0);
    EXPECT_EQ(4, rate());
    EXPECT_EQ(4, min());
    EXPECT_EQ(4, max());
}

TEST_F(Frames, ATickCountPast2To31OverflowsAfterPresentingAndChangesNothing) {
    open_device();
    now = 100000;
    frames(1, 0);  // sample: last tick 100000
    LONG count = engine::dxgraphics_access::frame_count(g.Get());
    now = 0x80000000u + 5;  // reads as a large negative number
    log->clear();
    ASSERT_EQ(S_OK, g->scene_begin());
    EXPECT_EQ(com::error_overflow, g->scene_end());
    EXPECT_EQ("Direct3DDevice8.Present(0,0,0,0)", log->calls().back());
    EXPECT_EQ(count, engine::dxgraphics_access::frame_count(g.Get()));
    EXPECT_EQ(100000, engine::dxgraphics_access::last_tick(g.Get()));
}

TEST_F(Frames, ANegativeTickOnANewObjectTakesNoSample) {
    open_device();
    now = 0xFFFFFF00u;  // -256
    frames(3, 0);
    EXPECT_EQ(3, engine::dxgraphics_access::frame_count(g.Get()));
    EXPECT_EQ(0, engine::dxgraphics_access::last_tick(g.Get()));
}

TEST_F(Frames, TheFrameCounterOverflowsAt2147483647) {
    open_device();
    frames(1, 0);
    engine::dxgraphics_access::frame_count(g.Get()) = INT32_MAX;
    ASSERT_EQ(S_OK, g->scene_begin());
    EXPECT_EQ(com::error_overflow, g->scene_end());
    EXPECT_EQ(INT32_MAX, engine::dxgraphics_access::frame_count(g.Get()));
}

TEST_F(Frames, FailuresStopTheFrameAtTheirStep) {
    open_device();
    log->fail("Direct3DDevice8.Clear", D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DERR_INVALIDCALL, g->scene_begin());
    EXPECT_EQ((calls{"Direct3DDevice8.Clear(0,null,3,0x00000000,1,0)"}), log->calls());
    log->fail("Direct3DDevice8.Present", D3DERR_DEVICELOST);
    LONG before = engine::dxgraphics_access::frame_count(g.Get());
    EXPECT_EQ(D3DERR_DEVICELOST, g->scene_end());
    EXPECT_EQ(before, engine::dxgraphics_access::frame_count(g.Get()));
}

TEST_F(Frames, WithoutADeviceBothFailWithObjectNotSet) {
    EXPECT_EQ(com::error_object_not_set, g->scene_begin());
    EXPECT_EQ(com::error_object_not_set, g->scene_end());
    EXPECT_TRUE(log->calls().empty());
}

}  // namespace
