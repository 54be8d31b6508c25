#include "engine/pause.h"

namespace engine {
namespace {
pause_function& current() {
    static pause_function replacement;
    return replacement;
}
}  // namespace

void pause(DWORD milliseconds) {
    auto& replacement = current();
    if (replacement)
        replacement(milliseconds);
    else
        Sleep(milliseconds);
}

void set_pause(pause_function replacement) { current() = std::move(replacement); }

}  // namespace engine
