// Soak: many client lives one after another, each on a new thread with its own apartment,
// and how much the process grows per life as the host sees it: resident memory (VmRSS of the
// Wine process) and open descriptors, with the bytes in use in the Windows heaps beside them.
// The engine's lives (late-bound, with and without the model) are set side by side with the
// same work done in raw d3d8 calls, so what grows in the platform (Wine, Mesa, the host's C
// library) can be told from what grows in the engine. Needs the engine DLL registered and a
// display.
//
//   soak_bench [lives] [--kinds k1,k2,...] [--warm-up W] [--batch B] [--bound KB]
//
// Each kind runs in a process of its own, all at once. A kind is "engine" or "raw" with any
// "-no-<step>" suffixes (steps: model, texture, light, font, frames, and for raw unbind), e.g.
// engine-no-font. The growth is the slope over the lives after the first W (10 by default), or
// with --batch over the last two of the first three batches of B lives in a row that agree (see
// plan below): the least-squares slope, and the median of the slopes between every two lives
// (Theil-Sen), which a single step of the heap's high-water mark does not move. With --bound,
// the program fails unless, by the median slope, the engine grows by at most KB per life more
// than raw d3d8 doing the same work (with and without the model, where both kinds ran) and keeps
// no more descriptors than it.
//
//   soak_bench --child <kind> <lives> <warm-up> <batch> <tag>    (how the program starts its children)
#include <windows.h>

#include <algorithm>
#include <cmath>
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
    double heap_kb = 0;  // in use in the process's Windows heaps
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
    // What the Windows side holds, which the resident figure mixes with the host's own
    // allocations (the GL driver's and the C library's under Wine's unix side).
    HANDLE heaps[256];
    const DWORD count = std::min<DWORD>(GetProcessHeaps(256, heaps), 256);
    for (DWORD i = 0; i < count; ++i) {
        if (!HeapLock(heaps[i])) continue;
        PROCESS_HEAP_ENTRY e{};
        while (HeapWalk(heaps[i], &e))
            if (e.wFlags & PROCESS_HEAP_ENTRY_BUSY) s.heap_kb += e.cbData / 1024.0;
        HeapUnlock(heaps[i]);
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

// How many lives a child runs and over which of them its growth is judged. With batch 0 it
// runs all the lives and judges those after the warm-up. Otherwise, after the warm-up, it
// runs lives in batches until the growth of three batches in a row agrees, or the lives run
// out, and judges by the smaller growth of the last two batches (each the median of its
// pairwise slopes). The platform's own first lives (the host's C library filling the
// allocation arenas of its threads) grow for a number of lives that differs between machines
// and architectures; a single step of the host's heap shows in one batch only; a steady leak
// shows in every batch.
struct plan {
    int lives = 90;
    int warm_up = 10;
    int batch = 0;
};

// Two batches agree when their growth differs by at most 5 KB per life or a tenth.
bool agree(double a, double b) { return std::abs(a - b) <= std::max(5.0, 0.1 * std::max(std::abs(a), std::abs(b))); }

// The samples of lives from..to (counted from 1) as points.
struct series {
    std::vector<double> life, rss, fds, heap;
    series(const std::vector<sample>& samples, int from, int to) {
        for (int i = from; i <= to; ++i) {
            const sample& s = samples[i - 1];
            life.push_back(i);
            rss.push_back(s.rss_kb);
            fds.push_back(s.descriptors);
            heap.push_back(s.heap_kb);
        }
    }
};

// Growth per life by the median of pairwise slopes, of each figure.
struct growth {
    double rss = 0, fds = 0, heap = 0;
    explicit growth(const series& s)
        : rss(median_slope(s.life, s.rss)), fds(median_slope(s.life, s.fds)), heap(median_slope(s.life, s.heap)) {}
};

int run_child(const std::wstring& kind_name, const plan& p, const std::wstring& tag) {
    const auto k = parse_kind(kind_name);
    if (!k || p.warm_up < 0 || p.batch < 0 || p.lives < p.warm_up + std::max(2, 2 * p.batch))
        return std::fprintf(stderr, "soak child: bad arguments\n"), 2;
    const std::wstring pid = host_pid(tag);
    if (pid.empty()) return std::fprintf(stderr, "soak child: this process is not found under Z:\\proc\n"), 2;
    soak::life_setup setup;
    setup.folder = folder_of_models();
    setup.steps = k->steps;
    std::vector<sample> samples;
    int from = p.warm_up + 1;
    std::optional<growth> judged;  // with batches: the smaller growth of the last two
    bool settled = p.batch == 0;
    const DWORD start = GetTickCount();
    for (int life = 1; life <= p.lives; ++life) {
        life_job job{&setup, k->engine};
        HANDLE thread = CreateThread(nullptr, 0, life_thread, &job, 0, nullptr);
        if (!thread) return std::fprintf(stderr, "soak child: no thread\n"), 2;
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        if (!job.ok) return std::fprintf(stderr, "soak child: %ls, life %d: %ls\n", kind_name.c_str(), life, job.error.c_str()), 1;
        samples.push_back(take_sample(pid));
        const sample& s = samples.back();
        std::printf("life %d rss %ld fds %ld heap %.1f\n", life, s.rss_kb, s.descriptors, s.heap_kb);
        const int b = p.batch;
        if (b == 0 || life < p.warm_up + 2 * b || (life - p.warm_up) % b != 0) continue;
        // Each batch by itself: a single step of the host's heap inside one of them makes the
        // two disagree, where over both at once it could pass for growth.
        // Three in a row: while the host's arenas fill, the growth falls from batch to batch, and
        // two batches on the way down can agree where the third does not.
        const growth earlier(series(samples, life - 2 * b, life - b)), later(series(samples, life - b, life));
        const bool three = life >= p.warm_up + 3 * b;
        const double first = three ? growth(series(samples, life - 3 * b, life - 2 * b)).rss : 0;
        settled = three && agree(first, earlier.rss) && agree(earlier.rss, later.rss);
        if (three) std::printf("batches to life %d: %.1f, %.1f and %.1f KB/life%s\n", life, first, earlier.rss, later.rss,
                               settled ? ", settled" : "");
        else std::printf("batches to life %d: %.1f and %.1f KB/life\n", life, earlier.rss, later.rss);
        if (settled || life + b > p.lives) {
            from = life - 2 * b;
            judged = earlier;
            judged->rss = std::min(earlier.rss, later.rss);
            judged->fds = std::min(earlier.fds, later.fds);
            judged->heap = std::min(earlier.heap, later.heap);
            break;
        }
    }
    const series window(samples, from, static_cast<int>(samples.size()));
    if (!judged) judged.emplace(window);
    std::printf("growth %.3f %.3f %.4f %.0f %.0f %.0f %.0f %.2f %.3f %d %d %d\n",
                least_squares(window.life, window.rss), judged->rss, judged->fds, window.rss.front(), window.rss.back(),
                window.fds.front(), window.fds.back(), (GetTickCount() - start) / 1000.0 / samples.size(),
                judged->heap, from, static_cast<int>(samples.size()), settled ? 1 : 0);
    return 0;
}

// --- The driver: one child per kind, the figures side by side. ---

struct figures {
    double rss_per_life = 0, rss_median = 0, fds_per_life = 0;
    double rss_first = 0, rss_last = 0, fds_first = 0, fds_last = 0, seconds_per_life = 0, heap_median = 0;
    int from = 0, to = 0, settled = 0;
    std::string batches;  // the child's lines about its batches
};

// A child running one kind, its output read from a pipe.
class child {
public:
    child(const std::wstring& kind_name, const plan& p) : kind_(kind_name) {
        wchar_t self[MAX_PATH];
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        wchar_t tag[96];
        swprintf(tag, 96, L"soak-%lu-%lu-%ls", GetCurrentProcessId(), GetTickCount(), kind_name.c_str());
        std::wstring command = L"\"" + std::wstring(self) + L"\" --child " + kind_name + L" " +
                               std::to_wstring(p.lives) + L" " + std::to_wstring(p.warm_up) + L" " +
                               std::to_wstring(p.batch) + L" " + tag;
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
            std::sscanf(output.c_str() + at, "growth %lf %lf %lf %lf %lf %lf %lf %lf %lf %d %d %d", &out.rss_per_life,
                        &out.rss_median, &out.fds_per_life, &out.rss_first, &out.rss_last, &out.fds_first,
                        &out.fds_last, &out.seconds_per_life, &out.heap_median, &out.from, &out.to,
                        &out.settled) != 12) {
            std::fprintf(stderr, "soak: %ls failed (exit code %lu)\n", kind_.c_str(), code);
            return false;
        }
        for (size_t line = output.find("batches "); line != std::string::npos; line = output.find("batches ", line + 1))
            out.batches += output.substr(line, output.find('\n', line) + 1 - line);
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

constexpr const char* usage =
    "usage: soak_bench [lives] [--kinds k1,k2,...] [--warm-up W] [--batch B] [--bound KB]\n"
    "  lives       lives per kind (90); with --batch, at most this many\n"
    "  --batch B   after the warm-up, run lives in batches of B until three batches in a row agree\n"
    "              and judge the growth over the last two\n";

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 7 && std::wcscmp(argv[1], L"--child") == 0)
        return run_child(argv[2], plan{_wtoi(argv[3]), _wtoi(argv[4]), _wtoi(argv[5])}, argv[6]);

    plan p;
    std::vector<std::wstring> kinds = {L"engine", L"engine-no-model", L"raw", L"raw-no-texture", L"raw-no-model"};
    std::optional<double> bound;
    for (int i = 1; i < argc; ++i) {
        const std::wstring a = argv[i];
        if (a == L"--kinds" && i + 1 < argc) kinds = split(argv[++i]);
        else if (a == L"--warm-up" && i + 1 < argc) p.warm_up = _wtoi(argv[++i]);
        else if (a == L"--batch" && i + 1 < argc) p.batch = _wtoi(argv[++i]);
        else if (a == L"--bound" && i + 1 < argc) bound = _wtof(argv[++i]);
        else if (!a.empty() && iswdigit(a[0])) p.lives = _wtoi(a.c_str());
        else return std::fputs(usage, stderr), 2;
    }
    if (p.warm_up < 0 || p.batch < 0 || p.lives < p.warm_up + std::max(3, 2 * p.batch))
        return std::fprintf(stderr, "soak: at least three lives, or two batches, after the warm-up are needed\n"), 2;
    for (const auto& k : kinds)
        if (!parse_kind(k)) return std::fprintf(stderr, "soak: unknown kind %ls\n", k.c_str()), 2;

    if (p.batch)
        std::printf("soak: lives in batches of %d after %d, until three batches in a row agree (at most %d lives per "
                    "kind), each on a new thread in its own apartment; growth per life over the last two, seen by the "
                    "host\n",
                    p.batch, p.warm_up, p.lives);
    else
        std::printf("soak: %d lives per kind, each on a new thread in its own apartment; growth per life over lives "
                    "%d..%d, seen by the host\n",
                    p.lives, p.warm_up + 1, p.lives);
    std::fflush(stdout);
    std::vector<std::unique_ptr<child>> children;
    for (const auto& k : kinds) children.push_back(std::make_unique<child>(k, p));

    std::map<std::wstring, figures> results;
    bool all_ran = true;
    for (size_t i = 0; i < kinds.size(); ++i) {
        figures f;
        if (!children[i]->finish(f)) {
            all_ran = false;
            continue;
        }
        results[kinds[i]] = f;
        if (!f.batches.empty()) std::printf("%ls:\n%s", kinds[i].c_str(), f.batches.c_str());
    }
    std::printf("%-22s %9s %12s %9s %10s %12s %20s %13s %7s\n", "kind", "lives", "RSS KB/life", "(median)",
                "heap KB/l", "descr./life", "RSS KB first..last", "descr.", "s/life");
    for (const auto& k : kinds) {
        if (!results.count(k)) continue;
        const figures& f = results[k];
        wchar_t lives[32];
        swprintf(lives, 32, L"%d..%d%ls", f.from, f.to, f.settled ? L"" : L"!");
        std::printf("%-22ls %9ls %12.1f %9.1f %10.2f %12.3f %9.0f..%-10.0f %5.0f..%-5.0f %7.2f\n", k.c_str(), lives,
                    f.rss_per_life, f.rss_median, f.heap_median, f.fds_per_life, f.rss_first, f.rss_last, f.fds_first,
                    f.fds_last, f.seconds_per_life);
    }
    if (p.batch)
        for (const auto& [k, f] : results)
            if (!f.settled) std::printf("(!) %ls: no three batches in a row agreed within %d lives\n", k.c_str(), p.lives);
    std::printf("lives: those judged; heap: bytes in use in the Windows heaps, median growth per life\n");

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
