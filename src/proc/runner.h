#pragma once

#include "proc/heap_text.h"

// What one runtime command left behind; the action that ran the command
// owns it.
struct command_output {
    // Everything the command printed, as a terminated text; null when it
    // could not be started or its output could not be held in memory.
    heap_text text;
    // Its exit status: 0 to 255 as it exited, 128 + N when it died of
    // signal N, 124 when the request's deadline ended it, -1 when it could
    // not be started or its output could not be held.
    int status = -1;
};

// Most command lines one action runs at once.
constexpr int kMaxCommands = 2;

// Runs the command lines of one action. The actions take a runner instead
// of starting processes themselves, so that tests and the fuzzer can hand
// them canned outputs.
class command_runner {
public:
    virtual ~command_runner() = default;

    // Runs `count` (at most kMaxCommands) command lines together and fills
    // out[i] for commands[i]. Returns once every one has ended or has been
    // ended; nothing it started is left running.
    virtual void run(const char *const *commands, command_output *out, int count) = 0;
};
