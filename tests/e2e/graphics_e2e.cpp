// The graphics engine as a C++ client sees it: the registered DLL, the real d3d8 under Xvfb,
// a window of the client's own, and what is presented read back from the screen.
#include <windows.h>
#include <d3d8.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "dx8engine_iface.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr int client_width = 640, client_height = 480;

template <class I>
ComPtr<I> create(const wchar_t* progid, REFIID iid) {
    CLSID clsid{};
    EXPECT_EQ(S_OK, CLSIDFromProgID(progid, &clsid));
    ComPtr<I> object;
    EXPECT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid,
                                     reinterpret_cast<void**>(object.GetAddressOf())));
    return object;
}

// A top-level window whose client area is 640 x 480 (or the size given), placed at a known
// spot on the screen.
class client_window {
public:
    explicit client_window(int left = 20, int top = 20, int width = client_width, int height = client_height)
        : width(width), height(height) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"graphics_e2e";
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
        RegisterClassW(&wc);
        RECT r{0, 0, width, height};
        AdjustWindowRect(&r, WS_OVERLAPPEDWINDOW, FALSE);
        hwnd = CreateWindowW(L"graphics_e2e", L"graphics e2e", WS_OVERLAPPEDWINDOW, left, top, r.right - r.left,
                             r.bottom - r.top, nullptr, nullptr, wc.hInstance, nullptr);
        ShowWindow(hwnd, SW_SHOWNORMAL);
        UpdateWindow(hwnd);
        pump();
    }
    ~client_window() { DestroyWindow(hwnd); }
    static void pump() {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    int width, height;
    HWND hwnd;
};

// The client area as presented, read back from the screen (the window's own DC reads black
// under Wine).
std::vector<DWORD> read_client(HWND hwnd, int width = client_width, int height = client_height) {
    client_window::pump();
    Sleep(50);
    POINT origin{0, 0};
    ClientToScreen(hwnd, &origin);
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, dib);
    BitBlt(mem, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY);
    GdiFlush();
    std::vector<DWORD> pixels(static_cast<const DWORD*>(bits), static_cast<const DWORD*>(bits) + width * height);
    SelectObject(mem, old);
    DeleteObject(dib);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return pixels;
}

bool greenish(DWORD p) { return ((p >> 8) & 0xFF) > 100 && ((p >> 16) & 0xFF) < 80 && (p & 0xFF) < 80; }
bool black(DWORD p) { return (p & 0xFFFFFF) == 0; }

// The colour a window shows until the device's first frames reach the screen.
constexpr DWORD marker = 0x0000C8;

// Waits until the window shows on the screen, filled with the marker colour: frames presented
// to a window the display has not mapped yet never reach the screen. False when it never did.
bool wait_until_shown(HWND hwnd, int width = client_width, int height = client_height) {
    for (int i = 0; i < 100; ++i) {
        HDC dc = GetDC(hwnd);
        RECT r{0, 0, width, height};
        HBRUSH brush = CreateSolidBrush(RGB(0, 0, 200));
        FillRect(dc, &r, brush);
        DeleteObject(brush);
        ReleaseDC(hwnd, dc);
        auto pixels = read_client(hwnd, width, height);
        if ((pixels[width * height / 2] & 0xFFFFFF) == marker) return true;
    }
    return false;
}

class GraphicsClient : public testing::Test {
protected:
    void SetUp() override {
        EXPECT_TRUE(wait_until_shown(win.hwnd)) << "the window never showed";
        main = create<iface::_dxmain>(L"Quellbrook_dx_8engine.dxmain", iface::IID_dxmain);
        g = create<iface::_dxgraphics>(L"Quellbrook_dx_8engine.dxgraphics", iface::IID_dxgraphics);
        ASSERT_TRUE(main && g);
        ASSERT_EQ(S_OK, main->initialize());
    }
    void TearDown() override {
        if (g) g->engine_end();
        g.Reset();
        if (main) main->engine_unload();
        main.Reset();
    }

    void open(SHORT window = 1, SHORT width = client_width, SHORT height = client_height) {
        LONG handle = static_cast<LONG>(reinterpret_cast<LONG_PTR>(win.hwnd));
        ASSERT_EQ(S_OK, g->engine_load(&handle));
        VARIANT_BOOL off = VARIANT_FALSE;
        SHORT samples = 2;
        float zero = 0;
        ASSERT_EQ(S_OK, g->engine_Initialise(&window, &width, &height, &off, &samples, &off, &zero, &zero));
    }

    VARIANT_BOOL initialised() {
        VARIANT_BOOL b = 0;
        g->get_Initialised(&b);
        return b;
    }

    // A frame with a string drawn, then the presented client area.
    std::vector<DWORD> frame_with_text(const wchar_t* text, SHORT top, SHORT left, const wchar_t* color) {
        for (int i = 0; i < frames_per_picture; ++i) {
            EXPECT_EQ(S_OK, g->scene_begin());
            BSTR t = SysAllocString(text), c = SysAllocString(color);
            EXPECT_EQ(S_OK, g->text_draw(&t, &top, &left, &c));
            SysFreeString(t);
            SysFreeString(c);
            EXPECT_EQ(S_OK, g->scene_end());
            client_window::pump();
        }
        return read_client(win.hwnd);
    }
    // Under Wine's X11 driver the screen can lag one present behind: each picture is drawn
    // as two identical frames.
    static constexpr int frames_per_picture = 2;

    client_window win;
    ComPtr<iface::_dxmain> main;
    ComPtr<iface::_dxgraphics> g;
};

TEST_F(GraphicsClient, FrameRateFollowsTheClientsLoop) {
    open();
    ASSERT_EQ(VARIANT_TRUE, initialised());
    using clock = std::chrono::steady_clock;
    auto start = clock::now();
    int frames = 0;
    while (clock::now() - start < std::chrono::milliseconds(2300)) {
        ASSERT_EQ(S_OK, g->scene_begin());
        ASSERT_EQ(S_OK, g->scene_end());
        ++frames;
        client_window::pump();
        Sleep(15);
    }
    double per_second = frames / std::chrono::duration<double>(clock::now() - start).count();
    LONG rate = 0, max = 0, min = 0;
    g->get_FrameRate(&rate);
    g->get_Frameratemax(&max);
    g->get_frameratemin(&min);
    EXPECT_GT(rate, per_second * 0.75) << "loop ran at " << per_second << " frames per second";
    EXPECT_LT(rate, per_second * 1.25) << "loop ran at " << per_second << " frames per second";
    EXPECT_GE(max, rate);
    EXPECT_GT(min, 0);
    EXPECT_LE(min, rate);
}

TEST_F(GraphicsClient, TextLandsInTheNinthOfItsAlignmentOnABlackFrame) {
    open();
    ASSERT_EQ(VARIANT_TRUE, initialised());
    for (SHORT top = 0; top < 3; ++top)
        for (SHORT left = 0; left < 3; ++left) {
            auto pixels = frame_with_text(L"WWWW", top, left, L"00FF00");
            int inside = 0, outside = 0, lit_outside = 0;
            for (int y = 0; y < client_height; ++y)
                for (int x = 0; x < client_width; ++x) {
                    DWORD p = pixels[y * client_width + x];
                    bool in_ninth = x / (client_width / 3) == left && y / (client_height / 3) == top;
                    if (greenish(p)) (in_ninth ? inside : outside)++;
                    if (!in_ninth && !black(p)) ++lit_outside;
                }
            EXPECT_GT(inside, 20) << "top " << top << " left " << left;
            EXPECT_EQ(0, outside) << "top " << top << " left " << left;
            EXPECT_EQ(0, lit_outside) << "top " << top << " left " << left;
        }
}

TEST_F(GraphicsClient, SeveralLinesAreAlignedAsABlock) {
    open();
    auto pixels = frame_with_text(L"WW\r\nWW\nWW", 2, 2, L"00FF00");
    int lowest = -1, highest = client_height;
    for (int y = 0; y < client_height; ++y)
        for (int x = 0; x < client_width; ++x)
            if (greenish(pixels[y * client_width + x])) {
                lowest = std::max(lowest, y);
                highest = std::min(highest, y);
            }
    ASSERT_GE(lowest, 0);
    EXPECT_GT(lowest, client_height - 12);       // the last line sits at the bottom
    EXPECT_LT(highest, client_height - 3 * 14);  // three lines stack upwards
}

TEST_F(GraphicsClient, ALargerFontCoversMorePixels) {
    open();
    auto count = [&](const std::vector<DWORD>& pixels) {
        int n = 0;
        for (DWORD p : pixels) n += greenish(p);
        return n;
    };
    int small = count(frame_with_text(L"Hello", 0, 0, L"00FF00"));
    SHORT size = 36;
    BSTR name = SysAllocString(L"Verdana");
    VARIANT_BOOL bold = VARIANT_FALSE;
    ASSERT_EQ(S_OK, g->text_change(&size, &name, &bold));
    SysFreeString(name);
    int large = count(frame_with_text(L"Hello", 0, 0, L"00FF00"));
    EXPECT_GT(small, 20);
    EXPECT_GT(large, small * 3);
}

// Finds the message box of this process, reads its text and presses OK. The dialog window
// exists before its text does, so a box whose text is still empty is looked at again.
void dismiss_message_box(std::wstring& text, std::atomic<bool>& found) {
    for (int i = 0; i < 200 && !found; ++i) {
        Sleep(50);
        HWND box = nullptr;
        while ((box = FindWindowExW(nullptr, box, L"#32770", nullptr))) {
            DWORD pid = 0;
            GetWindowThreadProcessId(box, &pid);
            if (pid != GetCurrentProcessId()) continue;
            wchar_t buffer[512] = {};
            if (GetDlgItemTextW(box, 0xFFFF, buffer, 512) == 0 && i < 199) break;
            text = buffer;
            found = true;
            PostMessageW(box, WM_COMMAND, IDOK, 0);
            break;
        }
    }
}

TEST_F(GraphicsClient, AFullScreenSizeTheAdapterLacksFailsThroughTheMessageBox) {
    std::wstring text;
    std::atomic<bool> found{false};
    std::thread watcher(dismiss_message_box, std::ref(text), std::ref(found));
    open(0, 12345, 9999);
    watcher.join();
    EXPECT_TRUE(found);
    EXPECT_NE(std::wstring::npos, text.find(L"Direct3D8.CreateDevice failed")) << std::string(text.begin(), text.end());
    EXPECT_EQ(VARIANT_FALSE, initialised());
}

TEST_F(GraphicsClient, DisplayModesAreWhatD3d8Reports) {
    ASSERT_EQ(S_OK, g->engine_get_display_modes());
    LONG count = -1;
    g->get_numberofmodes(&count);
    HMODULE lib = LoadLibraryW(L"d3d8.dll");
    ASSERT_NE(nullptr, lib);
    auto create8 = reinterpret_cast<IDirect3D8*(WINAPI*)(UINT)>(GetProcAddress(lib, "Direct3DCreate8"));
    IDirect3D8* d3d = create8(D3D_SDK_VERSION);
    ASSERT_NE(nullptr, d3d);
    UINT modes = d3d->GetAdapterModeCount(0);
    EXPECT_EQ(static_cast<LONG>(modes), count);
    EXPECT_GT(count, 0);
    for (UINT i = 0; i < modes; ++i) {
        D3DDISPLAYMODE m{};
        d3d->EnumAdapterModes(0, i, &m);
        bool usable = SUCCEEDED(d3d->CheckDeviceType(0, D3DDEVTYPE_HAL, m.Format, m.Format, FALSE));
        SHORT n = static_cast<SHORT>(i);
        BSTR w = nullptr, h = nullptr, d = nullptr, r = nullptr;
        ASSERT_EQ(S_OK, g->engine_show_display_modes_width(&n, &w));
        ASSERT_EQ(S_OK, g->engine_show_display_modes_height(&n, &h));
        ASSERT_EQ(S_OK, g->engine_show_display_modes_depth(&n, &d));
        ASSERT_EQ(S_OK, g->engine_show_display_modes_hertz(&n, &r));
        EXPECT_EQ(usable ? std::to_wstring(m.Width) : L"", std::wstring(w));
        EXPECT_EQ(usable ? std::to_wstring(m.Height) : L"", std::wstring(h));
        EXPECT_EQ(usable ? std::to_wstring(m.Format) : L"", std::wstring(d));
        EXPECT_EQ(usable ? std::to_wstring(m.RefreshRate) : L"", std::wstring(r));
        SysFreeString(w);
        SysFreeString(h);
        SysFreeString(d);
        SysFreeString(r);
    }
    SHORT past = static_cast<SHORT>(modes);
    BSTR none = nullptr;
    EXPECT_EQ(static_cast<HRESULT>(0x800A0009), g->engine_show_display_modes_width(&past, &none));
    d3d->Release();
}

// The folder an environment variable names by its Unix path, as a Windows path ending in a
// backslash (Wine maps / to Z:).
std::wstring folder_of(const char* variable) {
    const char* unix_path = getenv(variable);
    std::wstring path = L"Z:";
    for (const char* c = unix_path ? unix_path : ""; *c; ++c) path += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    return path + L"\\";
}

// The corpus folder (XFILES).
std::wstring corpus_folder() { return folder_of("XFILES"); }

// The description of the calling thread's last error information, for a failure's message.
std::wstring last_error_description() {
    ComPtr<IErrorInfo> info;
    BSTR text = nullptr;
    if (GetErrorInfo(0, &info) == S_OK && info) info->GetDescription(&text);
    std::wstring description = text ? text : L"";
    SysFreeString(text);
    return description;
}

class ModelClient : public GraphicsClient {
protected:
    void SetUp() override {
        GraphicsClient::SetUp();
        open();
        ASSERT_EQ(VARIANT_TRUE, initialised());
        float x = 0, y = 0, z = -5, at = 0;
        g->camera_position(&x, &y, &z);
        g->camera_lookat(&at, &at, &at);
        BSTR folder = SysAllocString(corpus_folder().c_str()), file = SysAllocString(L"test.x");
        HRESULT hr = g->model_load(&folder, &file);
        SysFreeString(folder);
        SysFreeString(file);
        ASSERT_EQ(S_OK, hr) << "loading test.x and its texture from " << getenv("XFILES");
        SHORT first = 0;
        float zero = 0;
        ASSERT_EQ(S_OK, g->model_move(&first, &zero, &zero, &zero));
        float px = 0, py = 0, pz = 0, dx = 0.3f, dy = -0.3f, dz = 1, one = 1;
        LONG range = 1000;
        VARIANT_BOOL on = VARIANT_TRUE;
        ASSERT_EQ(S_OK, g->light_create_directional(&px, &py, &pz, &dx, &dy, &dz, &one, &one, &one, &range, &on));
    }

    // A model (the fixture's, unless told) drawn on a black frame, read back.
    std::vector<DWORD> frame_with_model(SHORT model = 0) {
        for (int i = 0; i < frames_per_picture; ++i) {
            EXPECT_EQ(S_OK, g->scene_begin());
            EXPECT_EQ(S_OK, g->model_draw(&model));
            EXPECT_EQ(S_OK, g->scene_end());
            client_window::pump();
        }
        return read_client(win.hwnd);
    }

    // Loads file from the folder that environment variable names into the next slot, places
    // it at the origin and moves the fixture's model away; returns the slot.
    SHORT load_at_origin(const char* variable, const wchar_t* file) {
        BSTR folder = SysAllocString(folder_of(variable).c_str()), name = SysAllocString(file);
        HRESULT hr = g->model_load(&folder, &name);
        const std::wstring why = FAILED(hr) ? last_error_description() : L"";
        SysFreeString(folder);
        SysFreeString(name);
        EXPECT_EQ(S_OK, hr) << "loading " << std::string(file, file + wcslen(file)) << " from " << getenv(variable)
                            << ": " << std::string(why.begin(), why.end());
        SHORT first = 0, slot = next_slot_++;
        float zero = 0, away = 1000;
        EXPECT_EQ(S_OK, g->model_move(&first, &away, &zero, &zero));
        EXPECT_EQ(S_OK, g->model_move(&slot, &zero, &zero, &zero));
        return slot;
    }
    SHORT next_slot_ = 1;  // slot 0 holds the fixture's model

    struct summary {
        int lit = 0;            // pixels that are not black
        int corners_lit = 0;    // of those, in the outer margin where the model never reaches
        double red = 0, green = 0, blue = 0;  // mean channel values of the lit pixels
        int colours = 0;        // distinct colours, in 4-bit steps
    };
    static summary summarise(const std::vector<DWORD>& pixels) {
        summary s;
        std::vector<bool> seen(4096);
        for (int y = 0; y < client_height; ++y)
            for (int x = 0; x < client_width; ++x) {
                DWORD p = pixels[y * client_width + x];
                if (black(p)) continue;
                ++s.lit;
                if (x < 60 || x >= client_width - 60 || y < 40 || y >= client_height - 40) ++s.corners_lit;
                s.red += (p >> 16) & 255, s.green += (p >> 8) & 255, s.blue += p & 255;
                DWORD key = ((p >> 20) & 15) << 8 | ((p >> 12) & 15) << 4 | ((p >> 4) & 15);
                if (!seen[key]) seen[key] = true, ++s.colours;
            }
        if (s.lit) s.red /= s.lit, s.green /= s.lit, s.blue /= s.lit;
        return s;
    }
};

TEST_F(ModelClient, ALitTexturedModelShowsItsTextureWhereItIsAndBlackElsewhere) {
    auto s = summarise(frame_with_model());
    EXPECT_GT(s.lit, 5000);
    EXPECT_EQ(0, s.corners_lit);
    // The face towards the camera shows a blue part of test.png with dark lettering: a
    // plain material would be one even colour.
    EXPECT_GT(s.colours, 5) << "a textured surface shows several colours";
    EXPECT_GT(s.blue, s.red);
}

TEST_F(ModelClient, ARedLightReddensAndASwitchedOffLightDarkens) {
    auto white = summarise(frame_with_model());
    LONG r = 1, gr = 0, b = 0;
    SHORT first = 0;
    ASSERT_EQ(S_OK, g->light_change_color(&r, &gr, &b, &first));
    auto red = summarise(frame_with_model());
    EXPECT_GT(red.red, red.green * 3) << "red " << red.red << " green " << red.green;
    EXPECT_LT(red.green, white.green / 3);
    SHORT off = 0;
    ASSERT_EQ(S_OK, g->light_switch(&off, &first));
    auto dark = summarise(frame_with_model());
    EXPECT_LT(dark.lit, white.lit / 10) << "with no light and no ambient level the model is black";
}

TEST_F(ModelClient, ASpotLightAddsItsColourAndBlacksNothingOut) {
    auto white = summarise(frame_with_model());
    // A blue spot from the camera onto the model, beside the white directional light.
    float px = 0, py = 0, pz = -5, dx = 0, dy = 0, dz = 1, zero = 0, one = 1;
    LONG inner = 20, outer = 40, range = 100;
    VARIANT_BOOL on = VARIANT_TRUE;
    ASSERT_EQ(S_OK, g->light_create_spot(&px, &py, &pz, &dx, &dy, &dz, &zero, &zero, &one, &inner, &outer, &range, &on));
    auto both = summarise(frame_with_model());
    EXPECT_GT(both.lit, white.lit * 9 / 10) << "a spot light must not darken what other lights show";
    EXPECT_GT(both.blue, white.blue + 20) << "blue " << both.blue << " against " << white.blue;
}

// Two different meshes drawn one after the other, with text between them, each show as when
// drawn alone: every mesh binds its own buffers once another mesh or the text bound theirs.
TEST_F(ModelClient, EachMeshDrawsItsOwnBuffersWhateverWasDrawnBefore) {
    BSTR folder = SysAllocString(corpus_folder().c_str()), file = SysAllocString(L"test_cube_text.x");
    HRESULT hr = g->model_load(&folder, &file);
    SysFreeString(folder);
    SysFreeString(file);
    ASSERT_EQ(S_OK, hr);
    SHORT model = 0, cube = 1;
    float zero = 0, away = 1000;
    ASSERT_EQ(S_OK, g->model_move(&cube, &zero, &zero, &zero));
    // A frame of draws in order; each index drawn at the origin or moved out of sight.
    auto picture = [&](std::vector<std::pair<SHORT, bool>> draws) {
        for (int i = 0; i < frames_per_picture; ++i) {
            EXPECT_EQ(S_OK, g->scene_begin());
            for (auto [index, seen] : draws) {
                SHORT n = index;
                if (n < 0) {
                    BSTR t = SysAllocString(L"xy"), c = SysAllocString(L"FFFFFF");
                    SHORT corner = 0;
                    EXPECT_EQ(S_OK, g->text_draw(&t, &corner, &corner, &c));
                    SysFreeString(t);
                    SysFreeString(c);
                    continue;
                }
                EXPECT_EQ(S_OK, g->model_move(&n, seen ? &zero : &away, &zero, &zero));
                EXPECT_EQ(S_OK, g->model_draw(&n));
            }
            EXPECT_EQ(S_OK, g->scene_end());
            client_window::pump();
        }
        return read_client(win.hwnd);
    };
    constexpr SHORT text = -1;
    const auto cube_alone = picture({{text, true}, {cube, true}});
    const auto model_alone = picture({{text, true}, {model, true}});
    ASSERT_NE(cube_alone, model_alone);
    EXPECT_EQ(cube_alone, picture({{model, false}, {text, true}, {cube, true}}));
    EXPECT_EQ(cube_alone, picture({{model, false}, {cube, true}, {text, true}}));
    EXPECT_EQ(model_alone, picture({{cube, false}, {model, true}, {text, true}}));
    EXPECT_EQ(model_alone, picture({{model, true}, {cube, false}, {model, false}, {text, true}}));
}

// A cube with a colour per face, in OBJ, exported to .x by assimp (`assimp export -gn`) and its
// normals turned outward by tools/fix_assimp_x.py, as docs/models.md once had users do, and
// loaded as it was written: both show, lit, the face that faced a right-handed viewer, in its
// green; so do the glTF and GLB files that assimp writes from it.
TEST_F(ModelClient, AModelExportedByAssimpShowsLitInItsOwnColours) {
    if (!getenv("ASSIMP_MODELS") || !*getenv("ASSIMP_MODELS"))
        GTEST_SKIP() << "the assimp command is not installed (scripts/setup.sh installs assimp-utils), "
                        "so the build exported no model to load";
    for (const wchar_t* file : {L"coloured_cube.x", L"coloured_cube.obj", L"coloured_cube.gltf", L"coloured_cube.glb"}) {
        SCOPED_TRACE(std::string(file, file + wcslen(file)));
        auto s = summarise(frame_with_model(load_at_origin("ASSIMP_MODELS", file)));
        EXPECT_GT(s.lit, 50000) << "the face towards the camera fills the middle of the window";
        EXPECT_EQ(0, s.corners_lit);
        // Normals pointing inwards would leave the face black; the axes not turned, the red face
        // that faced away from a right-handed viewer would show instead.
        EXPECT_GT(s.green, 180) << "red " << s.red << " green " << s.green << " blue " << s.blue;
        EXPECT_LT(s.red, 30);
        EXPECT_LT(s.blue, 30);
    }
}

// A cube whose texture gives each face its own colour, as glTF (the image in a data: URI) and OBJ (the image named by its MTL file, relative to
// that file): from the front the face in front is green, and from +x the face on the right is
// blue, lit; mirrored in x it would be yellow, wound the wrong way the far faces would show.
TEST_F(ModelClient, GltfAndObjFilesShowTheirFacesLitTexturedAndTheRightWayRound) {
    float lx = 0, ly = 0, lz = 0, dx = -1, dy = -0.3f, dz = 0.3f, one = 1;
    LONG range = 1000;
    VARIANT_BOOL on = VARIANT_TRUE;
    ASSERT_EQ(S_OK, g->light_create_directional(&lx, &ly, &lz, &dx, &dy, &dz, &one, &one, &one, &range, &on));
    struct view {
        float x, y, z;
        const char* face;
        int red, green, blue;  // the face's colour: each channel high or low
    };
    const view views[] = {{0, 0, -5, "front", 0, 1, 0}, {5, 0, 0, "right", 0, 0, 1}};
    for (const wchar_t* file : {L"faces.gltf", L"faces.obj"}) {
        SHORT cube = load_at_origin("FACES_MODELS", file);
        for (const view& v : views) {
            SCOPED_TRACE(std::string(file, file + wcslen(file)) + ", " + v.face);
            float x = v.x, y = v.y, z = v.z, at = 0;
            ASSERT_EQ(S_OK, g->camera_position(&x, &y, &z));
            ASSERT_EQ(S_OK, g->camera_lookat(&at, &at, &at));
            auto s = summarise(frame_with_model(cube));
            EXPECT_GT(s.lit, 40000) << "the face towards the camera fills the middle of the window";
            const double channel[] = {s.red, s.green, s.blue};
            const int wanted[] = {v.red, v.green, v.blue};
            for (int c = 0; c < 3; ++c) {
                if (wanted[c]) EXPECT_GT(channel[c], 120) << "red " << s.red << " green " << s.green << " blue " << s.blue;
                else EXPECT_LT(channel[c], 40) << "red " << s.red << " green " << s.green << " blue " << s.blue;
            }
        }
    }
}

// The demo's crate written by assimp as glTF (with its buffer in a .bin beside it), GLB and
// OBJ with MTL, each naming the crate's image: every one shows the picture the .x file shows.
TEST_F(ModelClient, FilesAssimpWroteFromAXFileShowWhatTheXFileShows) {
    if (!getenv("ASSIMP_MODELS") || !*getenv("ASSIMP_MODELS"))
        GTEST_SKIP() << "the assimp command is not installed, so the build exported no model to load";
    float x = 2, y = 2.5f, z = -4, at = 0;
    ASSERT_EQ(S_OK, g->camera_position(&x, &y, &z));
    ASSERT_EQ(S_OK, g->camera_lookat(&at, &at, &at));
    std::vector<DWORD> reference;
    for (const wchar_t* file : {L"crate.x", L"assimp_crate.gltf", L"assimp_crate.glb", L"assimp_crate.obj"}) {
        SCOPED_TRACE(std::string(file, file + wcslen(file)));
        auto picture = frame_with_model(load_at_origin("ASSIMP_MODELS", file));
        if (reference.empty()) {
            reference = picture;
            EXPECT_GT(summarise(picture).lit, 20000);
            continue;
        }
        // The same pixels, but for a few on the edges where rounding may differ.
        int differ = 0;
        for (size_t i = 0; i < picture.size(); ++i) {
            const DWORD a = picture[i], b = reference[i];
            for (int shift : {0, 8, 16})
                if (std::abs(static_cast<int>((a >> shift) & 255) - static_cast<int>((b >> shift) & 255)) > 24) {
                    ++differ;
                    break;
                }
        }
        EXPECT_LT(differ, static_cast<int>(picture.size() / 200)) << "pixels that differ from crate.x's picture";
    }
}

TEST_F(ModelClient, WireframeLeavesFarFewerLitPixelsThanSolid) {
    auto solid = summarise(frame_with_model());
    ASSERT_EQ(S_OK, g->engine_render_wireframe_mode());
    auto wire = summarise(frame_with_model());
    ASSERT_EQ(S_OK, g->engine_render_solid_mode());
    EXPECT_GT(wire.lit, 50);
    EXPECT_LT(wire.lit, solid.lit / 4);
}

// The figure of make_figure.py, as .x and as glTF, seen from its front at shoulder height: its
// right arm hangs at rest, is out along +x half a second into "wave", up at one second, halfway
// after a crossfade, and out on the other side when the figure is turned round. The static
// model drawn before and after all this shows the same picture.
TEST_F(ModelClient, SkinnedFiguresMoveAsTheirAnimationsSayAndStaticModelsStayAsTheyWere) {
    auto models = create<iface::_dxmodels>(L"Quellbrook_dx_8engine.dxmodels", iface::IID_dxmodels);
    ASSERT_TRUE(models);
    const auto static_before = frame_with_model(0);
    BSTR full = SysAllocString(L"FFFFFF");
    ASSERT_EQ(S_OK, g->light_ambience(&full));
    SysFreeString(full);
    float x = 0, y = 2.1f, z = -6, ay = 2.1f, zero = 0, one = 1;
    ASSERT_EQ(S_OK, g->camera_position(&x, &y, &z));
    ASSERT_EQ(S_OK, g->camera_lookat(&zero, &ay, &zero));
    // Whether most of the 7 x 7 pixels around point (px, py) of the plane z = 0 are lit, or none.
    auto lit_at = [](const std::vector<DWORD>& picture, float px, float py) -> int {
        const float half = 6 * std::tan(3.14159265f / 8);
        const int cx = static_cast<int>((px / half + 1) / 2 * client_width);
        const int cy = static_cast<int>((1 - (py - 2.1f) / half) / 2 * client_height);
        int lit = 0;
        for (int dy = -3; dy <= 3; ++dy)
            for (int dx = -3; dx <= 3; ++dx) lit += !black(picture[(cy + dy) * client_width + cx + dx]);
        return lit > 40 ? 1 : lit == 0 ? 0 : -1;
    };
    for (const wchar_t* file : {L"figure.x", L"figure.gltf"}) {
        SCOPED_TRACE(std::string(file, file + wcslen(file)));
        SHORT slot = load_at_origin("FACES_MODELS", file);
        LONG count = 0, wave = 0;
        float length = 0;
        BSTR name = nullptr;
        ASSERT_EQ(S_OK, models->model_animation_count(&slot, &count));
        ASSERT_EQ(S_OK, models->model_animation_name(&slot, &wave, &name));
        ASSERT_EQ(S_OK, models->model_animation_length(&slot, &wave, &length));
        EXPECT_TRUE(count == 2 && name && std::wstring(name) == L"wave" && length == 2) << count << ", " << length;
        SysFreeString(name);
        auto animate = [&](LONG animation, float seconds, float weight = 1) {
            EXPECT_EQ(S_OK, models->model_animate(&slot, &animation, &seconds, &weight));
        };
        // Lit (1) or black (0) where the arm is down, out, up and halfway up.
        auto arm = [&](const char* when, int down, int out, int up, int halfway) {
            const auto picture = frame_with_model(slot);
            EXPECT_EQ(down, lit_at(picture, 0.55f, 1.5f)) << when << ": down";
            EXPECT_EQ(out, lit_at(picture, 1.3f, 2.1f)) << when << ": out";
            EXPECT_EQ(up, lit_at(picture, 0.55f, 2.8f)) << when << ": up";
            EXPECT_EQ(halfway, lit_at(picture, 1.05f, 2.6f)) << when << ": halfway";
            return picture;
        };
        const auto never = arm("never animated", 1, 0, 0, 0);
        animate(0, 0.5f), arm("0.5 s", 0, 1, 0, 0);
        animate(0, 1), arm("1 s", 0, 0, 1, 0);
        animate(0, 0.5f), animate(0, 1, 0.5f), arm("0.5 s and 1 s crossfaded", 0, 0, 0, 1);
        animate(1, 0.25f), arm("walking", 1, 0, 0, 0);  // the walk leaves the right arm down
        // One slot drawn twice in a frame, in two poses: the first draw keeps its own.
        for (int i = 0; i < frames_per_picture; ++i, client_window::pump()) {
            g->scene_begin();
            animate(0, 1), g->model_draw(&slot), animate(0, 0.5f), g->model_draw(&slot);
            g->scene_end();
        }
        const auto twice = read_client(win.hwnd);
        EXPECT_TRUE(lit_at(twice, 0.55f, 2.8f) == 1 && lit_at(twice, 1.3f, 2.1f) == 1) << "drawn up, then out";
        animate(-1, 0);
        const auto rest = arm("rest pose", 1, 0, 0, 0);
        int differ = 0;
        for (size_t i = 0; i < rest.size(); ++i) differ += rest[i] != never[i];
        EXPECT_LT(differ, 50) << "pixels where the bones' rest pose differs from the loaded mesh";
        float yaw = 180;
        animate(0, 0.5f);
        ASSERT_EQ(S_OK, models->model_place(&slot, &zero, &zero, &zero, &zero, &yaw, &zero, &one));
        const auto turned = frame_with_model(slot);
        EXPECT_EQ(1, lit_at(turned, -1.3f, 2.1f)) << "turned round, the arm is out on the other side";
        EXPECT_EQ(0, lit_at(turned, 1.3f, 2.1f));
        float away = 1000;
        ASSERT_EQ(S_OK, g->model_move(&slot, &away, &zero, &zero));
    }
    SHORT first = 0;
    float back = -5;
    BSTR none = SysAllocString(L"000000");
    g->model_move(&first, &zero, &zero, &zero), g->camera_position(&zero, &zero, &back), g->camera_lookat(&zero, &zero, &zero);
    ASSERT_EQ(S_OK, g->light_ambience(&none));
    SysFreeString(none);
    EXPECT_TRUE(frame_with_model(0) == static_before) << "the static model's picture changed";
}

// Clients that come and go, each on a thread of its own apartment: COM frees the library at
// the end of every apartment that may unload it; the library keeps itself loaded instead (an
// unload and reload leaked what its runtime allocated every time), and each apartment still
// gets a state of its own, made afresh and given up when it ends.
TEST(ClientLives, TheLibraryStaysLoadedAsApartmentsEndAndServesTheNextOneAfresh) {
    for (int life = 0; life < 3; ++life) {
        HRESULT initialized = E_FAIL, unloaded = E_FAIL, again = E_FAIL;
        std::thread client([&] {
            CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            {
                auto m = create<iface::_dxmain>(L"Quellbrook_dx_8engine.dxmain", iface::IID_dxmain);
                auto g = create<iface::_dxgraphics>(L"Quellbrook_dx_8engine.dxgraphics", iface::IID_dxgraphics);
                if (m && g) {
                    // A new apartment's state holds no Direct3D object until this one's initialize.
                    again = g->engine_get_display_modes();
                    initialized = m->initialize();
                    if (SUCCEEDED(initialized)) initialized = g->engine_get_display_modes();
                    unloaded = m->engine_unload();
                }
            }
            CoUninitialize();
        });
        client.join();
        EXPECT_EQ(static_cast<HRESULT>(0x800A005B), again) << "life " << life << " saw an earlier life's state";
        EXPECT_EQ(S_OK, initialized) << "life " << life;
        EXPECT_EQ(S_OK, unloaded) << "life " << life;
        EXPECT_NE(nullptr, GetModuleHandleW(L"dx8engine.dll")) << "unloaded after life " << life;
    }
}

// Four clients at once, each on a thread of its own apartment with a window of its own, each
// living one full life after another: its own model table, lights, camera, fill mode, frame
// rate and text colour, read back from its own window every life.
namespace at_once {

constexpr int apartments = 4, rounds = 12, width = 320, height = 240;

struct scene {
    int left, top;            // the window's place on the screen
    const wchar_t* text;      // the text colour, RRGGBB
    DWORD text_channels;      // the channels the text colour lights (0xFF0000: red)
    int fill;                 // 0 solid, 1 wireframe, 2 point
    float red, green, blue;   // the directional light
    float look_x, look_y;     // where the camera looks: the model shows in the opposite quarter
    DWORD pause;              // milliseconds between frames
};
const scene scenes[apartments] = {
    {20, 20, L"00FF00", 0x00FF00, 0, 1, 1, 1, 0.5f, -0.5f, 5},    // model top left
    {380, 20, L"FF0000", 0xFF0000, 1, 1, 1, 1, -0.5f, -0.5f, 20},  // top right
    {20, 320, L"FFFF00", 0xFFFF00, 2, 1, 1, 1, 0.5f, 0.5f, 40},    // bottom left
    {380, 320, L"00FFFF", 0x00FFFF, 0, 1, 0, 0, -0.5f, 0.5f, 70},  // bottom right, red light
};

// What one picture of a life showed.
struct picture {
    int lit = 0;                  // pixels that are not black
    double x = 0, y = 0;          // the centre of the lit pixels
    double red = 0, green = 0, blue = 0;  // mean channels of the lit pixels
    int in_colour = 0;            // pixels bright in every channel of the text colour
    int foreign = 0;              // pixels lit in a channel the text colour does not have
};

picture look(const std::vector<DWORD>& pixels, DWORD channels) {
    picture p;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const DWORD c = pixels[y * width + x] & 0xFFFFFF;
            if (!c) continue;
            ++p.lit;
            p.x += x, p.y += y;
            p.red += (c >> 16) & 255, p.green += (c >> 8) & 255, p.blue += c & 255;
            bool all = true, other = false;
            for (int shift : {0, 8, 16}) {
                const bool wanted = (channels >> shift) & 255, bright = ((c >> shift) & 255) > 100;
                if (wanted && !bright) all = false;
                if (!wanted && ((c >> shift) & 255) > 60) other = true;
            }
            p.in_colour += all;
            p.foreign += other;
        }
    if (p.lit) p.x /= p.lit, p.y /= p.lit, p.red /= p.lit, p.green /= p.lit, p.blue /= p.lit;
    return p;
}

struct life_result {
    std::vector<std::string> failures;
    picture model, text;  // the model at the origin; the text over an empty slot
    LONG rate = 0, max = 0, min = 0;
    double measured = 0;  // frames per second the loop ran at
    int frames = 0;       // frames the loop drew, the one that took the first sample included
    double window = 0;    // seconds from the first frame to the one that took the second sample
};

struct apartment {
    std::vector<life_result> lives;
    std::atomic<int> round{0};
    std::atomic<const char*> step{"starting"};
    DWORD thread = 0;
};

// An apartment's window, made and served by a thread of its own for the whole test and
// destroyed only after every apartment has ended. Under Wine a thread's windows hold a COM
// initialisation of their own (the input method's), so a window on the client's thread would
// keep its CoUninitialize from ending the apartment. And a window destroyed while other
// apartments draw and read the screen back stalled the whole process now and then: the X error
// it leaves behind reached a Direct3D command thread inside Mesa, whose X error path then waited
// for the display lock that a screen read-back held while it waited for that same thread to
// read its reply.
class window_thread {
public:
    explicit window_thread(const scene& sc) {
        std::promise<HWND> made;
        auto made_hwnd = made.get_future();
        thread_ = std::thread([&sc, &made, this] {
            client_window win(sc.left, sc.top, width, height);
            id_ = GetCurrentThreadId();
            made.set_value(win.hwnd);
            MSG msg;
            while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
        });
        hwnd = made_hwnd.get();
    }
    ~window_thread() {
        PostThreadMessageW(id_, WM_QUIT, 0, 0);
        thread_.join();
    }
    HWND hwnd = nullptr;

private:
    std::thread thread_;
    DWORD id_ = 0;
};

// One client's life in the calling thread's apartment, drawing into its apartment's window.
life_result live(const scene& sc, int index, apartment& a, HWND window) {
    life_result r;
    a.step = "window";
    if (!wait_until_shown(window, width, height)) {
        r.failures.push_back("the window never showed");
        return r;
    }
    auto ok = [&](HRESULT hr, const char* what) {
        if (SUCCEEDED(hr)) return true;
        std::string d = what;
        ComPtr<IErrorInfo> info;
        if (GetErrorInfo(0, &info) == S_OK) {
            BSTR text = nullptr;
            info->GetDescription(&text);
            for (const wchar_t* c = text ? text : L""; *c; ++c) d += *c < 128 ? static_cast<char>(*c) : '?';
            SysFreeString(text);
        }
        char code[16];
        std::snprintf(code, sizeof code, " (0x%08lX)", static_cast<unsigned long>(hr));
        r.failures.push_back(d + code);
        return false;
    };
    a.step = "creating the objects";
    // Made without the test framework's checks, which are for the main thread only.
    auto make = [](const wchar_t* progid, REFIID iid, auto& out) {
        CLSID clsid{};
        if (SUCCEEDED(CLSIDFromProgID(progid, &clsid)))
            CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, reinterpret_cast<void**>(out.GetAddressOf()));
    };
    ComPtr<iface::_dxmain> main;
    ComPtr<iface::_dxgraphics> g;
    ComPtr<iface::_dxinput> input;
    make(L"Quellbrook_dx_8engine.dxmain", iface::IID_dxmain, main);
    make(L"Quellbrook_dx_8engine.dxgraphics", iface::IID_dxgraphics, g);
    make(L"Quellbrook_dx_8engine.dxinput", iface::IID_dxinput, input);
    if (!main || !g || !input) {
        r.failures.push_back("the objects could not be made");
        return r;
    }
    a.step = "initialize and display modes";
    ok(main->initialize(), "initialize: ");
    ok(g->engine_get_display_modes(), "engine_get_display_modes: ");
    LONG modes = 0;
    g->get_numberofmodes(&modes);
    if (modes <= 0) r.failures.push_back("no display modes listed");
    a.step = "engine_Initialise";
    LONG handle = static_cast<LONG>(reinterpret_cast<LONG_PTR>(window));
    ok(g->engine_load(&handle), "engine_load: ");
    SHORT windowed = 1, w = width, h = height, samples = 2;
    VARIANT_BOOL off = VARIANT_FALSE, initialised = VARIANT_FALSE;
    float zero = 0;
    ok(g->engine_Initialise(&windowed, &w, &h, &off, &samples, &off, &zero, &zero), "engine_Initialise: ");
    g->get_Initialised(&initialised);
    if (initialised != VARIANT_TRUE) {
        r.failures.push_back("the device did not open");
        return r;
    }
    a.step = "keyboard";
    BSTR keyboard = SysAllocString(L"GUID_SysKeyboard");
    ok(input->engine_initialize(&handle, &keyboard), "engine_initialize: ");
    SysFreeString(keyboard);

    // Apartment n loads n + 1 models into its own table, slots 0 to n; slot n + 1 stays empty.
    a.step = "models, lights and camera";
    for (int k = 0; k <= index; ++k) {
        BSTR folder = SysAllocString(corpus_folder().c_str()), file = SysAllocString(L"test.x");
        ok(g->model_load(&folder, &file), "model_load: ");
        SysFreeString(folder);
        SysFreeString(file);
    }
    SHORT model = static_cast<SHORT>(index), empty = static_cast<SHORT>(index + 1);
    ok(g->model_move(&model, &zero, &zero, &zero), "model_move: ");
    float px = 0, py = 0, pz = 0, dx = 0.3f, dy = -0.3f, dz = 1, red = sc.red, green = sc.green, blue = sc.blue;
    LONG range = 1000;
    VARIANT_BOOL on = VARIANT_TRUE;
    ok(g->light_create_directional(&px, &py, &pz, &dx, &dy, &dz, &red, &green, &blue, &range, &on),
       "light_create_directional: ");
    float ex = 0, ey = 0, ez = -5, tx = sc.look_x, ty = sc.look_y;
    ok(g->camera_position(&ex, &ey, &ez), "camera_position: ");
    ok(g->camera_lookat(&tx, &ty, &zero), "camera_lookat: ");
    HRESULT filled = sc.fill == 1   ? g->engine_render_wireframe_mode()
                     : sc.fill == 2 ? g->engine_render_point_mode()
                                    : g->engine_render_solid_mode();
    ok(filled, "fill mode: ");

    // Frames at this client's own pace until the engine has taken a whole second's sample.
    a.step = "frame loop";
    using clock = std::chrono::steady_clock;
    clock::time_point first{};
    int frames = 0;
    const auto give_up = clock::now() + std::chrono::seconds(20);
    while (r.rate == 0 && clock::now() < give_up) {
        if (!ok(g->scene_begin(), "scene_begin: ") || !ok(g->model_draw(&model), "model_draw: ") ||
            !ok(g->scene_end(), "scene_end: "))
            break;
        if (frames++ == 0) first = clock::now();
        g->get_FrameRate(&r.rate);
        client_window::pump();
        Sleep(sc.pause);
    }
    r.frames = frames;
    r.window = std::chrono::duration<double>(clock::now() - first).count();
    r.measured = (frames - 1) / r.window;
    g->get_Frameratemax(&r.max);
    g->get_frameratemin(&r.min);

    // A picture is read again until two reads agree and the window no longer shows the marker
    // it was filled with before the device opened: under load the screen can lag more than one
    // present behind.
    auto picture_of = [&](SHORT slot, bool with_text) {
        std::vector<DWORD> last;
        for (int attempt = 0; attempt < 20; ++attempt) {
            ok(g->scene_begin(), "scene_begin: ");
            ok(g->model_draw(&slot), "model_draw: ");
            if (with_text) {
                BSTR t = SysAllocString(L"WWWW"), c = SysAllocString(sc.text);
                SHORT centre = 1;
                ok(g->text_draw(&t, &centre, &centre, &c), "text_draw: ");
                SysFreeString(t);
                SysFreeString(c);
            }
            ok(g->scene_end(), "scene_end: ");
            auto pixels = read_client(window, width, height);
            const bool marked = std::count(pixels.begin(), pixels.end(), marker) > width * height / 4;
            if (attempt >= 1 && pixels == last && !marked) break;
            last = std::move(pixels);
        }
        return look(last, sc.text_channels);
    };
    a.step = "pictures";
    r.model = picture_of(model, false);
    r.text = picture_of(empty, true);

    a.step = "shutdown";
    ok(input->capturekey(), "capturekey: ");
    ok(input->engine_Terminate(), "engine_Terminate: ");
    ok(g->engine_end(), "engine_end: ");
    ok(main->engine_unload(), "engine_unload: ");
    return r;
}

// Dismisses every message box of this process, keeping its text: a set-up that fails shows
// one, which would otherwise stop its thread for good. A box whose text is not there yet is
// looked at again.
void dismiss_boxes(std::atomic<bool>& stop, std::vector<std::wstring>& texts) {
    std::vector<HWND> dismissed;
    while (!stop) {
        Sleep(200);
        HWND box = nullptr;
        while ((box = FindWindowExW(nullptr, box, L"#32770", nullptr))) {
            DWORD pid = 0;
            GetWindowThreadProcessId(box, &pid);
            if (pid != GetCurrentProcessId()) continue;
            if (std::find(dismissed.begin(), dismissed.end(), box) != dismissed.end()) continue;
            wchar_t buffer[512] = {};
            if (GetDlgItemTextW(box, 0xFFFF, buffer, 512) == 0) continue;
            texts.push_back(buffer);
            dismissed.push_back(box);
            PostMessageW(box, WM_COMMAND, IDOK, 0);
        }
    }
}

// What is wrong with one life on its own: a failing call; the model not in the quarter of the
// window its camera puts it in; the text missing, or anything of another colour beside it
// (another apartment's model in the slot this one never filled); a frame rate not its own.
std::vector<std::string> judge(const life_result& r, const scene& sc) {
    std::vector<std::string> problems = r.failures;
    if (!problems.empty()) return problems;
    auto expect = [&](bool good, const std::string& what) {
        if (!good) problems.push_back(what);
    };
    const auto& m = r.model;
    const bool left = m.x < width / 2.0 - 10, right = m.x > width / 2.0 + 10;
    const bool top = m.y < height / 2.0 - 10, bottom = m.y > height / 2.0 + 10;
    expect(m.lit > (sc.fill == 2 ? 3 : 40) && (sc.look_x > 0 ? left : right) && (sc.look_y < 0 ? top : bottom),
           "the model: " + std::to_string(m.lit) + " lit pixels centred at (" + std::to_string(m.x) + ", " +
               std::to_string(m.y) + ")");
    const auto& t = r.text;
    expect(t.in_colour > 20 && t.foreign == 0, "the text: " + std::to_string(t.in_colour) + " pixels in its colour, " +
                                                   std::to_string(t.foreign) + " of another colour");
    // The first frame takes a sample at once (of 0 frames); the frame that closes the next window,
    // a second or more later, samples the frames from the first up to itself, itself left out.
    // Exactly this apartment's own frames, however slowly a loaded machine draws them; a window
    // can only be longer than a second, never shorter, give or take the tick count's resolution.
    expect(r.rate == r.frames - 1 && r.window > 0.95,
           "FrameRate " + std::to_string(r.rate) + " after " + std::to_string(r.frames) + " frames in " +
               std::to_string(r.window) + " s");
    expect(r.min > 0 && r.min <= r.rate && r.rate <= r.max,
           "frameratemin " + std::to_string(r.min) + ", Frameratemax " + std::to_string(r.max));
    return problems;
}

// Names where a crash happened and what each apartment was doing, then ends the process at
// once instead of waiting for a debugger.
apartment* watched = nullptr;
LONG WINAPI name_the_crash(EXCEPTION_POINTERS* e) {
    void* address = e->ExceptionRecord->ExceptionAddress;
    HMODULE module = nullptr;
    char name[MAX_PATH] = "?";
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           static_cast<const char*>(address), &module))
        GetModuleFileNameA(module, name, MAX_PATH);
    std::fprintf(stderr, "crash: exception 0x%08lX at %p (%s + 0x%lx) on thread %04lx\n",
                 e->ExceptionRecord->ExceptionCode, address, name,
                 static_cast<unsigned long>(static_cast<const char*>(address) - reinterpret_cast<const char*>(module)),
                 GetCurrentThreadId());
    for (int i = 0; watched && i < apartments; ++i)
        std::fprintf(stderr, "apartment %d (thread %04lx): round %d, %s\n", i, watched[i].thread,
                     watched[i].round.load(), watched[i].step.load());
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace at_once

TEST(ClientLives, FourApartmentsAtOnceEachSeeOnlyTheirOwnStateAndScene) {
    using namespace at_once;
    const auto started = std::chrono::steady_clock::now();
    apartment runs[apartments];
    watched = runs;
    auto saved_filter = SetUnhandledExceptionFilter(name_the_crash);
    std::atomic<bool> stop{false};
    std::vector<std::wstring> boxes;
    std::thread watcher(dismiss_boxes, std::ref(stop), std::ref(boxes));
    std::vector<std::unique_ptr<window_thread>> windows;
    for (const auto& sc : scenes) windows.push_back(std::make_unique<window_thread>(sc));

    // One life alone first: Wine sets GL up for a process's first devices, and four first
    // devices at once (above all in a new prefix) now and then got a back buffer of no size or
    // D3DERR_OUTOFVIDEOMEMORY from it.
    apartment alone;
    std::thread([&] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        alone.lives.push_back(live(scenes[0], 0, alone, windows[0]->hwnd));
        CoUninitialize();
    }).join();
    for (const auto& p : judge(alone.lives[0], scenes[0])) ADD_FAILURE() << "the life alone: " << p;

    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < apartments; ++i)
        threads.emplace_back([&, i] {
            runs[i].thread = GetCurrentThreadId();
            ++ready;
            while (ready < apartments) Sleep(1);
            for (int round = 0; round < rounds; ++round) {
                CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
                runs[i].lives.push_back(live(scenes[i], i, runs[i], windows[i]->hwnd));
                CoUninitialize();
                runs[i].round = round + 1;
            }
            runs[i].step = "done";
        });

    // A life takes a few seconds: when none has ended for 90 s, the apartments have hung.
    int progress = -1;
    auto last_progress = std::chrono::steady_clock::now();
    for (;;) {
        int total = 0, done = 0;
        for (auto& a : runs) total += a.round, done += a.round == rounds;
        if (done == apartments) break;
        if (total != progress) progress = total, last_progress = std::chrono::steady_clock::now();
        if (std::chrono::steady_clock::now() - last_progress > std::chrono::seconds(90)) {
            // Where each apartment stands; DX8ENGINE_STALL_REPORT names a file to write it to as
            // well, after which the process waits for a debugger instead of ending.
            const char* to_file = std::getenv("DX8ENGINE_STALL_REPORT");
            FILE* outs[] = {stderr, to_file ? std::fopen(to_file, "w") : nullptr};
            for (FILE* out : outs) {
                if (!out) continue;
                std::fprintf(out, "process %lu: no apartment has finished a life for 90 s\n", GetCurrentProcessId());
                for (int i = 0; i < apartments; ++i)
                    std::fprintf(out, "apartment %d (thread %04lx): round %d, %s\n", i, runs[i].thread,
                                 runs[i].round.load(), runs[i].step.load());
                std::fflush(out);
            }
            if (outs[1]) std::fclose(outs[1]), Sleep(INFINITE);
            TerminateProcess(GetCurrentProcess(), 3);
        }
        Sleep(100);
    }
    for (auto& t : threads) t.join();
    windows.clear();
    stop = true;
    watcher.join();
    SetUnhandledExceptionFilter(saved_filter);
    watched = nullptr;
    for (const auto& b : boxes) ADD_FAILURE() << "message box: " << std::string(b.begin(), b.end());

    // Each life is judged on its own, then its model compared with the picture most of its
    // apartment's lives that passed agree on: the same fill mode, light and camera give the same
    // pixels, give or take a few read while the screen changed. The text is judged by its colour
    // alone, since a window another apartment is just making can hide part of it for a moment.
    auto same = [](const picture& a, const picture& b) {
        return std::abs(a.lit - b.lit) <= 2 + b.lit / 20 && std::abs(a.x - b.x) < 3 && std::abs(a.y - b.y) < 3;
    };
    const life_result* reference[apartments] = {};
    for (int i = 0; i < apartments; ++i) {
        std::vector<std::vector<std::string>> problems;
        for (const auto& r : runs[i].lives) problems.push_back(judge(r, scenes[i]));
        int best = 0;
        for (int a = 0; a < rounds; ++a) {
            if (!problems[a].empty()) continue;
            int agree = 0;
            for (int b = 0; b < rounds; ++b) agree += problems[b].empty() && same(runs[i].lives[b].model, runs[i].lives[a].model);
            if (agree > best) best = agree, reference[i] = &runs[i].lives[a];
        }
        for (int round = 0; round < rounds; ++round)
            for (const auto& p : problems[round])
                ADD_FAILURE() << "apartment " << i << ", round " << round << ": " << p;
        if (!reference[i]) {
            ADD_FAILURE() << "apartment " << i << " never lived a whole life that passed";
            continue;
        }
        const auto& usual = *reference[i];
        std::printf("apartment %d: model lit %d at (%.0f, %.0f), mean rgb %.0f %.0f %.0f in %d of %d lives; text %d "
                    "in colour, %d lit; frame rate %ld (max %ld, min %ld) at %.1f measured\n",
                    i, usual.model.lit, usual.model.x, usual.model.y, usual.model.red, usual.model.green,
                    usual.model.blue, best, rounds, usual.text.in_colour, usual.text.lit, usual.rate, usual.max,
                    usual.min, usual.measured);
        for (int round = 0; round < rounds; ++round) {
            const auto& r = runs[i].lives[round];
            if (!problems[round].empty()) continue;
            EXPECT_TRUE(same(r.model, usual.model))
                << "apartment " << i << ", round " << round << ": the model " << r.model.lit << " lit at ("
                << r.model.x << ", " << r.model.y << "), against " << usual.model.lit << " at (" << usual.model.x
                << ", " << usual.model.y << ")";
        }
    }
    if (!reference[0] || !reference[1] || !reference[2] || !reference[3]) return;
    // Each apartment's fill mode and light: wireframe far below solid, points below wireframe,
    // the red light's model red where the white light's shows the blue texture.
    const auto& solid = reference[0]->model;
    const auto& wire = reference[1]->model;
    const auto& points = reference[2]->model;
    const auto& red = reference[3]->model;
    EXPECT_LT(wire.lit, solid.lit / 4);
    EXPECT_LT(points.lit, wire.lit);
    EXPECT_GT(red.lit, solid.lit / 2);
    EXPECT_GT(solid.blue, solid.red);
    EXPECT_GT(red.red, red.green * 3);
    EXPECT_GT(red.red, red.blue * 3);
    std::printf("%d apartments at once, %d lives each, %.1f s\n", apartments, rounds,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
}

}  // namespace
