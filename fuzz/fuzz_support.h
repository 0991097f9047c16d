// Helpers shared by the fuzz harnesses: a check that stops the run, and a
// strict reader for the JSON the replies carry. The harnesses hand the
// writers a memory stream (tests/fixtures/memory_stream.h) to write to.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

// Stops the run with a message; libFuzzer keeps the input as a crash.
#define FUZZ_CHECK(cond)                                                                    \
    do {                                                                                    \
        if (!(cond)) {                                                                      \
            std::fprintf(stderr, "check failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
            std::abort();                                                                   \
        }                                                                                   \
    } while (0)

struct json_value {
    enum kind_t { kNull, kBool, kNumber, kString, kArray, kObject } kind = kNull;
    bool boolean = false;
    long long number = 0;
    std::string text;                                      // kString: decoded bytes
    std::vector<json_value> items;                         // kArray
    std::vector<std::pair<std::string, json_value>> members;  // kObject, in order

    const json_value *get(const char *key) const {
        for (const auto &m : members)
            if (m.first == key) return &m.second;
        return nullptr;
    }
};

// A reader for the compact JSON of the replies: no white space between
// tokens, integers only. When utf8 is set, string bytes must form valid
// UTF-8 (RFC 8259); otherwise any byte from 0x20 up but quote and backslash
// is taken as it is, as the replies pass the runtime's bytes unchecked.
// Raw bytes below 0x20 are always refused.
class json_reader {
public:
    json_reader(const std::string &s, bool utf8) : s_(s), utf8_(utf8) {}

    bool value(json_value &v) {
        if (pos_ >= s_.size()) return false;
        char c = s_[pos_];
        if (c == '"') {
            v.kind = json_value::kString;
            return string(v.text);
        }
        if (c == '{') return object(v);
        if (c == '[') return array(v);
        if (c == 't') return word("true", v, json_value::kBool, true);
        if (c == 'f') return word("false", v, json_value::kBool, false);
        if (c == 'n') return word("null", v, json_value::kNull, false);
        if (c == '-' || (c >= '0' && c <= '9')) return number(v);
        return false;
    }
    size_t pos() const { return pos_; }

    bool string(std::string &out) {
        if (s_[pos_] != '"') return false;
        ++pos_;
        for (;;) {
            if (pos_ >= s_.size()) return false;
            unsigned char c = static_cast<unsigned char>(s_[pos_]);
            if (c == '"') {
                ++pos_;
                return true;
            }
            if (c < 0x20) return false;
            if (c == '\\') {
                if (++pos_ >= s_.size()) return false;
                char e = s_[pos_++];
                switch (e) {
                    case '"': out += '"'; break;
                    case '\\': out += '\\'; break;
                    case '/': out += '/'; break;
                    case 'b': out += '\b'; break;
                    case 'f': out += '\f'; break;
                    case 'n': out += '\n'; break;
                    case 'r': out += '\r'; break;
                    case 't': out += '\t'; break;
                    case 'u': {
                        if (pos_ + 4 > s_.size()) return false;
                        unsigned cp = 0;
                        for (int i = 0; i < 4; ++i) {
                            int d = hex(s_[pos_ + i]);
                            if (d < 0) return false;
                            cp = cp * 16 + static_cast<unsigned>(d);
                        }
                        pos_ += 4;
                        // The replies only ever escape bytes below 0x20 this way.
                        if (cp >= 0x80) return false;
                        out += static_cast<char>(cp);
                        break;
                    }
                    default: return false;
                }
                continue;
            }
            if (c >= 0x80 && utf8_) {
                size_t n = utf8_length(pos_);
                if (!n) return false;
                out.append(s_, pos_, n);
                pos_ += n;
                continue;
            }
            out += static_cast<char>(c);
            ++pos_;
        }
    }

private:
    static int hex(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }
    // Length of the well-formed UTF-8 sequence at i, or 0.
    size_t utf8_length(size_t i) const {
        auto at = [&](size_t k) { return k < s_.size() ? static_cast<unsigned char>(s_[k]) : 0u; };
        unsigned c = at(i);
        auto cont = [&](size_t k) { return (at(k) & 0xC0) == 0x80; };
        if (c >= 0xC2 && c <= 0xDF) return cont(i + 1) ? 2 : 0;
        if (c == 0xE0) return at(i + 1) >= 0xA0 && at(i + 1) <= 0xBF && cont(i + 2) ? 3 : 0;
        if ((c >= 0xE1 && c <= 0xEC) || c == 0xEE || c == 0xEF) return cont(i + 1) && cont(i + 2) ? 3 : 0;
        if (c == 0xED) return at(i + 1) >= 0x80 && at(i + 1) <= 0x9F && cont(i + 2) ? 3 : 0;
        if (c == 0xF0) return at(i + 1) >= 0x90 && at(i + 1) <= 0xBF && cont(i + 2) && cont(i + 3) ? 4 : 0;
        if (c >= 0xF1 && c <= 0xF3) return cont(i + 1) && cont(i + 2) && cont(i + 3) ? 4 : 0;
        if (c == 0xF4) return at(i + 1) >= 0x80 && at(i + 1) <= 0x8F && cont(i + 2) && cont(i + 3) ? 4 : 0;
        return 0;
    }
    bool word(const char *w, json_value &v, json_value::kind_t k, bool b) {
        size_t n = std::strlen(w);
        if (s_.compare(pos_, n, w) != 0) return false;
        pos_ += n;
        v.kind = k;
        v.boolean = b;
        return true;
    }
    bool number(json_value &v) {
        size_t start = pos_;
        if (s_[pos_] == '-') ++pos_;
        if (pos_ >= s_.size() || s_[pos_] < '0' || s_[pos_] > '9') return false;
        if (s_[pos_] == '0' && pos_ + 1 < s_.size() && s_[pos_ + 1] >= '0' && s_[pos_ + 1] <= '9') return false;
        while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') ++pos_;
        if (pos_ - start > 18) return false;
        v.kind = json_value::kNumber;
        v.number = std::strtoll(s_.substr(start, pos_ - start).c_str(), nullptr, 10);
        return true;
    }
    bool array(json_value &v) {
        v.kind = json_value::kArray;
        ++pos_;
        if (pos_ < s_.size() && s_[pos_] == ']') {
            ++pos_;
            return true;
        }
        for (;;) {
            json_value item;
            if (!value(item)) return false;
            v.items.push_back(std::move(item));
            if (pos_ >= s_.size()) return false;
            char c = s_[pos_++];
            if (c == ']') return true;
            if (c != ',') return false;
        }
    }
    bool object(json_value &v) {
        v.kind = json_value::kObject;
        ++pos_;
        if (pos_ < s_.size() && s_[pos_] == '}') {
            ++pos_;
            return true;
        }
        for (;;) {
            std::string key;
            if (pos_ >= s_.size() || !string(key)) return false;
            if (pos_ >= s_.size() || s_[pos_++] != ':') return false;
            json_value item;
            if (!value(item)) return false;
            v.members.emplace_back(std::move(key), std::move(item));
            if (pos_ >= s_.size()) return false;
            char c = s_[pos_++];
            if (c == '}') return true;
            if (c != ',') return false;
        }
    }

    const std::string &s_;
    bool utf8_;
    size_t pos_ = 0;
};

// True when text holds a well-formed UTF-8 sequence and nothing else.
inline bool valid_utf8(const std::string &text) {
    std::string quoted = "\"";
    for (char c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || c == '"' || c == '\\') quoted += 'a';  // only the encoding matters here
        else quoted += c;
    }
    quoted += '"';
    json_reader r(quoted, true);
    std::string out;
    return r.string(out) && r.pos() == quoted.size();
}
