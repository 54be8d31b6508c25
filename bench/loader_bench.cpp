// Times model_load of the engine against Wine's own D3DXLoadMeshFromX on the corpus files both
// read, and prints megabytes per second and the ratio. Needs the engine DLL registered and a
// display; XFILES names the corpus folder (a Unix path, as Wine maps it to Z:).
//
//   loader_bench [repetitions]
//
//   loader_bench --scaling FILE [repetitions]
//
// One file of the scaling benchmark (a Unix path): model_load and D3DXLoadMeshFromX of it in
// two blocks of loads each, every block after an untimed load; the median and fastest time of each and the ratio, and
// a line of tab-separated figures after the word "load" for the benchmark's table.
//
//   loader_bench --formats FOLDER [repetitions]
//
// model_load of the same mesh from binary .x, GLB and OBJ (FOLDER/grid-SIZE.x, .glb and .obj, a
// Unix path): the median and fastest time of each after one untimed load, its megabytes per
// second, and its speed against the binary .x file's (above 1: faster than .x).
//
//   loader_bench --peak engine|d3dx9 FILE
//
// The peak resident memory of one load of FILE by one side, in a process that has done nothing
// else but open its device: the peak is reset just before the load (proc_memory.h) and the
// rise above the resident memory before it printed after the word "peak", in bytes.
#include <windows.h>
#include <d3d8.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine_client.h"
#include "proc_memory.h"

using Microsoft::WRL::ComPtr;

// Seconds for one D3DXLoadMeshFromX of the file with Wine's d3dx9, or -1 when it cannot read it.
double time_d3dx9_load(const std::wstring& file, int repetitions);
bool d3dx9_open();

namespace {

std::wstring windows_path(const char* unix_path) {
    std::wstring path = L"Z:";
    for (const char* c = unix_path; *c; ++c) path += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    return path;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

double fastest(const std::vector<double>& v) { return v.empty() ? 0 : *std::min_element(v.begin(), v.end()); }

HWND bench_window() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"loader_bench";
    RegisterClassW(&wc);
    return CreateWindowW(L"loader_bench", L"loader bench", WS_OVERLAPPEDWINDOW, 0, 0, 320, 240, nullptr, nullptr,
                         wc.hInstance, nullptr);
}

// Seconds for one model_load of the file (path and name as model_load takes them), or -1.
double time_engine_load(iface::_dxgraphics* g, const std::wstring& folder, const std::wstring& name) {
    BSTR path = SysAllocString(folder.c_str()), file = SysAllocString(name.c_str());
    auto start = std::chrono::steady_clock::now();
    const bool ok = SUCCEEDED(g->model_load(&path, &file));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    SysFreeString(path);
    SysFreeString(file);
    return ok ? seconds : -1;
}

int run_scaling(const char* unix_file, int repetitions) {
    engine_client engine;
    if (!engine.open(bench_window(), 320, 240)) return 1;
    const std::wstring full = windows_path(unix_file);
    const size_t slash = full.rfind(L'\\');
    const std::wstring folder = full.substr(0, slash + 1), name = full.substr(slash + 1);
    const double bytes = static_cast<double>(std::filesystem::file_size(unix_file));
    // One untimed load of each: the file in the cache, d3dx9's device made.
    if (time_engine_load(engine.graphics.Get(), folder, name) < 0 || time_d3dx9_load(full, 1) < 0) {
        std::printf("%ls: not read by both\n", name.c_str());
        return 1;
    }
    // Two blocks of loads of each side in turn, each block after one untimed load: the first
    // load after the other side's pays for the switch between the two devices' GL contexts,
    // which swamps small files and which a program with one loader never pays.
    std::vector<double> ours, theirs;
    for (int block = 0; block < 2; ++block) {
        const int loads = block == 0 ? (repetitions + 1) / 2 : repetitions / 2;
        time_engine_load(engine.graphics.Get(), folder, name);
        for (int i = 0; i < loads; ++i) ours.push_back(time_engine_load(engine.graphics.Get(), folder, name));
        time_d3dx9_load(full, 1);
        for (int i = 0; i < loads; ++i) theirs.push_back(time_d3dx9_load(full, 1));
    }
    const double o = median(ours), t = median(theirs);
    std::printf("%-18ls %10.0f  engine %9.2f ms (fastest %9.2f)  d3dx9 %9.2f ms (fastest %9.2f)  ratio %6.2f  "
                "engine %7.1f MB/s\n",
                name.c_str(), bytes, o * 1e3, fastest(ours) * 1e3, t * 1e3, fastest(theirs) * 1e3, t / o,
                bytes / o / 1e6);
    std::printf("load\t%ls\t%.0f\t%.6f\t%.6f\t%.6f\t%.6f\n", name.c_str(), bytes, o, fastest(ours), t, fastest(theirs));
    engine.close();
    return 0;
}

int run_formats(const char* unix_folder, int repetitions) {
    engine_client engine;
    if (!engine.open(bench_window(), 320, 240)) return 1;
    const std::wstring folder = windows_path(unix_folder) + L"\\";
    std::printf("%-16s %10s %10s %10s %10s %8s\n", "file", "bytes", "median ms", "fastest ms", "MB/s", "vs .x");
    int status = 0;
    for (const char* size : {"1m", "10m"}) {
        double x_seconds = 0;
        for (const char* ext : {".x", ".glb", ".obj"}) {
            const std::string name = std::string("grid-") + size + ext;
            const std::string unix_file = std::string(unix_folder) + "/" + name;
            if (!std::filesystem::exists(unix_file)) continue;
            const std::wstring wide(name.begin(), name.end());
            std::vector<double> times;
            time_engine_load(engine.graphics.Get(), folder, wide);
            for (int i = 0; i < repetitions; ++i) times.push_back(time_engine_load(engine.graphics.Get(), folder, wide));
            if (*std::min_element(times.begin(), times.end()) < 0) {
                std::printf("%-16s not read\n", name.c_str());
                status = 1;
                continue;
            }
            const double m = median(times), bytes = static_cast<double>(std::filesystem::file_size(unix_file));
            if (std::strcmp(ext, ".x") == 0) x_seconds = m;
            std::printf("%-16s %10.0f %10.2f %10.2f %10.1f %8.2f\n", name.c_str(), bytes, m * 1e3, fastest(times) * 1e3,
                        bytes / m / 1e6, x_seconds > 0 ? x_seconds / m : 0.0);
        }
    }
    engine.close();
    return status;
}

int print_peak(const std::string& side, const char* unix_file) {
    const std::wstring full = windows_path(unix_file);
    const size_t slash = full.rfind(L'\\');
    engine_client engine;
    if (side == "engine" ? !engine.open(bench_window(), 320, 240) : !d3dx9_open()) return 1;
    const bool reset = proc_reset_peak();
    const double before = proc_status_bytes("VmRSS");
    const double seconds = side == "engine"
                               ? time_engine_load(engine.graphics.Get(), full.substr(0, slash + 1), full.substr(slash + 1))
                               : time_d3dx9_load(full, 1);
    const double peak = proc_status_bytes("VmHWM");
    if (seconds < 0 || !reset || before < 0 || peak < 0) return 1;
    std::printf("peak\t%.0f\n", peak - before);
    if (side == "engine") engine.close();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "--scaling") == 0) {
        CoInitialize(nullptr);
        const int status = run_scaling(argv[2], argc > 3 ? std::max(1, std::atoi(argv[3])) : 3);
        CoUninitialize();
        return status;
    }
    if (argc >= 3 && std::strcmp(argv[1], "--formats") == 0) {
        CoInitialize(nullptr);
        const int status = run_formats(argv[2], argc > 3 ? std::max(1, std::atoi(argv[3])) : 5);
        CoUninitialize();
        return status;
    }
    if (argc >= 4 && std::strcmp(argv[1], "--peak") == 0) {
        CoInitialize(nullptr);
        const int status = print_peak(argv[2], argv[3]);
        CoUninitialize();
        return status;
    }
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
