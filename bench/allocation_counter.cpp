#include "allocation_counter.h"

#include <objbase.h>
#include <oleauto.h>

#include <cstdlib>
#include <cstring>
#include <string.h>

namespace {

enum watched_function {
    f_malloc,
    f_calloc,
    f_realloc,
    f_strdup,
    f_wcsdup,
    f_heap_alloc,
    f_heap_realloc,
    f_local_alloc,
    f_global_alloc,
    f_sys_alloc_string,
    f_sys_alloc_string_len,
    f_sys_alloc_string_byte_len,
    f_sys_realloc_string,
    f_sys_realloc_string_len,
    f_co_task_mem_alloc,
    f_co_task_mem_realloc,
    function_count
};

void* originals[function_count];
LONG counts[function_count];

template <class F>
F original(watched_function f) {
    InterlockedIncrement(&counts[f]);
    return reinterpret_cast<F>(originals[f]);
}

void* __cdecl count_malloc(size_t n) { return original<decltype(&malloc)>(f_malloc)(n); }
void* __cdecl count_calloc(size_t n, size_t size) { return original<decltype(&calloc)>(f_calloc)(n, size); }
void* __cdecl count_realloc(void* p, size_t n) { return original<decltype(&realloc)>(f_realloc)(p, n); }
char* __cdecl count_strdup(const char* s) { return original<decltype(&_strdup)>(f_strdup)(s); }
wchar_t* __cdecl count_wcsdup(const wchar_t* s) { return original<decltype(&_wcsdup)>(f_wcsdup)(s); }
LPVOID WINAPI count_heap_alloc(HANDLE heap, DWORD flags, SIZE_T n) {
    return original<decltype(&HeapAlloc)>(f_heap_alloc)(heap, flags, n);
}
LPVOID WINAPI count_heap_realloc(HANDLE heap, DWORD flags, LPVOID p, SIZE_T n) {
    return original<decltype(&HeapReAlloc)>(f_heap_realloc)(heap, flags, p, n);
}
HLOCAL WINAPI count_local_alloc(UINT flags, SIZE_T n) {
    return original<decltype(&LocalAlloc)>(f_local_alloc)(flags, n);
}
HGLOBAL WINAPI count_global_alloc(UINT flags, SIZE_T n) {
    return original<decltype(&GlobalAlloc)>(f_global_alloc)(flags, n);
}
BSTR WINAPI count_sys_alloc_string(const OLECHAR* s) {
    return original<decltype(&SysAllocString)>(f_sys_alloc_string)(s);
}
BSTR WINAPI count_sys_alloc_string_len(const OLECHAR* s, UINT n) {
    return original<decltype(&SysAllocStringLen)>(f_sys_alloc_string_len)(s, n);
}
BSTR WINAPI count_sys_alloc_string_byte_len(LPCSTR s, UINT n) {
    return original<decltype(&SysAllocStringByteLen)>(f_sys_alloc_string_byte_len)(s, n);
}
INT WINAPI count_sys_realloc_string(BSTR* b, const OLECHAR* s) {
    return original<decltype(&SysReAllocString)>(f_sys_realloc_string)(b, s);
}
INT WINAPI count_sys_realloc_string_len(BSTR* b, const OLECHAR* s, UINT n) {
    return original<decltype(&SysReAllocStringLen)>(f_sys_realloc_string_len)(b, s, n);
}
LPVOID WINAPI count_co_task_mem_alloc(SIZE_T n) {
    return original<decltype(&CoTaskMemAlloc)>(f_co_task_mem_alloc)(n);
}
LPVOID WINAPI count_co_task_mem_realloc(LPVOID p, SIZE_T n) {
    return original<decltype(&CoTaskMemRealloc)>(f_co_task_mem_realloc)(p, n);
}

struct hook {
    const char* name;
    void* counting;
};

const hook hooks[function_count] = {
    {"malloc", reinterpret_cast<void*>(count_malloc)},
    {"calloc", reinterpret_cast<void*>(count_calloc)},
    {"realloc", reinterpret_cast<void*>(count_realloc)},
    {"_strdup", reinterpret_cast<void*>(count_strdup)},
    {"_wcsdup", reinterpret_cast<void*>(count_wcsdup)},
    {"HeapAlloc", reinterpret_cast<void*>(count_heap_alloc)},
    {"HeapReAlloc", reinterpret_cast<void*>(count_heap_realloc)},
    {"LocalAlloc", reinterpret_cast<void*>(count_local_alloc)},
    {"GlobalAlloc", reinterpret_cast<void*>(count_global_alloc)},
    {"SysAllocString", reinterpret_cast<void*>(count_sys_alloc_string)},
    {"SysAllocStringLen", reinterpret_cast<void*>(count_sys_alloc_string_len)},
    {"SysAllocStringByteLen", reinterpret_cast<void*>(count_sys_alloc_string_byte_len)},
    {"SysReAllocString", reinterpret_cast<void*>(count_sys_realloc_string)},
    {"SysReAllocStringLen", reinterpret_cast<void*>(count_sys_realloc_string_len)},
    {"CoTaskMemAlloc", reinterpret_cast<void*>(count_co_task_mem_alloc)},
    {"CoTaskMemRealloc", reinterpret_cast<void*>(count_co_task_mem_realloc)},
};

void write_slot(void** slot, void* value) {
    DWORD old = 0;
    VirtualProtect(slot, sizeof(void*), PAGE_READWRITE, &old);
    *slot = value;
    VirtualProtect(slot, sizeof(void*), old, &old);
}

}  // namespace

allocation_counter::allocation_counter(HMODULE module) {
    reset();
    if (!module) return;
    auto* base = reinterpret_cast<BYTE*>(module);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!dir.VirtualAddress) return;
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name; ++d) {
        if (!d->OriginalFirstThunk) continue;  // without names there is nothing to match
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto* by_name = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            const char* name = reinterpret_cast<const char*>(by_name->Name);
            for (int f = 0; f < function_count; ++f) {
                if (std::strcmp(name, hooks[f].name) != 0) continue;
                void** slot = reinterpret_cast<void**>(&slots->u1.Function);
                originals[f] = *slot;
                patches_.push_back({slot, *slot, f});
                write_slot(slot, hooks[f].counting);
            }
        }
    }
}

allocation_counter::~allocation_counter() {
    for (const patch& p : patches_) write_slot(p.slot, p.original);
}

void allocation_counter::reset() {
    for (LONG& c : counts) InterlockedExchange(&c, 0);
}

long allocation_counter::total() const {
    long sum = 0;
    for (LONG c : counts) sum += c;
    return sum;
}

std::vector<std::pair<std::string, long>> allocation_counter::by_function() const {
    std::vector<std::pair<std::string, long>> out;
    for (int f = 0; f < function_count; ++f)
        if (counts[f]) out.emplace_back(hooks[f].name, counts[f]);
    return out;
}

std::vector<std::string> allocation_counter::watched() const {
    std::vector<std::string> out;
    for (const patch& p : patches_) out.emplace_back(hooks[p.function].name);
    return out;
}
