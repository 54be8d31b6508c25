// Resident memory of the calling process as the host kernel counts it, for the benchmarks that
// run under Wine: Wine maps the host's root to Z:, so the process reads its own
// /proc/self/status, and resets its peak through /proc/self/clear_refs.
#pragma once
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

// A "Name:   1234 kB" field of /proc/self/status (VmRSS, VmHWM), in bytes; -1 when it cannot be
// read.
inline double proc_status_bytes(const char* field) {
    HANDLE h = CreateFileW(L"Z:\\proc\\self\\status", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return -1;
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
    CloseHandle(h);
    const std::string key = std::string("\n") + field + ":";
    const size_t at = text.find(key);
    return at == std::string::npos ? -1 : std::atof(text.c_str() + at + key.size()) * 1024;
}

// Makes VmHWM start again from the present resident memory; false where the kernel does not
// allow it (the peak then counts from the start of the process).
inline bool proc_reset_peak() {
    HANDLE h = CreateFileW(L"Z:\\proc\\self\\clear_refs", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD put = 0;
    const bool ok = WriteFile(h, "5", 1, &put, nullptr) && put == 1;
    CloseHandle(h);
    return ok;
}
