// The display-mode listing of dxgraphics: the adapter's modes as rows of decimal text.
#include "engine/dxgraphics.h"

namespace engine {

// Lists the modes of the default adapter. Once the listing has begun, every failing step
// is skipped and the next one runs: a failed EnumAdapterModes leaves the record holding the
// previous mode, and a mode that fails the device check leaves its row empty.
HRESULT dxgraphics::engine_get_display_modes() {
    return call([&] {
        auto& s = declarations();
        auto& d3d = com::need(s.d3d8);
        const UINT adapter = D3DADAPTER_DEFAULT;
        SHORT count = 0;
        LONG reported = 0;
        // The count is held in a 16-bit integer; a count that does not fit is a skipped step.
        if (SUCCEEDED(d3d.GetAdapterModeCount(adapter, &reported)) && reported >= INT16_MIN && reported <= INT16_MAX)
            count = static_cast<SHORT>(reported);
        numberofmodes = count;
        std::vector<display_mode> rows(count > 0 ? count : 0);
        D3DDISPLAYMODE mode{};
        for (SHORT i = 0; i < count; ++i) {
            d3d.EnumAdapterModes(adapter, i, &mode);
            if (FAILED(d3d.CheckDeviceType(adapter, D3DDEVTYPE_HAL, mode.Format, mode.Format, FALSE))) continue;
            rows[i].mode_depth = std::to_wstring(static_cast<LONG>(mode.Format));
            rows[i].mode_width = std::to_wstring(static_cast<LONG>(mode.Width));
            rows[i].mode_height = std::to_wstring(static_cast<LONG>(mode.Height));
            rows[i].mode_hertz = std::to_wstring(static_cast<LONG>(mode.RefreshRate));
        }
        s.display_modes = std::move(rows);
    });
}

HRESULT dxgraphics::show_display_mode(SHORT* number, BSTR* result, std::wstring display_mode::*field) {
    return call([&] {
        com::need_arguments(number, result);
        const auto& table = declarations().display_modes;
        if (!table || *number < 0 || *number >= static_cast<long>(table->size())) com::raise(com::error_subscript);
        const std::wstring& text = (*table)[*number].*field;
        BSTR copy = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        if (!copy) throw std::bad_alloc();
        SysFreeString(*result);
        *result = copy;
    });
}

HRESULT dxgraphics::engine_show_display_modes_width(SHORT* number, BSTR* result) {
    return show_display_mode(number, result, &display_mode::mode_width);
}
HRESULT dxgraphics::engine_show_display_modes_height(SHORT* number, BSTR* result) {
    return show_display_mode(number, result, &display_mode::mode_height);
}
HRESULT dxgraphics::engine_show_display_modes_depth(SHORT* number, BSTR* result) {
    return show_display_mode(number, result, &display_mode::mode_depth);
}
HRESULT dxgraphics::engine_show_display_modes_hertz(SHORT* number, BSTR* result) {
    return show_display_mode(number, result, &display_mode::mode_hertz);
}

}  // namespace engine
