// The engine's few contacts with the system that tests replace: the millisecond tick count
// and the blocking notice of a failed device set-up.
#pragma once
#include <windows.h>

#include <string>

namespace engine::seams {

// GetTickCount by default.
extern DWORD (*tick_count)();
// A modal message box with the text, one OK button and no caption of its own by default.
extern void (*show_notice)(const std::wstring& text);

}  // namespace engine::seams
