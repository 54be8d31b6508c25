// Soak: many client lives one after another, each on a new thread with its own apartment,
// and how much the process grows per life as the host sees it: resident memory (VmRSS of the
// Wine process) and open descriptors. The engine's lives (late-bound, with and without the
// model) are set side by side with the same work done in raw d3d8 calls, so what grows in the
// platform (Wine, Mesa) can be told from what grows in the engine. Needs the engine DLL
// registered and a display.
//
//   soak_bench [lives] [--kinds k1,k2,...] [--warm-up W] [--bound KB]
//
// Each kind runs in a process of its own, all at once. A kind is "engine" or "raw" with any
// "-no-<step>" suffixes (steps: model, texture, light, font, frames, and for raw unbind), e.g.
// engine-no-font. The growth is the slope over the lives after the first W (10 by default): the
// least-squares slope, and the median of the slopes between every two lives (Theil-Sen), which a
// single step of the heap's high-water mark does not move. With --bound, the program fails unless,
// by the median slope, the engine grows by at most KB per life more than raw d3d8 doing the same
// work (with and without the model, where both kinds ran) and keeps no more descriptors than it.
//
//   soak_bench --child <kind> <lives> <warm-up> <tag>    (how the program starts its children)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <memory>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "soak_lives.h"

namespace {

struct kind {
    bool engine = true;
    unsigned steps = soak::all_steps;
};

std::optional<kind> parse_kind(const std::wstring& name) {
    static const std::map<std::wstring, unsigned> step_names = {{L"model", soak::step_model | soak::step_texture},
                                                                 {L"texture", soak::step_texture},
                                                                 {L"light", soak::step_light},
                                                                 {L"font", soak::step_font},
                                                                 {L"frames", soak::step_frames},
                                                                 {L"unbind", soak::step_unbind}};
    kind k;
    size_t at = name.find(L"-no-");
    const std::wstring base = name.substr(0, at);
    if (base == L"raw") k.engine = false;
    else if (base != L"engine") return std::nullopt;
    while (at != std::wstring::npos) {
        const size_t from = at + 4;
        at = name.find(L"-no-", from);
        auto it = step_names.find(name.substr(from, at == std::wstring::npos ? at : at - from));
        if (it == step_names.end()) return std::nullopt;
        k.steps &= ~it->second;
    }
    return k;
}

// --- The child: runs the lives and samples itself from the host's side. ---

std::wstring read_text(const std::wstring& file) {
    HANDLE h = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return {};
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
    CloseHandle(h);
    for (char& c : bytes)
        if (c == '\0') c = ' ';
    return std::wstring(bytes.begin(), bytes.end());
}

// The host's process id of this process. Under Wine, files are opened by the wine server, so
// Z:\proc\self is the server's: the process is found instead by the tag on its command line.
std::wstring host_pid(const std::wstring& tag) {
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(L"Z:\\proc\\*", &found);
    if (find == INVALID_HANDLE_VALUE) return {};
    std::wstring pid;
    do {
        const std::wstring name = found.cFileName;
        if (name.empty() || name.find_first_not_of(L"0123456789") != std::wstring::npos) continue;
        const std::wstring line = read_text(L"Z:\\proc\\" + name + L"\\cmdline");
        if (line.find(L"--child") != std::wstring::npos && line.find(L" " + tag) != std::wstring::npos) pid = name;
    } while (pid.empty() && FindNextFileW(find, &found));
    FindClose(find);
    return pid;
}

struct sample {
    long rss_kb = 0;
    long descriptors = 0;
};

sample take_sample(const std::wstring& pid) {
    sample s;
    const std::wstring status = read_text(L"Z:\\proc\\" + pid + L"\\status");
    const size_t at = status.find(L"VmRSS:");
    if (at != std::wstring::npos) s.rss_kb = std::wcstol(status.c_str() + at + 6, nullptr, 10);
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((L"Z:\\proc\\" + pid + L"\\fd\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (std::wcscmp(found.cFileName, L".") != 0 && std::wcscmp(found.cFileName, L"..") != 0) ++s.descriptors;
        } while (FindNextFileW(find, &found));
        FindClose(find);
    }
    return s;
}

struct life_job {
    const soak::life_setup* setup;
    bool engine;
    bool ok = false;
    std::wstring error;
};

DWORD WINAPI life_thread(void* p) {
    auto* job = static_cast<life_job*>(p);
    job->ok = job->engine ? soak::engine_life(*job->setup, job->error) : soak::raw_life(*job->setup, job->error);
    return 0;
}

// The least-squares slope of y over x.
double least_squares(const std::vector<double>& x, const std::vector<double>& y) {
    const double n = static_cast<double>(x.size());
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (size_t i = 0; i < x.size(); ++i) sx += x[i], sy += y[i], sxx += x[i] * x[i], sxy += x[i] * y[i];
    const double d = n * sxx - sx * sx;
    return d == 0 ? 0 : (n * sxy - sx * sy) / d;
}

// The median of the slopes between every two points (Theil-Sen): a steady growth per life
// shows in full, a lone jump (the heap taking a new region) hardly at all.
double median_slope(const std::vector<double>& x, const std::vector<double>& y) {
    std::vector<double> slopes;
    for (size_t i = 0; i < x.size(); ++i)
        for (size_t j = i + 1; j < x.size(); ++j) slopes.push_back((y[j] - y[i]) / (x[j] - x[i]));
    if (slopes.empty()) return 0;
    std::sort(slopes.begin(), slopes.end());
    const size_t n = slopes.size();
    return n % 2 ? slopes[n / 2] : (slopes[n / 2 - 1] + slopes[n / 2]) / 2;
}

std::wstring folder_of_models() {
    wchar_t value[MAX_PATH] = {};
    std::wstring folder;
    if (GetEnvironmentVariableW(L"XFILES", value, MAX_PATH)) folder = value;
    else folder = L"Z:\\work\\shared\\xfiles";
    if (folder.size() > 1 && folder[0] == L'/') {  // a host path: the whole host tree is drive Z:
        std::replace(folder.begin(), folder.end(), L'/', L'\\');
        folder = L"Z:" + folder;
    }
    if (folder.back() != L'\\') folder += L'\\';
    return folder;
}

int run_child(const std::wstring& kind_name, int lives, int warm_up, const std::wstring& tag) {
    const auto k = parse_kind(kind_name);
    if (!k || warm_up < 0 || lives < warm_up + 2) return std::fprintf(stderr, "soak child: bad arguments\n"), 2;
    const std::wstring pid = host_pid(tag);
    if (pid.empty()) return std::fprintf(stderr, "soak child: this process is not found under Z:\\proc\n"), 2;
    soak::life_setup setup;
    setup.folder = folder_of_models();
    setup.steps = k->steps;
    std::vector<double> index, rss, fds;
    const DWORD start = GetTickCount();
    for (int life = 1; life <= lives; ++life) {
        life_job job{&setup, k->engine};
        HANDLE thread = CreateThread(nullptr, 0, life_thread, &job, 0, nullptr);
        if (!thread) return std::fprintf(stderr, "soak child: no thread\n"), 2;
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        if (!job.ok) return std::fprintf(stderr, "soak child: %ls, life %d: %ls\n", kind_name.c_str(), life, job.error.c_str()), 1;
        const sample s = take_sample(pid);
        std::printf("life %d rss %ld fds %ld\n", life, s.rss_kb, s.descriptors);
        if (life > warm_up) {
            index.push_back(life);
            rss.push_back(s.rss_kb);
            fds.push_back(s.descriptors);
        }
    }
    std::printf("growth %.3f %.3f %.4f %.0f %.0f %.0f %.0f %.2f\n", least_squares(index, rss), median_slope(index, rss),
                median_slope(index, fds), rss.front(), rss.back(), fds.front(), fds.back(),
                (GetTickCount() - start) / 1000.0 / lives);
    return 0;
}

// --- The driver: one child per kind, the figures side by side. ---

struct figures {
    double rss_per_life = 0, rss_median = 0, fds_per_life = 0;
    double rss_first = 0, rss_last = 0, fds_first = 0, fds_last = 0, seconds_per_life = 0;
};

// A child running one kind, its output read from a pipe.
class child {
public:
    child(const std::wstring& kind_name, int lives, int warm_up) : kind_(kind_name) {
        wchar_t self[MAX_PATH];
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        wchar_t tag[96];
        swprintf(tag, 96, L"soak-%lu-%lu-%ls", GetCurrentProcessId(), GetTickCount(), kind_name.c_str());
        std::wstring command = L"\"" + std::wstring(self) + L"\" --child " + kind_name + L" " + std::to_wstring(lives) +
                               L" " + std::to_wstring(warm_up) + L" " + tag;
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE write_end = nullptr;
        if (!CreatePipe(&read_end_, &write_end, &inherit, 0)) return;
        SetHandleInformation(read_end_, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOW si{};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = write_end;
        si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        PROCESS_INFORMATION pi{};
        if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
            process_ = pi.hProcess;
            CloseHandle(pi.hThread);
        }
        CloseHandle(write_end);
    }
    ~child() {
        if (read_end_) CloseHandle(read_end_);
        if (process_) CloseHandle(process_);
    }
    child(const child&) = delete;
    child& operator=(const child&) = delete;

    // Waits for the child and reads its figures from the last line it prints.
    bool finish(figures& out) {
        if (!process_) return std::fprintf(stderr, "soak: cannot start the child for %ls\n", kind_.c_str()), false;
        std::string output;
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(read_end_, buffer, sizeof buffer, &got, nullptr) && got > 0) output.append(buffer, got);
        WaitForSingleObject(process_, INFINITE);
        DWORD code = 1;
        GetExitCodeProcess(process_, &code);
        const size_t at = output.rfind("growth ");
        if (code != 0 || at == std::string::npos ||
            std::sscanf(output.c_str() + at, "growth %lf %lf %lf %lf %lf %lf %lf %lf", &out.rss_per_life,
                        &out.rss_median, &out.fds_per_life, &out.rss_first, &out.rss_last, &out.fds_first,
                        &out.fds_last, &out.seconds_per_life) != 8) {
            std::fprintf(stderr, "soak: %ls failed (exit code %lu)\n", kind_.c_str(), code);
            return false;
        }
        return true;
    }

private:
    std::wstring kind_;
    HANDLE read_end_ = nullptr;
    HANDLE process_ = nullptr;
};

std::vector<std::wstring> split(const std::wstring& list) {
    std::vector<std::wstring> out;
    size_t from = 0;
    for (;;) {
        size_t at = list.find(L',', from);
        out.push_back(list.substr(from, at == std::wstring::npos ? at : at - from));
        if (at == std::wstring::npos) return out;
        from = at + 1;
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 6 && std::wcscmp(argv[1], L"--child") == 0)
        return run_child(argv[2], _wtoi(argv[3]), _wtoi(argv[4]), argv[5]);

    int lives = 90, warm_up = 10;
    std::vector<std::wstring> kinds = {L"engine", L"engine-no-model", L"raw", L"raw-no-texture", L"raw-no-model"};
    std::optional<double> bound;
    for (int i = 1; i < argc; ++i) {
        const std::wstring a = argv[i];
        if (a == L"--kinds" && i + 1 < argc) kinds = split(argv[++i]);
        else if (a == L"--warm-up" && i + 1 < argc) warm_up = _wtoi(argv[++i]);
        else if (a == L"--bound" && i + 1 < argc) bound = _wtof(argv[++i]);
        else if (!a.empty() && iswdigit(a[0])) lives = _wtoi(a.c_str());
        else return std::fprintf(stderr, "usage: soak_bench [lives] [--kinds k1,k2,...] [--warm-up W] [--bound KB]\n"), 2;
    }
    if (warm_up < 0 || lives < warm_up + 3)
        return std::fprintf(stderr, "soak: at least three lives after the warm-up are needed\n"), 2;
    for (const auto& k : kinds)
        if (!parse_kind(k)) return std::fprintf(stderr, "soak: unknown kind %ls\n", k.c_str()), 2;

    std::printf("soak: %d lives per kind, each on a new thread in its own apartment; growth per life over lives "
                "%d..%d, seen by the host\n",
                lives, warm_up + 1, lives);
    std::fflush(stdout);
    std::vector<std::unique_ptr<child>> children;
    for (const auto& k : kinds) children.push_back(std::make_unique<child>(k, lives, warm_up));

    std::printf("%-22s %13s %12s %12s %20s %13s %7s\n", "kind", "RSS KB/life", "(median)", "descr./life",
                "RSS KB first..last", "descr.", "s/life");
    std::map<std::wstring, figures> results;
    bool all_ran = true;
    for (size_t i = 0; i < kinds.size(); ++i) {
        figures f;
        if (!children[i]->finish(f)) {
            all_ran = false;
            continue;
        }
        results[kinds[i]] = f;
        std::printf("%-22ls %13.1f %12.1f %12.3f %9.0f..%-10.0f %5.0f..%-5.0f %7.2f\n", kinds[i].c_str(), f.rss_per_life,
                    f.rss_median, f.fds_per_life, f.rss_first, f.rss_last, f.fds_first, f.fds_last, f.seconds_per_life);
    }

    // The engine against raw d3d8 doing the same work.
    bool within = all_ran;
    const std::pair<const wchar_t*, const wchar_t*> pairs[] = {{L"engine", L"raw"}, {L"engine-no-model", L"raw-no-model"}};
    for (auto [e, r] : pairs) {
        if (!results.count(e) || !results.count(r)) continue;
        const figures &fe = results[e], &fr = results[r];
        std::printf("%ls - %ls: %+.1f KB/life (median %+.1f), %+.3f descriptors/life; ratio %ls / %ls %.2f\n", e, r,
                    fe.rss_per_life - fr.rss_per_life, fe.rss_median - fr.rss_median, fe.fds_per_life - fr.fds_per_life,
                    e, r, fr.rss_per_life > 0.05 ? fe.rss_per_life / fr.rss_per_life : 0.0);
        if (bound) {
            const bool ok = fe.rss_median - fr.rss_median <= *bound && fe.fds_per_life <= fr.fds_per_life + 0.05;
            std::printf("bound: %ls grows at most %.1f KB/life more than %ls and keeps no more descriptors: %s\n", e,
                        *bound, r, ok ? "yes" : "NO");
            within = within && ok;
        }
    }
    return bound && !within ? 1 : all_ran ? 0 : 1;
}
