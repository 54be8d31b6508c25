// The keyboard that the recording DirectInput devices read: a test sets the key state and
// queues the buffered records each read delivers.
#pragma once
#include <deque>
#include <vector>

#include "dx/recording.h"

namespace dx::recording {

struct keyboard_script {
    keyboard_state state{};  // what every state read returns
    // One entry per buffered read, delivered from slot 0 upward; a read finding the queue
    // empty delivers nothing. Records beyond the slots a read offers stay for the next one.
    std::deque<std::vector<key_record>> reads;
};

// Records with the given key codes and data words, the other words numbered in order.
std::vector<key_record> records(std::initializer_list<std::pair<LONG, LONG>> code_and_data);

}  // namespace dx::recording
