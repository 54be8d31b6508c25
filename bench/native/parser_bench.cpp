// Our .x parser against the Open Asset Import Library's .x importer, natively, on one or more
// corpora: megabytes per second of each, per file and per corpus, and the ratio. Each file is
// read `repetitions` times by each, alternately; a file's time is the median of its repetitions.
//
//   parser_bench CORPUS-FOLDER [CORPUS-FOLDER...] [repetitions]
//
// A last argument that is a whole number is the repetition count (20 if none is given).
//
//   parser_bench --scaling FOLDER [repetitions]
//
// The scaling benchmark's files, smallest first: per file the median and fastest time of each,
// MB/s, the ratio, and the peak resident memory of one parse of each, measured in a child
// process of its own (see peak_of), as a line of
// tab-separated figures after the word "parse" for the benchmark's table and plot.
//
//   parser_bench --obj [repetitions]
//
// Our OBJ reader against the Open Asset Import Library's OBJ importer on OBJ text made here:
// square grids of quads, a large one with texture coordinates and normals and a mid-size one
// with texture coordinates only in one smoothing group (our reader computes its normals, the
// importer is not asked to); median time, MB/s and the ratio per file (5 repetitions if none
// is given).
//
//   parser_bench --export-x IN OUT
//
// Reads IN with the Open Asset Import Library and writes it as text .x with its exporter, as
// the files that other programs write with it (the scaling benchmark's "assimp" files).
//
//   parser_bench --gltf [SIDE [repetitions]]
//
// Our glTF reader against the library's glTF 2.0 importer on grids of SIDE x SIDE vertices
// (512 if not given) with normals and texture coordinates, made in memory as a .glb and as a
// .gltf with its buffer in a data: URI: median time, MB/s of each and the ratio.
#include <assimp/Exporter.hpp>
#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "readers/obj/obj.h"
#include "readers/gltf/gltf.h"
#include "readers/xfile/xfile.h"

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

// Reads a "Name:   1234 kB" field of /proc/self/status, in bytes; 0 when it is not there.
double status_bytes(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::size_t n = std::strlen(field);
    while (std::getline(status, line))
        if (line.compare(0, n, field) == 0 && line.size() > n && line[n] == ':') return std::atof(line.c_str() + n + 1) * 1024;
    return 0;
}

// The peak resident memory of one parse of file by one side ("ours" or "assimp"), in bytes above
// what the process held just before, measured in a new process of this program (--peak), so that
// no memory left over from other runs is reused; -1 when it cannot be measured.
double peak_of(const char* side, const std::filesystem::path& file) {
    int channel[2];
    if (pipe(channel) != 0) return -1;
    const pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        dup2(channel[1], STDOUT_FILENO);
        close(channel[0]);
        execl("/proc/self/exe", "parser_bench", "--peak", side, file.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(channel[1]);
    char text[64] = {};
    const ssize_t got = read(channel[0], text, sizeof text - 1);
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return got > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? std::atof(text) : -1;
}

// --peak SIDE FILE: reads the file, resets the process's peak (writing 5 to
// /proc/self/clear_refs), parses it once and prints how far the peak rose above the resident
// memory before the parse, in bytes.
int print_peak(const std::string& side, const char* file) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    { std::ofstream("/proc/self/clear_refs") << "5"; }
    const double before = status_bytes("VmRSS");
    bool ok = false;
    if (side == "ours") {
        xfile::mesh m;
        std::string error;
        ok = xfile::parse(bytes.data(), bytes.size(), m, error);
    } else {
        Assimp::Importer importer;
        ok = importer.ReadFileFromMemory(bytes.data(), bytes.size(), aiProcess_Triangulate, "x") != nullptr;
    }
    std::printf("%.0f\n", status_bytes("VmHWM") - before);
    return ok ? 0 : 1;
}

double fastest(const std::vector<double>& times) {
    return times.empty() ? 0 : *std::min_element(times.begin(), times.end());
}

// The scaling benchmark's files, smallest first, as described at the top.
int run_scaling(const std::filesystem::path& folder, int repetitions) {
    using clock = std::chrono::steady_clock;
    std::vector<std::pair<std::uintmax_t, std::filesystem::path>> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().extension() == ".x") files.emplace_back(entry.file_size(), entry.path());
    std::sort(files.begin(), files.end());
    std::printf("%-18s %10s %9s %9s %9s %9s %8s %9s %9s %8s\n", "file", "bytes", "ours ms", "fastest", "assimp ms",
                            "fastest", "ratio", "ours MB", "assimp MB", "ours MB/s");
    int failures = 0;
    for (const auto& [size, path] : files) {
        std::ifstream in(path, std::ios::binary);
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
        auto ours = [&] {
            xfile::mesh m;
            std::string error;
            return xfile::parse(bytes.data(), bytes.size(), m, error);
        };
        auto theirs = [&] {
            Assimp::Importer importer;
            return importer.ReadFileFromMemory(bytes.data(), bytes.size(), aiProcess_Triangulate, "x") != nullptr;
        };
        std::vector<double> ours_times, theirs_times;
        bool ok = true;
        for (int i = 0; i < repetitions && ok; ++i) {
            auto start = clock::now();
            ok = ours();
            ours_times.push_back(std::chrono::duration<double>(clock::now() - start).count());
            start = clock::now();
            ok = theirs() && ok;
            theirs_times.push_back(std::chrono::duration<double>(clock::now() - start).count());
        }
        const std::string name = path.filename().string();
        if (!ok) {
            std::printf("%-18s %10ju   not read by both\n", name.c_str(), size);
            ++failures;
            continue;
        }
        const double ours_peak = peak_of("ours", path), theirs_peak = peak_of("assimp", path);
        const double o = median(ours_times), t = median(theirs_times);
        std::printf("%-18s %10ju %9.2f %9.2f %9.2f %9.2f %8.2f %9.1f %9.1f %8.0f\n", name.c_str(), size, o * 1e3,
                                fastest(ours_times) * 1e3, t * 1e3, fastest(theirs_times) * 1e3, t / o, ours_peak / 1e6,
                                theirs_peak / 1e6, size / o / 1e6);
        std::printf("parse\t%s\t%ju\t%.6f\t%.6f\t%.6f\t%.6f\t%.0f\t%.0f\n", name.c_str(), size, o, fastest(ours_times), t,
                                fastest(theirs_times), ours_peak, theirs_peak);
    }
    std::printf("(times: median and fastest of %d; ratio: assimp's median time over ours, above 1 ours is faster; "
                            "MB: peak resident memory of one parse above what the process held before it)\n",
                            repetitions);
    return failures ? 1 : 0;
}

// Returns true when s is a whole number, the repetition count.
bool is_count(const std::string& s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

// An OBJ grid of n x n quads in the z = 0 plane with bumps, its corners numbered as exporters
// write them: every position, then every texture coordinate (and normal), then the faces.
std::string obj_grid(int n, bool normals) {
    std::string text = "# grid\no grid\n";
    char line[128];
    for (int y = 0; y <= n; ++y)
        for (int x = 0; x <= n; ++x) {
            std::snprintf(line, sizeof line, "v %.6f %.6f %.6f\n", x / double(n), y / double(n), ((x * 7 + y * 13) % 17) / 1700.0);
            text += line;
        }
    for (int y = 0; y <= n; ++y)
        for (int x = 0; x <= n; ++x) {
            std::snprintf(line, sizeof line, "vt %.6f %.6f\n", x / double(n), y / double(n));
            text += line;
        }
    if (normals)
        for (int y = 0; y <= n; ++y)
            for (int x = 0; x <= n; ++x) {
                std::snprintf(line, sizeof line, "vn %.6f %.6f %.6f\n", 0.01 * (x % 3), 0.01 * (y % 5), 0.9999);
                text += line;
            }
    text += normals ? "usemtl a\ns off\n" : "usemtl a\ns 1\n";
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            const int a = y * (n + 1) + x + 1, b = a + 1, c = a + n + 2, d = a + n + 1;
            if (normals)
                std::snprintf(line, sizeof line, "f %d/%d/%d %d/%d/%d %d/%d/%d %d/%d/%d\n", a, a, a, b, b, b, c, c, c, d, d, d);
            else
                std::snprintf(line, sizeof line, "f %d/%d %d/%d %d/%d %d/%d\n", a, a, b, b, c, c, d, d);
            text += line;
        }
    return text;
}

// The OBJ comparison, as described at the top.
int run_obj(int repetitions) {
    using clock = std::chrono::steady_clock;
    const readers::side_files no_files = [](const std::string&, std::vector<std::uint8_t>&, std::string& error) {
        error = "no files";
        return false;
    };
    const struct {
        const char* name;
        std::string text;
    } files[] = {{"grid-400-normals.obj", obj_grid(400, true)}, {"grid-100-smooth.obj", obj_grid(100, false)}};
    std::printf("%-24s %10s %9s %9s %12s %12s %8s\n", "file", "bytes", "ours ms", "assimp ms", "ours MB/s", "assimp MB/s",
                "ratio");
    int failures = 0;
    for (const auto& [name, text] : files) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
        std::vector<double> ours_times, theirs_times;
        bool ok = true;
        std::string error;
        for (int i = 0; i < repetitions && ok; ++i) {
            auto start = clock::now();
            {
                readers::mesh m;
                ok = obj::parse(bytes, text.size(), no_files, m, error);
            }
            ours_times.push_back(std::chrono::duration<double>(clock::now() - start).count());
            start = clock::now();
            {
                Assimp::Importer importer;
                ok = importer.ReadFileFromMemory(bytes, text.size(), aiProcess_Triangulate, "obj") != nullptr && ok;
            }
            theirs_times.push_back(std::chrono::duration<double>(clock::now() - start).count());
        }
        if (!ok) {
            std::printf("%-24s %10zu   not read by both %s\n", name, text.size(), error.c_str());
            ++failures;
            continue;
        }
        const double o = median(ours_times), t = median(theirs_times), size = static_cast<double>(text.size());
        std::printf("%-24s %10zu %9.1f %9.1f %12.1f %12.1f %8.2f\n", name, text.size(), o * 1e3, t * 1e3, size / o / 1e6,
                    size / t / 1e6, t / o);
    }
    std::printf("(median of %d; ratio: assimp's time over ours, above 1 ours is faster)\n", repetitions);
    return failures ? 1 : 0;
}

// A grid of side x side vertices in the XY plane, as two triangles per cell with 32-bit indices,
// with normals and texture coordinates: the glTF document and its buffer.
std::pair<std::string, std::vector<std::uint8_t>> grid(int side, const std::string& buffer_uri) {
    std::vector<float> vertices;  // position, normal, texture coordinate: 8 floats
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            const float u = static_cast<float>(x) / (side - 1), v = static_cast<float>(y) / (side - 1);
            vertices.insert(vertices.end(), {u, v, 0.1f * u * v, 0, 0, 1, u, 1 - v});
        }
    std::vector<std::uint32_t> indices;
    for (int y = 0; y + 1 < side; ++y)
        for (int x = 0; x + 1 < side; ++x) {
            const std::uint32_t a = y * side + x, b = a + 1, c = a + side, d = c + 1;
            indices.insert(indices.end(), {a, b, d, a, d, c});
        }
    std::vector<std::uint8_t> bin(vertices.size() * 4 + indices.size() * 4);
    std::memcpy(bin.data(), vertices.data(), vertices.size() * 4);
    std::memcpy(bin.data() + vertices.size() * 4, indices.data(), indices.size() * 4);
    const std::size_t n = static_cast<std::size_t>(side) * side, vbytes = vertices.size() * 4;
    auto num = [](std::size_t v) { return std::to_string(v); };
    std::string json = "{\"asset\":{\"version\":\"2.0\"},\"scene\":0,\"scenes\":[{\"nodes\":[0]}],"
        "\"nodes\":[{\"mesh\":0}],\"meshes\":[{\"primitives\":[{\"attributes\":{\"POSITION\":0,\"NORMAL\":1,"
        "\"TEXCOORD_0\":2},\"indices\":3}]}],\"accessors\":["
        "{\"bufferView\":0,\"componentType\":5126,\"count\":" + num(n) + ",\"type\":\"VEC3\",\"min\":[0,0,0],\"max\":[1,1,0.1]},"
        "{\"bufferView\":0,\"byteOffset\":12,\"componentType\":5126,\"count\":" + num(n) + ",\"type\":\"VEC3\"},"
        "{\"bufferView\":0,\"byteOffset\":24,\"componentType\":5126,\"count\":" + num(n) + ",\"type\":\"VEC2\"},"
        "{\"bufferView\":1,\"componentType\":5125,\"count\":" + num(indices.size()) + ",\"type\":\"SCALAR\"}],"
        "\"bufferViews\":[{\"buffer\":0,\"byteLength\":" + num(vbytes) + ",\"byteStride\":32},"
        "{\"buffer\":0,\"byteOffset\":" + num(vbytes) + ",\"byteLength\":" + num(indices.size() * 4) + "}],"
        "\"buffers\":[{" + buffer_uri + "\"byteLength\":" + num(bin.size()) + "}]}";
    return {json, bin};
}

std::vector<std::uint8_t> grid_glb(int side) {
    auto [json, bin] = grid(side, "");
    json.append((4 - json.size() % 4) % 4, ' ');
    std::vector<std::uint8_t> out;
    auto u32 = [&](std::uint32_t v) { out.insert(out.end(), reinterpret_cast<std::uint8_t*>(&v), reinterpret_cast<std::uint8_t*>(&v) + 4); };
    out.insert(out.end(), {'g', 'l', 'T', 'F'});
    u32(2);
    u32(static_cast<std::uint32_t>(28 + json.size() + bin.size()));
    u32(static_cast<std::uint32_t>(json.size()));
    out.insert(out.end(), {'J', 'S', 'O', 'N'});
    out.insert(out.end(), json.begin(), json.end());
    u32(static_cast<std::uint32_t>(bin.size()));
    out.insert(out.end(), {'B', 'I', 'N', 0});
    out.insert(out.end(), bin.begin(), bin.end());
    return out;
}

std::vector<std::uint8_t> grid_gltf(int side) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const std::vector<std::uint8_t> bin = grid(side, "").second;
    std::string b64;
    for (std::size_t i = 0; i < bin.size(); i += 3) {
        const std::uint32_t v = bin[i] << 16 | (i + 1 < bin.size() ? bin[i + 1] << 8 : 0) | (i + 2 < bin.size() ? bin[i + 2] : 0);
        for (std::size_t k = 0; k < 4; ++k) b64 += i + k <= bin.size() ? digits[(v >> (18 - 6 * k)) & 63] : '=';
    }
    const std::string json = grid(side, "\"uri\":\"data:application/octet-stream;base64," + b64 + "\",").first;
    return std::vector<std::uint8_t>(json.begin(), json.end());
}

// --gltf: both readers on the generated grids, as described at the top.
int run_gltf(int side, int repetitions) {
    using clock = std::chrono::steady_clock;
    const readers::side_files no_files = [](const std::string& name, std::vector<std::uint8_t>&, std::string& error) {
        error = "no file " + name;
        return false;
    };
    std::printf("%-10s %10s %9s %9s %12s %12s %8s\n", "file", "bytes", "ours ms", "assimp ms", "ours MB/s", "assimp MB/s",
                "ratio");
    int failures = 0;
    for (const bool binary : {true, false}) {
        const std::vector<std::uint8_t> bytes = binary ? grid_glb(side) : grid_gltf(side);
        std::vector<double> ours_times, theirs_times;
        bool ok = true;
        std::size_t triangles = 0;
        for (int i = 0; i < repetitions && ok; ++i) {
            auto start = clock::now();
            readers::mesh m;
            std::string error;
            ok = gltf::parse(bytes.data(), bytes.size(), binary, no_files, m, error);
            ours_times.push_back(std::chrono::duration<double>(clock::now() - start).count());
            if (!ok) std::fprintf(stderr, "ours: %s\n", error.c_str());
            triangles = m.triangles.size();
            start = clock::now();
            Assimp::Importer importer;
            const aiScene* scene =
                importer.ReadFileFromMemory(bytes.data(), bytes.size(), aiProcess_Triangulate, binary ? "glb" : "gltf");
            theirs_times.push_back(std::chrono::duration<double>(clock::now() - start).count());
            if (!scene || scene->mNumMeshes != 1 || scene->mMeshes[0]->mNumFaces != triangles) {
                std::fprintf(stderr, "assimp: %s\n", scene ? "a different mesh" : importer.GetErrorString());
                ok = false;
            }
        }
        const char* name = binary ? "grid.glb" : "grid.gltf";
        if (!ok) {
            std::printf("%-10s %10zu   not read by both\n", name, bytes.size());
            ++failures;
            continue;
        }
        const double o = median(ours_times), t = median(theirs_times), size = static_cast<double>(bytes.size());
        std::printf("%-10s %10zu %9.1f %9.1f %12.1f %12.1f %8.2f\n", name, bytes.size(), o * 1e3, t * 1e3, size / o / 1e6,
                    size / t / 1e6, t / o);
    }
    std::printf("(%d x %d vertices, %d triangles; times: median of %d; ratio: assimp's time over ours, above 1 "
                "ours is faster)\n", side, side, 2 * (side - 1) * (side - 1), repetitions);
    return failures ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--export-x") {
        Assimp::Importer importer;
        const aiScene* scene = importer.ReadFile(argv[2], 0);
        if (!scene || Assimp::Exporter().Export(scene, "x", argv[3]) != AI_SUCCESS) {
            std::fprintf(stderr, "cannot export %s as %s\n", argv[2], argv[3]);
            return 1;
        }
        return 0;
    }
    if (argc == 4 && std::string(argv[1]) == "--peak") return print_peak(argv[2], argv[3]);
    if (argc >= 2 && std::string(argv[1]) == "--obj") return run_obj(argc > 2 ? std::max(1, std::atoi(argv[2])) : 5);
    if (argc >= 2 && std::string(argv[1]) == "--gltf")
        return run_gltf(argc > 2 ? std::max(2, std::atoi(argv[2])) : 512, argc > 3 ? std::max(1, std::atoi(argv[3])) : 10);
    if (argc >= 3 && std::string(argv[1]) == "--scaling")
        return run_scaling(argv[2], argc > 3 ? std::max(1, std::atoi(argv[3])) : 5);
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
