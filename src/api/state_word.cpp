#include "api/state_word.h"

#include <cstring>

#include "api/fields.h"

namespace {

struct state_rule {
    const char *contains;
    const char *word;
};

// Order matters: "Up 2 hours (Paused)" is paused, "Restarting" is not up.
const state_rule kStateRules[] = {
    {"paused", "paused"}, {"restart", "restarting"}, {"dead", "dead"},   {"created", "created"},
    {"exited", "exited"}, {"stopped", "exited"},     {"exit", "exited"}, {"up", "running"},
    {"running", "running"},
};

}  // namespace

void normalize_state(const char *raw, char *out, size_t size) {
    char lowered[kRawStateSize];
    copy_field(lowered, sizeof lowered, raw);
    for (char *p = lowered; *p; ++p)
        if (*p >= 'A' && *p <= 'Z') *p = static_cast<char>(*p - 'A' + 'a');
    for (const state_rule &rule : kStateRules) {
        if (std::strstr(lowered, rule.contains)) {
            copy_field(out, size, rule.word);
            return;
        }
    }
    copy_field(out, size, lowered);
}
