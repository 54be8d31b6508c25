// The display-mode listing against the recording double.
#include "graphics_fixture.h"

namespace {

class Modes : public Graphics {
protected:
    std::wstring show(HRESULT (STDMETHODCALLTYPE iface::_dxgraphics::*f)(SHORT*, BSTR*), SHORT n, HRESULT* hr) {
        bstr out;
        *hr = (g.Get()->*f)(&n, out.out());
        return out.str();
    }
    HRESULT error_of(SHORT n) {
        HRESULT hr;
        show(&iface::_dxgraphics::engine_show_display_modes_width, n, &hr);
        return hr;
    }
    LONG count() {
        LONG v = -1;
        g->get_numberofmodes(&v);
        return v;
    }
    std::vector<std::wstring> row(SHORT n) {
        HRESULT hr;
        return {show(&iface::_dxgraphics::engine_show_display_modes_width, n, &hr),
                show(&iface::_dxgraphics::engine_show_display_modes_height, n, &hr),
                show(&iface::_dxgraphics::engine_show_display_modes_depth, n, &hr),
                show(&iface::_dxgraphics::engine_show_display_modes_hertz, n, &hr)};
    }
};

using texts = std::vector<std::wstring>;

TEST_F(Modes, BeforeAnyListingEveryRowIsOutOfRange) {
    EXPECT_EQ(0, count());
    EXPECT_EQ(com::error_subscript, error_of(0));
    EXPECT_EQ(com::error_object_not_set, g->engine_get_display_modes());
    EXPECT_EQ(0, count());
}

TEST_F(Modes, RowsAreDecimalTextInTheAdaptersOrder) {
    open_root();
    log->graphics.adapter_modes = {{1024, 768, 75, D3DFMT_X8R8G8B8}, {640, 480, 0, D3DFMT_R5G6B5},
                                   {640, 480, 60, D3DFMT_R5G6B5}};
    log->clear();
    ASSERT_EQ(S_OK, g->engine_get_display_modes());
    EXPECT_EQ(3, count());
    EXPECT_EQ((texts{L"1024", L"768", L"22", L"75"}), row(0));
    EXPECT_EQ((texts{L"640", L"480", L"23", L"0"}), row(1));
    EXPECT_EQ((texts{L"640", L"480", L"23", L"60"}), row(2));
    EXPECT_EQ(com::error_subscript, error_of(3));
    EXPECT_EQ(com::error_subscript, error_of(-1));
    EXPECT_EQ((calls{"Direct3D8.GetAdapterModeCount(0)", "Direct3D8.EnumAdapterModes(0,0)",
                     "Direct3D8.CheckDeviceType(0,1,22,22,0)", "Direct3D8.EnumAdapterModes(0,1)",
                     "Direct3D8.CheckDeviceType(0,1,23,23,0)", "Direct3D8.EnumAdapterModes(0,2)",
                     "Direct3D8.CheckDeviceType(0,1,23,23,0)"}),
              log->calls());
}

TEST_F(Modes, FailingStepsAreSkipped) {
    open_root();
    log->graphics.adapter_modes = {{800, 600, 60, D3DFMT_X8R8G8B8}, {640, 480, 60, D3DFMT_R5G6B5},
                                   {320, 240, 60, D3DFMT_X1R5G5B5}};
    // A failed enumeration leaves the previous mode in the record; a failed check an empty row.
    log->fail("Direct3D8.EnumAdapterModes(0,1)", D3DERR_INVALIDCALL);
    log->fail("Direct3D8.CheckDeviceType(0,1,24,24,0)", D3DERR_NOTAVAILABLE);
    ASSERT_EQ(S_OK, g->engine_get_display_modes());
    EXPECT_EQ(3, count());
    EXPECT_EQ((texts{L"800", L"600", L"22", L"60"}), row(0));
    EXPECT_EQ((texts{L"800", L"600", L"22", L"60"}), row(1));
    EXPECT_EQ((texts{L"", L"", L"", L""}), row(2));
}

TEST_F(Modes, ListingAgainRebuildsTheTableAndOverwritesTheCount) {
    open_root();
    log->graphics.adapter_modes = {{800, 600, 60, D3DFMT_X8R8G8B8}};
    ASSERT_EQ(S_OK, g->engine_get_display_modes());
    LONG written = 99;
    g->put_numberofmodes(written);
    ASSERT_EQ(S_OK, g->engine_get_display_modes());
    EXPECT_EQ(1, count());
    EXPECT_EQ((texts{L"800", L"600", L"22", L"60"}), row(0));
    // Another object reads the same engine-wide table but keeps its own count.
    ComPtr<iface::_dxgraphics> other;
    ASSERT_EQ(S_OK, engine::create_dxgraphics(iface::IID_dxgraphics, reinterpret_cast<void**>(other.GetAddressOf())));
    SHORT zero = 0;
    bstr width;
    EXPECT_EQ(S_OK, other->engine_show_display_modes_width(&zero, width.out()));
    EXPECT_EQ(L"800", width.str());
    LONG others = -1;
    other->get_numberofmodes(&others);
    EXPECT_EQ(0, others);
}

}  // namespace
