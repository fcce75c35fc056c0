// The bracket around every runtime call made from Python: the interpreter lock is
// released, and the thread's errno is the backend's saved value during the call and
// saved for the backend after it.
#pragma once

#include "protocol/backend_entry_points.hpp"
#include "common/released_interpreter.hpp"

namespace tessivec::bridge {

namespace backend = protocol::backend;

class RuntimeCallBracket {
public:
    RuntimeCallBracket() { backend::restore_errno(); }
    ~RuntimeCallBracket() { backend::save_errno(); }

    RuntimeCallBracket(const RuntimeCallBracket&) = delete;
    RuntimeCallBracket& operator=(const RuntimeCallBracket&) = delete;

private:
    // Released before the errno restore, taken back after the save.
    common::ReleasedInterpreter released_;
};

}  // namespace tessivec::bridge
