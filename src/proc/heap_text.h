#pragma once

#include <cstdlib>
#include <memory>

// Gives a block back to the C heap.
struct free_block {
    void operator()(char *block) const { std::free(block); }
};

// A terminated text on the C heap (malloc or realloc made it), owned by
// whoever holds this and released when the holder goes: a POST body or a
// command's captured output. Null when there is no text. Move-only, so a
// text has one owner at a time and no return path forgets it.
using heap_text = std::unique_ptr<char, free_block>;
