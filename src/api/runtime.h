#pragma once

// Capacities of the runtime selection's texts, terminator included.
constexpr unsigned kBinSize = 512;
constexpr unsigned kLabelSize = 64;

// The container runtime chosen for one request. When available, bin and
// label are non-empty and bin holds no single quote, CR or LF, so it can
// stand between single quotes at the start of a command line; when not,
// both are empty.
struct runtime_selection {
    char bin[kBinSize];
    char label[kLabelSize];
    bool available;
};

// true when an entry named `name` (of any kind) exists in one of the
// directories of `path` (the PATH value; null or empty finds nothing).
// Empty elements are skipped, never taken as the current directory;
// elements too long for the candidate path are skipped.
bool path_has_entry(const char *name, const char *path);

// docker_bin (DOCKER_BIN) when set and safe ("custom"), else docker, else
// podman from `path`. A DOCKER_BIN holding a quote or a line break selects
// nothing. Either argument may be null (not set).
void select_runtime(runtime_selection *rt, const char *docker_bin, const char *path);
