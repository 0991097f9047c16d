#pragma once

// Rows the table holds; further containers of a listing are not read.
constexpr int kMaxContainers = 256;

// Field capacities, terminator included.
constexpr unsigned kIdSize = 80;
constexpr unsigned kNameSize = 192;
constexpr unsigned kImageSize = 192;
constexpr unsigned kStateSize = 32;
constexpr unsigned kStatusSize = 192;
constexpr unsigned kPortsSize = 512;
constexpr unsigned kCpuSize = 32;
constexpr unsigned kMemSize = 96;

// Longest line of each output, in bytes; longer lines are read in pieces.
constexpr unsigned kListingLineMax = 1599;
constexpr unsigned kUsageLineMax = 599;

// One container as the listing and the usage figures describe it. Every
// field is a terminated text, empty when not supplied.
struct container_entry {
    char id[kIdSize];
    char name[kNameSize];
    char image[kImageSize];
    char state[kStateSize];
    char status[kStatusSize];
    char ports[kPortsSize];
    char cpu[kCpuSize];
    char mem[kMemSize];
};

// The containers of this request, rows 0 .. g_container_count - 1 in
// listing order. Process-wide; one list action fills it.
extern container_entry g_containers[kMaxContainers];
extern int g_container_count;

// Counts of the rows by state word; total == running + exited + paused + other.
struct state_summary {
    int total, running, exited, paused, other;
};

// Fills the table from the listing output ("id|names|image|state|status|
// ports" lines), starting from no rows. Header lines and lines without a
// bar are dropped; at most kMaxContainers rows are kept.
void read_listing(const char *text);

// Adds CPU and memory from the usage output ("id|cpu|mem" lines) to the
// first row whose id begins with the line's id; later lines win.
void read_usage(const char *text);

state_summary summarize_states();
