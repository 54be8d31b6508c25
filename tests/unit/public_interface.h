// The public interface as the engine's documentation lists it, written out by hand so that
// tests compare the built type library and the dispatch against it (not against the
// description the build generates from).
#pragma once
#include <windows.h>
#include <oaidl.h>

#include <vector>

namespace expected {

struct param {
    const wchar_t* name;
    VARTYPE vt;
    bool optional = false;
    double number = 0;            // default of a numeric or Boolean parameter
    const wchar_t* text = nullptr;  // default of a String parameter
};

enum class kind { get, let, method };

struct member {
    int slot;
    const wchar_t* name;
    DISPID dispid;
    kind how;
    VARTYPE result;  // VT_EMPTY for a Sub
    std::vector<param> params;
};

inline param Long(const wchar_t* n) { return {n, VT_I4}; }
inline param Integer(const wchar_t* n) { return {n, VT_I2}; }
inline param Single(const wchar_t* n) { return {n, VT_R4}; }
inline param Boolean(const wchar_t* n) { return {n, VT_BOOL}; }
inline param String(const wchar_t* n) { return {n, VT_BSTR}; }
inline param opt(param p, double d) { p.optional = true; p.number = d; return p; }
inline param opt_text(param p, const wchar_t* t) { p.optional = true; p.text = t; return p; }

inline std::vector<member> property(int slot, const wchar_t* name, DISPID id, VARTYPE vt) {
    return {{slot, name, id, kind::get, vt, {}}, {slot + 1, name, id, kind::let, VT_EMPTY, {{nullptr, vt}}}};
}

inline std::vector<member> dxgraphics() {
    std::vector<member> m;
    for (auto& p : {property(7, L"FrameRate", 0x40030012, VT_I4), property(9, L"Frameratemax", 0x40030013, VT_I4),
                    property(11, L"frameratemin", 0x40030014, VT_I4), property(13, L"bRunning", 0x40030015, VT_BOOL),
                    property(15, L"displayfps", 0x40030016, VT_BOOL), property(17, L"Initialised", 0x40030017, VT_BOOL),
                    property(19, L"numberofmodes", 0x40030019, VT_I4)})
        m.insert(m.end(), p.begin(), p.end());
    auto sub = [&](int slot, const wchar_t* n, DISPID id, std::vector<param> ps) {
        m.push_back({slot, n, id, kind::method, VT_EMPTY, std::move(ps)});
    };
    auto fn = [&](int slot, const wchar_t* n, DISPID id, VARTYPE r, std::vector<param> ps) {
        m.push_back({slot, n, id, kind::method, r, std::move(ps)});
    };
    fn(21, L"FloatToDWord", 0x60030000, VT_I4, {Single(L"f")});
    sub(22, L"engine_load", 0x60030001, {Long(L"framehwnd")});
    sub(23, L"engine_get_display_modes", 0x60030002, {});
    fn(24, L"engine_show_display_modes_width", 0x60030003, VT_BSTR, {Integer(L"number")});
    fn(25, L"engine_show_display_modes_height", 0x60030004, VT_BSTR, {Integer(L"number")});
    fn(26, L"engine_show_display_modes_depth", 0x60030005, VT_BSTR, {Integer(L"number")});
    fn(27, L"engine_show_display_modes_hertz", 0x60030006, VT_BSTR, {Integer(L"number")});
    sub(28, L"engine_Initialise", 0x60030009,
        {opt(Integer(L"window"), 0), opt(Integer(L"width"), 640), opt(Integer(L"height"), 480),
         opt(Boolean(L"antialiasing_on"), 0), opt(Integer(L"antialiasing_samples"), 2), opt(Boolean(L"fog_on"), 0),
         opt(Single(L"fog_start"), 0), opt(Single(L"fog_end"), 0)});
    sub(29, L"scene_begin", 0x6003000A, {});
    sub(30, L"scene_end", 0x6003000B, {});
    sub(31, L"engine_end", 0x6003000C, {});
    sub(32, L"model_load", 0x6003000D, {String(L"path"), String(L"xfilename")});
    sub(33, L"model_move", 0x6003000E, {Integer(L"index"), Single(L"x"), Single(L"y"), Single(L"z")});
    sub(34, L"model_draw", 0x6003000F, {Integer(L"index")});
    sub(35, L"text_draw", 0x60030011,
        {String(L"text"), opt(Integer(L"top"), 0), opt(Integer(L"left"), 0), opt_text(String(L"hexcolor"), L"CCCCFF")});
    sub(36, L"text_change", 0x60030012,
        {opt(Integer(L"size"), 12), opt_text(String(L"fontname"), L"Verdana"), opt(Boolean(L"boldtext"), 0)});
    sub(37, L"light_create_spot", 0x60030013,
        {Single(L"posx"), Single(L"posy"), Single(L"posz"), Single(L"dirx"), Single(L"diry"), Single(L"dirz"),
         Single(L"r"), Single(L"g"), Single(L"b"), Long(L"innercircle"), Long(L"outercircle"), Long(L"range"),
         Boolean(L"enabled")});
    sub(38, L"light_create_directional", 0x60030014,
        {Single(L"posx"), Single(L"posy"), Single(L"posz"), Single(L"dirx"), Single(L"diry"), Single(L"dirz"),
         Single(L"r"), Single(L"g"), Single(L"b"), Long(L"range"), Boolean(L"enabled")});
    sub(39, L"light_ambience", 0x60030015, {String(L"color")});
    sub(40, L"light_create_point", 0x60030016,
        {Single(L"posx"), Single(L"posy"), Single(L"posz"), Single(L"range"), Single(L"Attenuation1"), Single(L"r"),
         Single(L"g"), Single(L"b"), Boolean(L"enabled")});
    sub(41, L"light_switch", 0x60030017, {Integer(L"enabled"), Integer(L"index")});
    sub(42, L"light_change_color", 0x60030018, {Long(L"r"), Long(L"g"), Long(L"b"), Integer(L"index")});
    sub(43, L"camera_position", 0x60030019, {Single(L"x"), Single(L"y"), Single(L"z")});
    sub(44, L"camera_lookat", 0x6003001A, {Single(L"x"), Single(L"y"), Single(L"z")});
    sub(45, L"engine_render_wireframe_mode", 0x6003001B, {});
    sub(46, L"engine_render_solid_mode", 0x6003001C, {});
    sub(47, L"engine_render_point_mode", 0x6003001D, {});
    return m;
}

inline std::vector<member> dxinput() {
    return {{7, L"engine_initialize", 0x60030000, kind::method, VT_EMPTY,
             {Long(L"targetframe"), opt_text(String(L"device"), L"GUID_SysKeyboard")}},
            {8, L"engine_Terminate", 0x60030001, kind::method, VT_EMPTY, {}},
            {9, L"capturekey", 0x60030002, kind::method, VT_EMPTY, {}}};
}

inline std::vector<member> dxmain() {
    return {{7, L"initialize", 0x60030000, kind::method, VT_EMPTY, {}},
            {8, L"engine_unload", 0x60030001, kind::method, VT_EMPTY, {}}};
}

inline std::vector<member> dxmodels() {
    return {{7, L"model_place", 0x60030000, kind::method, VT_EMPTY,
             {Integer(L"index"), Single(L"x"), Single(L"y"), Single(L"z"), opt(Single(L"pitch"), 0),
              opt(Single(L"yaw"), 0), opt(Single(L"roll"), 0), opt(Single(L"scale"), 1)}},
            {8, L"model_animation_count", 0x60030001, kind::method, VT_I4, {Integer(L"index")}},
            {9, L"model_animation_name", 0x60030002, kind::method, VT_BSTR, {Integer(L"index"), Long(L"animation")}},
            {10, L"model_animation_length", 0x60030003, kind::method, VT_R4, {Integer(L"index"), Long(L"animation")}},
            {11, L"model_animate", 0x60030004, kind::method, VT_EMPTY,
             {Integer(L"index"), Long(L"animation"), Single(L"seconds"), opt(Single(L"weight"), 1)}}};
}

// The event interface: keyup is DISPID 1, keydown 2, each with a Long keycode by reference.
inline std::vector<member> events() {
    return {{-1, L"keyup", 1, kind::method, VT_EMPTY, {Long(L"keycode")}},
            {-1, L"keydown", 2, kind::method, VT_EMPTY, {Long(L"keycode")}}};
}

}  // namespace expected
