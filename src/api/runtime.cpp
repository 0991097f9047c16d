#include "api/runtime.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

// Room for one candidate path, terminator included.
constexpr size_t kCandidateSize = 1024;

void set_text(char *dst, size_t size, const char *src) {
    std::snprintf(dst, size, "%s", src);
}

}  // namespace

bool path_has_entry(const char *name, const char *path) {
    if (!path || !*path) return false;
    const size_t name_len = std::strlen(name);
    char candidate[kCandidateSize];
    for (const char *element = path;;) {
        const char *end = std::strchr(element, ':');
        size_t len = end ? static_cast<size_t>(end - element) : std::strlen(element);
        // The length rule keeps element, "/", name and terminator inside
        // the candidate buffer.
        if (len > 0 && len + name_len + 2 <= kCandidateSize - 1) {
            std::snprintf(candidate, sizeof candidate, "%.*s/%s", static_cast<int>(len), element, name);
            if (access(candidate, F_OK) == 0) return true;
        }
        if (!end || end[1] == '\0') return false;
        element = end + 1;
    }
}

void select_runtime(runtime_selection *rt, const char *docker_bin, const char *path) {
    rt->bin[0] = '\0';
    rt->label[0] = '\0';
    rt->available = false;

    const char *custom = docker_bin;
    if (custom && *custom) {
        // The executable stands between single quotes in every command
        // line; a quote or a line break could end that quoting.
        if (std::strpbrk(custom, "'\n\r")) return;
        set_text(rt->bin, sizeof rt->bin, custom);
        set_text(rt->label, sizeof rt->label, "custom");
        rt->available = true;
        return;
    }
    const char *found = path_has_entry("docker", path) ? "docker" : path_has_entry("podman", path) ? "podman" : nullptr;
    if (!found) return;
    set_text(rt->bin, sizeof rt->bin, found);
    set_text(rt->label, sizeof rt->label, found);
    rt->available = true;
}
