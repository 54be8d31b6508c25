// Counts the allocations made through operator new, so that a program can show that code makes
// none once set up: the global operator new and delete are replaced here, so a program includes
// this header in one of its source files only.
#pragma once
#include <cstddef>
#include <cstdlib>
#include <new>

static long allocations = 0;

void* operator new(std::size_t size) {
  ++allocations;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
