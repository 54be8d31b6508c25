// Debian's header-only glTF loader as this reader uses it: images are kept as the encoded bytes
// that the engine's own decoders read later, and every file it reads goes through the caller's
// side_files (no filesystem code of its own, so none of its narrow or wide path handling).
// gltf.cpp alone defines TINYGLTF_IMPLEMENTATION before including this.
#pragma once

#define TINYGLTF_NO_STB_IMAGE
#define TINYGLTF_NO_STB_IMAGE_WRITE
#define TINYGLTF_NO_EXTERNAL_IMAGE
#define TINYGLTF_NO_FS
#ifdef _WIN32
// The loader includes <windows.h> on Windows; keep min and max usable and the header small.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#endif

// The loader includes the JSON library under hidden visibility; standard headers first met
// there would give the standard types it instantiates hidden visibility too (and MinGW then
// warns about every public type holding one). The loader also writes files with std::ofstream
// without including <fstream> when its own file callbacks are left out.
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <tiny_gltf.h>
