// Our .x parser against the Open Asset Import Library's .x importer, natively, on the corpus:
// megabytes per second of each and the ratio.
//
//   parser_bench CORPUS-FOLDER [repetitions]
#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "xfile/xfile.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: parser_bench CORPUS-FOLDER [repetitions]\n");
        return 2;
    }
    const int repetitions = argc > 2 ? std::atoi(argv[2]) : 20;
    using clock = std::chrono::steady_clock;
    std::printf("%-32s %10s %12s %12s %8s\n", "file", "bytes", "ours MB/s", "assimp MB/s", "ratio");
    double total_bytes = 0, total_ours = 0, total_theirs = 0;
    for (const auto& entry : std::filesystem::directory_iterator(argv[1])) {
        auto ext = entry.path().extension().string();
        if (ext != ".x" && ext != ".X") continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
        bool ours_ok = true, theirs_ok = true;
        auto start = clock::now();
        for (int i = 0; i < repetitions && ours_ok; ++i) {
            xfile::mesh m;
            std::string error;
            ours_ok = xfile::parse(bytes.data(), bytes.size(), m, error);
        }
        double ours = std::chrono::duration<double>(clock::now() - start).count() / repetitions;
        // The importer crashes on the corpus's deliberately malformed file: it is not given it.
        theirs_ok = entry.path().filename().string().rfind("malformed", 0) != 0;
        start = clock::now();
        for (int i = 0; i < repetitions && theirs_ok; ++i) {
            Assimp::Importer importer;
            theirs_ok = importer.ReadFileFromMemory(bytes.data(), bytes.size(), aiProcess_Triangulate, "x") != nullptr;
        }
        double theirs = std::chrono::duration<double>(clock::now() - start).count() / repetitions;
        const double size = static_cast<double>(bytes.size());
        const std::string name = entry.path().filename().string();
        if (!ours_ok || !theirs_ok || size == 0) {
            std::printf("%-32s %10.0f %12s %12s %8s\n", name.c_str(), size, ours_ok ? "read" : "refused",
                        theirs_ok ? "read" : "refused", "-");
            continue;
        }
        total_bytes += size, total_ours += ours, total_theirs += theirs;
        std::printf("%-32s %10.0f %12.1f %12.1f %8.2f\n", name.c_str(), size, size / ours / 1e6, size / theirs / 1e6,
                    theirs / ours);
    }
    if (total_ours > 0)
        std::printf("%-32s %10.0f %12.1f %12.1f %8.2f\n", "all read by both", total_bytes, total_bytes / total_ours / 1e6,
                    total_bytes / total_theirs / 1e6, total_theirs / total_ours);
    std::printf("(ratio: our speed over assimp's; above 1 ours is faster)\n");
    return 0;
}
