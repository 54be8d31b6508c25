// Our .x parser against the Open Asset Import Library's .x importer, natively, on one or more
// corpora: megabytes per second of each, per file and per corpus, and the ratio. Each file is
// read `repetitions` times by each, alternately; a file's time is the median of its repetitions.
//
//   parser_bench CORPUS-FOLDER [CORPUS-FOLDER...] [repetitions]
//
// A last argument that is a whole number is the repetition count (20 if none is given).
#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "xfile/xfile.h"

namespace {

// Bytes and seconds of the files that both read.
struct totals {
    double bytes = 0, ours = 0, theirs = 0;
};

void print_totals(const char* label, const totals& t) {
    if (t.ours > 0)
        std::printf("%-32s %10.0f %12.1f %12.1f %8.2f\n", label, t.bytes, t.bytes / t.ours / 1e6,
                    t.bytes / t.theirs / 1e6, t.theirs / t.ours);
    else
        std::printf("%-32s %10s %12s %12s %8s\n", label, "-", "-", "-", "-");
}

// Returns the median of times (0 for none).
double median(std::vector<double> times) {
    if (times.empty()) return 0;
    std::sort(times.begin(), times.end());
    const std::size_t n = times.size();
    return n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
}

// Times both parsers on every .x file of folder, printing a line per file; returns the totals.
totals run_corpus(const std::filesystem::path& folder, int repetitions) {
    using clock = std::chrono::steady_clock;
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        auto ext = entry.path().extension().string();
        if (ext == ".x" || ext == ".X") files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    totals t;
    for (const auto& path : files) {
        std::ifstream in(path, std::ios::binary);
        std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
        // The importer crashes on the corpus's deliberately malformed file: it is not given it.
        bool ours_ok = true, theirs_ok = path.filename().string().rfind("malformed", 0) != 0;
        // Repetitions alternate between the two, so that both meet the same load on a shared
        // machine, and each side's median time counts, so that a stall in one repetition does not.
        std::vector<double> ours_times, theirs_times;
        for (int i = 0; i < repetitions && (ours_ok || theirs_ok); ++i) {
            if (ours_ok) {
                const auto start = clock::now();
                xfile::mesh m;
                std::string error;
                ours_ok = xfile::parse(bytes.data(), bytes.size(), m, error);
                ours_times.push_back(std::chrono::duration<double>(clock::now() - start).count());
            }
            if (theirs_ok) {
                const auto start = clock::now();
                Assimp::Importer importer;
                theirs_ok =
                    importer.ReadFileFromMemory(bytes.data(), bytes.size(), aiProcess_Triangulate, "x") != nullptr;
                theirs_times.push_back(std::chrono::duration<double>(clock::now() - start).count());
            }
        }
        const double ours = median(ours_times), theirs = median(theirs_times);
        const double size = static_cast<double>(bytes.size());
        const std::string name = path.filename().string();
        if (!ours_ok || !theirs_ok || size == 0) {
            std::printf("%-32s %10.0f %12s %12s %8s\n", name.c_str(), size, ours_ok ? "read" : "refused",
                        theirs_ok ? "read" : "refused", "-");
            continue;
        }
        t.bytes += size, t.ours += ours, t.theirs += theirs;
        std::printf("%-32s %10.0f %12.1f %12.1f %8.2f\n", name.c_str(), size, size / ours / 1e6, size / theirs / 1e6,
                    theirs / ours);
    }
    return t;
}

// Returns true when s is a whole number, the repetition count.
bool is_count(const std::string& s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> folders(argv + 1, argv + argc);
    int repetitions = 20;
    if (!folders.empty() && is_count(folders.back())) {
        repetitions = std::max(1, std::atoi(folders.back().c_str()));
        folders.pop_back();
    }
    if (folders.empty()) {
        std::fprintf(stderr, "usage: parser_bench CORPUS-FOLDER [CORPUS-FOLDER...] [repetitions]\n");
        return 2;
    }
    std::vector<totals> results;
    for (const std::string& folder : folders) {
        std::printf("corpus %s\n", folder.c_str());
        std::printf("%-32s %10s %12s %12s %8s\n", "file", "bytes", "ours MB/s", "assimp MB/s", "ratio");
        results.push_back(run_corpus(folder, repetitions));
        print_totals("all read by both", results.back());
        std::printf("\n");
    }
    // One line per corpus, as they compare at the end of the run.
    std::printf("%-32s %10s %12s %12s %8s\n", "corpus", "bytes", "ours MB/s", "assimp MB/s", "ratio");
    for (std::size_t i = 0; i < folders.size(); ++i) {
        std::filesystem::path folder(folders[i]);
        if (!folder.has_filename()) folder = folder.parent_path();  // "corpus/" names "corpus"
        print_totals(folder.filename().string().c_str(), results[i]);
    }
    std::printf("(ratio: our speed over assimp's; above 1 ours is faster)\n");
    return 0;
}
