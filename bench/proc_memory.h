// Resident memory of the calling process as the host kernel counts it, for the benchmarks that
// run under Wine: Wine maps the host's root to Z:. Files are opened by the wine server, so
// Z:\proc\self is the server's: the process finds its own entry by the word after "--tag" on
// its command line (the caller makes it unique), reads its status there and resets its peak
// through its clear_refs.
#pragma once
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

// The host's /proc folder of this process, as a Windows path ending in a backslash; empty when the
// command line has no --tag or no process with it is found.
inline std::wstring proc_folder() {
    static std::wstring folder = [] {
        const std::wstring line = GetCommandLineW();
        const size_t at = line.find(L"--tag ");
        if (at == std::wstring::npos) return std::wstring();
        std::wstring tag = line.substr(at + 6);
        tag = tag.substr(0, tag.find(L' '));
        WIN32_FIND_DATAW found;
        HANDLE find = FindFirstFileW(L"Z:\\proc\\*", &found);
        if (find == INVALID_HANDLE_VALUE) return std::wstring();
        std::wstring result;
        do {
            const std::wstring name = found.cFileName;
            if (name.find_first_not_of(L"0123456789") != std::wstring::npos) continue;
            HANDLE h = CreateFileW((L"Z:\\proc\\" + name + L"\\cmdline").c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
            if (h == INVALID_HANDLE_VALUE) continue;
            char buffer[4096];
            DWORD got = 0;
            std::string text;
            while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
            CloseHandle(h);
            const std::string wanted = std::string("--tag") + '\0' + std::string(tag.begin(), tag.end()) + '\0';
            if (text.find(wanted) != std::string::npos) result = L"Z:\\proc\\" + name + L"\\";
        } while (result.empty() && FindNextFileW(find, &found));
        FindClose(find);
        return result;
    }();
    return folder;
}

// A "Name:   1234 kB" field of /proc/self/status (VmRSS, VmHWM), in bytes; -1 when it cannot be
// read.
inline double proc_status_bytes(const char* field) {
    if (proc_folder().empty()) return -1;
    HANDLE h = CreateFileW((proc_folder() + L"status").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
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
    if (proc_folder().empty()) return false;
    HANDLE h = CreateFileW((proc_folder() + L"clear_refs").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD put = 0;
    const bool ok = WriteFile(h, "5", 1, &put, nullptr) && put == 1;
    CloseHandle(h);
    return ok;
}
