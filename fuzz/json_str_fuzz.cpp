// json_str over any text: the output is one JSON string literal that reads
// back as exactly the bytes given, holds no raw byte below 0x20, and is
// well-formed JSON (UTF-8 included) whenever the text is valid UTF-8.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "memory_stream.h"
#include "reply/json_str.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);
    text = text.substr(0, text.find('\0'));  // json_str takes a terminated text

    const char *given = size == 1 && data[0] == 0xFF ? nullptr : text.c_str();
    const std::string out = written_by([&](FILE *stream) { json_str(stream, given); });
    if (size == 1 && data[0] == 0xFF) {
        FUZZ_CHECK(out == "\"\"");
        return 0;
    }

    FUZZ_CHECK(out.size() >= 2 && out.front() == '"' && out.back() == '"');
    for (char c : out) FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20);

    // Read back byte-transparently: the escapes undo to the input.
    {
        json_reader r(out, false);
        std::string back;
        FUZZ_CHECK(r.string(back));
        FUZZ_CHECK(r.pos() == out.size());
        FUZZ_CHECK(back == text);
    }
    // Valid UTF-8 in, strict JSON out.
    if (valid_utf8(text)) {
        json_reader r(out, true);
        json_value v;
        FUZZ_CHECK(r.value(v));
        FUZZ_CHECK(r.pos() == out.size());
        FUZZ_CHECK(v.kind == json_value::kString && v.text == text);
    }
    return 0;
}
