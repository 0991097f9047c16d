// Cutting a captured log text into the "lines" elements: every element is
// at most 2047 bytes and holds no line feed, each call moves on, and the
// elements laid end to end, with the runs of CR and LF skipped between
// them, give back the whole text.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "api/logs.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);
    text = text.substr(0, text.find('\0'));
    char *copy = static_cast<char *>(std::malloc(text.size() + 1));
    std::memcpy(copy, text.c_str(), text.size() + 1);
    // Exactly the element buffer the action uses, on the heap.
    char *line = static_cast<char *>(std::malloc(kLogLineMax + 1));

    size_t at = 0;
    bool first = true;
    for (const char *pos = copy; *pos;) {
        const char *before = pos;
        next_log_element(&pos, line);
        FUZZ_CHECK(pos > before && pos <= copy + text.size());
        FUZZ_CHECK(std::memchr(line, '\0', kLogLineMax + 1) != nullptr);
        const size_t len = std::strlen(line);
        FUZZ_CHECK(len <= kLogLineMax);
        FUZZ_CHECK(std::strchr(line, '\n') == nullptr);
        // An empty element only for a text that starts with a line feed.
        if (len == 0) FUZZ_CHECK(first && text[0] == '\n');
        // The element is the text at this point...
        FUZZ_CHECK(text.compare(at, len, line) == 0);
        at += len;
        // ...and what was passed over after it is CR and LF only; a shorter
        // element than the limit ended at a line feed or at the end.
        const size_t skipped = static_cast<size_t>(pos - copy) - at;
        for (size_t i = 0; i < skipped; ++i) FUZZ_CHECK(text[at + i] == '\r' || text[at + i] == '\n');
        if (len < kLogLineMax && len > 0) FUZZ_CHECK(at == text.size() || text[at] == '\n');
        // Nothing that could start an element is left unskipped.
        at += skipped;
        FUZZ_CHECK(at == text.size() || (text[at] != '\n' && text[at] != '\r'));
        first = false;
    }
    FUZZ_CHECK(at == text.size());
    std::free(line);
    std::free(copy);
    return 0;
}
