// Times model_load of the engine against Wine's own D3DXLoadMeshFromX on the corpus files both
// read, and prints megabytes per second and the ratio. Needs the engine DLL registered and a
// display; XFILES names the corpus folder (a Unix path, as Wine maps it to Z:).
//
//   loader_bench [repetitions]
#include <windows.h>
#include <d3d8.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "engine_client.h"

using Microsoft::WRL::ComPtr;

// Seconds for one D3DXLoadMeshFromX of the file with Wine's d3dx9, or -1 when it cannot read it.
double time_d3dx9_load(const std::wstring& file, int repetitions);

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::atoi(argv[1]) : 5;
    const char* unix_folder = getenv("XFILES");
    if (!unix_folder) {
        std::fprintf(stderr, "XFILES must name the corpus folder\n");
        return 2;
    }
    CoInitialize(nullptr);
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"loader_bench";
    RegisterClassW(&wc);
    HWND hwnd = CreateWindowW(L"loader_bench", L"loader bench", WS_OVERLAPPEDWINDOW, 0, 0, 320, 240, nullptr, nullptr,
                              wc.hInstance, nullptr);
    engine_client engine;
    if (!engine.open(hwnd, 320, 240)) return 1;
    iface::_dxgraphics* g = engine.graphics.Get();

    std::wstring folder = L"Z:";
    for (const char* c = unix_folder; *c; ++c) folder += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    folder += L"\\";
    std::printf("%-32s %10s %12s %12s %8s\n", "file", "bytes", "engine MB/s", "d3dx9 MB/s", "ratio");
    double total_bytes = 0, total_engine = 0, total_d3dx9 = 0;
    for (const auto& entry : std::filesystem::directory_iterator(unix_folder)) {
        auto ext = entry.path().extension().string();
        if (ext != ".x" && ext != ".X") continue;
        const std::wstring name = entry.path().filename().wstring();
        const double bytes = static_cast<double>(std::filesystem::file_size(entry.path()));
        const double theirs = time_d3dx9_load(folder + name, repetitions);
        BSTR path = SysAllocString(folder.c_str()), file = SysAllocString(name.c_str());
        bool ok = true;
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < repetitions && ok; ++i) ok = SUCCEEDED(g->model_load(&path, &file));
        const double ours = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / repetitions;
        SysFreeString(path);
        SysFreeString(file);
        if (!ok || theirs <= 0) {
            std::printf("%-32ls %10.0f %12s %12s %8s\n", name.c_str(), bytes, ok ? "read" : "refused",
                        theirs > 0 ? "read" : "refused", "-");
            continue;
        }
        total_bytes += bytes, total_engine += ours, total_d3dx9 += theirs;
        std::printf("%-32ls %10.0f %12.2f %12.2f %8.2f\n", name.c_str(), bytes, bytes / ours / 1e6, bytes / theirs / 1e6,
                    theirs / ours);
    }
    if (total_engine > 0)
        std::printf("%-32s %10.0f %12.2f %12.2f %8.2f\n", "all read by both", total_bytes, total_bytes / total_engine / 1e6,
                    total_bytes / total_d3dx9 / 1e6, total_d3dx9 / total_engine);
    std::printf("(ratio: engine speed over d3dx9 speed; above 1 the engine is faster)\n");
    engine.close();
    CoUninitialize();
    return 0;
}
