// Counts the heap allocations that one loaded module makes itself, from outside it: while a
// counter lives, the module's imports of the allocation functions (the C runtime's malloc
// family, which operator new and the standard containers go through, the process heaps,
// Local/Global memory, BSTRs and COM task memory) are redirected through its import address
// table to counting wrappers that call the originals. Allocations that other DLLs make on the
// module's behalf (Direct3D's own, say) are not the module's and are not counted.
#pragma once
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

class allocation_counter {
public:
    // Redirects the module's imports; one counter at a time per process.
    explicit allocation_counter(HMODULE module);
    ~allocation_counter();  // puts the original imports back
    allocation_counter(const allocation_counter&) = delete;
    allocation_counter& operator=(const allocation_counter&) = delete;

    // Sets every count to zero.
    void reset();
    // Allocations since the last reset, in all and per function (only those called).
    long total() const;
    std::vector<std::pair<std::string, long>> by_function() const;
    // The allocation functions the module imports, which are the ones watched.
    std::vector<std::string> watched() const;

private:
    struct patch {
        void** slot;
        void* original;
        int function;
    };
    std::vector<patch> patches_;
};
