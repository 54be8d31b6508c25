#include "engine/seams.h"

namespace engine::seams {
namespace {
DWORD system_tick_count() { return GetTickCount(); }
void message_box(const std::wstring& text) { MessageBoxW(nullptr, text.c_str(), nullptr, MB_OK | MB_TASKMODAL); }
}  // namespace

DWORD (*tick_count)() = system_tick_count;
void (*show_notice)(const std::wstring& text) = message_box;

}  // namespace engine::seams
