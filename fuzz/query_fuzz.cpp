// get_query_val over any text, name and buffer size: the result always
// ends inside the caller's buffer, is never longer than the raw value, and
// is the value that the parameter syntax gives.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "cgi/query.h"
#include "fuzz_support.h"

namespace {

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The lookup written plainly from the parameter syntax, as a second opinion.
bool expected_value(const std::string &text, const std::string &name, size_t size, std::string &raw,
                    std::string &decoded) {
    size_t at = 0;
    for (;;) {
        if (text.compare(at, name.size(), name) == 0 && at + name.size() < text.size() &&
            text[at + name.size()] == '=')
            break;
        size_t amp = text.find('&', at);
        if (amp == std::string::npos) return false;
        at = amp + 1;
    }
    size_t start = at + name.size() + 1;
    size_t end = text.find('&', start);
    raw = text.substr(start, (end == std::string::npos ? text.size() : end) - start);
    std::string cut = raw.substr(0, size - 1);
    for (size_t i = 0; i < cut.size(); ++i) {
        if (cut[i] == '%' && i + 2 < cut.size() && hex_digit(cut[i + 1]) >= 0 && hex_digit(cut[i + 2]) >= 0) {
            decoded += static_cast<char>(hex_digit(cut[i + 1]) * 16 + hex_digit(cut[i + 2]));
            i += 2;
        } else if (cut[i] == '+') {
            decoded += ' ';
        } else {
            decoded += cut[i];
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) return 0;
    // First byte: the buffer size (the program's own sizes are 16, 32, 64,
    // 192 and 256; every size from 2 up to 257 is tried).
    const size_t out_size = 2 + data[0];
    const bool null_text = data[1] == 0xFF;
    const std::string rest(reinterpret_cast<const char *>(data + 2), size - 2);
    // The name runs to the first NUL; the text is what follows, to its own NUL.
    size_t nul = rest.find('\0');
    std::string name = rest.substr(0, nul);
    if (name.empty()) name = "a";
    std::string text = nul == std::string::npos ? "" : rest.substr(nul + 1);
    text = text.substr(0, text.find('\0'));

    // Exactly sized heap copies, so any byte touched outside them is caught.
    char *text_copy = static_cast<char *>(std::malloc(text.size() + 1));
    std::memcpy(text_copy, text.c_str(), text.size() + 1);
    char *out = static_cast<char *>(std::malloc(out_size));
    std::memset(out, 'X', out_size);

    const bool found = get_query_val(null_text ? nullptr : text_copy, name.c_str(), out, out_size);

    FUZZ_CHECK(std::memchr(out, '\0', out_size) != nullptr);
    FUZZ_CHECK(std::strcmp(text_copy, text.c_str()) == 0);  // the text is never changed
    std::string raw, decoded;
    bool want = !null_text && expected_value(text, name, out_size, raw, decoded);
    FUZZ_CHECK(found == want);
    if (!found) {
        FUZZ_CHECK(out[0] == '\0');
    } else {
        FUZZ_CHECK(std::strlen(out) <= raw.size());
        FUZZ_CHECK(std::strlen(out) <= out_size - 1);
        FUZZ_CHECK(std::strcmp(out, decoded.c_str()) == 0);
    }
    std::free(out);
    std::free(text_copy);
    return 0;
}
