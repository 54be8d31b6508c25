// A dxgraphics object on the recording double: root objects made by dxmain, a window handed
// over, the tick count and the set-up notice under the test's control.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "dx/recording.h"
#include "dx8engine_iface.h"
#include "engine/classes.h"
#include "engine/declarations.h"
#include "engine/dxgraphics.h"
#include "engine/seams.h"
#include "helpers.h"

namespace engine {
struct dxgraphics_access {
    static LONG& frame_count(iface::_dxgraphics* g) { return static_cast<dxgraphics*>(g)->fps_frame_count; }
    static LONG& last_tick(iface::_dxgraphics* g) { return static_cast<dxgraphics*>(g)->fps_last_tick; }
    static bool has_font(iface::_dxgraphics* g) { return static_cast<dxgraphics*>(g)->text_font != nullptr; }
};
}  // namespace engine

using calls = std::vector<std::string>;

class Graphics : public testing::Test {
protected:
    static inline DWORD now = 0;
    static inline std::vector<std::wstring> notices;
    static DWORD fake_ticks() { return now; }
    static void record_notice(const std::wstring& text) { notices.push_back(text); }

    void SetUp() override {
        engine::discard_current_state();
        dx::set_directx_factory(dx::recording::factory(log));
        dx::set_d3dx_factory(dx::recording::d3dx(log));
        saved_ticks = engine::seams::tick_count;
        saved_notice = engine::seams::show_notice;
        engine::seams::tick_count = fake_ticks;
        engine::seams::show_notice = record_notice;
        notices.clear();
        now = 5000;
        ASSERT_EQ(S_OK, engine::create_dxmain(iface::IID_dxmain, reinterpret_cast<void**>(main.GetAddressOf())));
        ASSERT_EQ(S_OK, engine::create_dxgraphics(iface::IID_dxgraphics, reinterpret_cast<void**>(g.GetAddressOf())));
    }
    void TearDown() override {
        g.Reset();
        main.Reset();
        engine::discard_current_state();
        dx::set_directx_factory({});
        dx::set_d3dx_factory({});
        engine::seams::tick_count = saved_ticks;
        engine::seams::show_notice = saved_notice;
    }

    // dxmain.initialize and engine_load with window handle 1234.
    void open_root() {
        ASSERT_EQ(S_OK, main->initialize());
        LONG window = 1234;
        ASSERT_EQ(S_OK, g->engine_load(&window));
    }

    // engine_Initialise with the given arguments (the documented defaults otherwise).
    HRESULT initialise(SHORT window = 0, SHORT width = 640, SHORT height = 480, VARIANT_BOOL aa = VARIANT_FALSE,
                       SHORT samples = 2, VARIANT_BOOL fog = VARIANT_FALSE, float start = 0, float end = 0) {
        return g->engine_Initialise(&window, &width, &height, &aa, &samples, &fog, &start, &end);
    }

    // Opens a windowed device and forgets the calls that took.
    void open_device() {
        open_root();
        ASSERT_EQ(S_OK, initialise(1));
        ASSERT_TRUE(notices.empty());
        log->clear();
    }

    // The calls of the log that begin with the prefix.
    calls only(const std::string& prefix) const {
        calls out;
        for (const auto& c : log->calls())
            if (c.rfind(prefix, 0) == 0) out.push_back(c);
        return out;
    }

    VARIANT_BOOL initialised() {
        VARIANT_BOOL b = 0;
        g->get_Initialised(&b);
        return b;
    }

    DWORD (*saved_ticks)() = nullptr;
    void (*saved_notice)(const std::wstring&) = nullptr;
    std::shared_ptr<dx::recording::log> log = std::make_shared<dx::recording::log>();
    ComPtr<iface::_dxmain> main;
    ComPtr<iface::_dxgraphics> g;
};
