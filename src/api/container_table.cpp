#include "api/container_table.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>
#include <vector>

#include "api/fields.h"
#include "api/state_word.h"

namespace {

void take_listing_line(char *line, container_table &table) {
    if (std::strncmp(line, "CONTAINER ID", 12) == 0) return;
    char *f[6];
    int n = split_pipe(line, f, 6);
    if (n < 2) return;
    container_entry &row = table.emplace_back();  // value-initialised: every field empty
    copy_field(row.id, sizeof row.id, f[0]);
    copy_field(row.name, sizeof row.name, f[1]);
    copy_field(row.image, sizeof row.image, n > 2 ? f[2] : nullptr);
    char raw_state[kRawStateSize];
    copy_field(raw_state, sizeof raw_state, n > 3 ? f[3] : nullptr);
    normalize_state(raw_state, row.state, sizeof row.state);
    copy_field(row.status, sizeof row.status, n > 4 ? f[4] : nullptr);
    copy_field(row.ports, sizeof row.ports, n > 5 ? f[5] : nullptr);
}

// The rows ordered by id, with the smallest row number of any stretch of
// that order at hand. The ids that begin with a given text form one stretch
// of the order, so the first row, in table order, that a usage id matches
// is the smallest row number of its stretch: two binary searches and a
// range-minimum walk instead of a scan of every row.
class id_index {
public:
    explicit id_index(const container_table &table) : table_(table), n_(table.size()), tree_(2 * n_) {
        // Leaves n_ .. 2n_-1 hold the row numbers in id order; node k holds
        // the smaller row number of its two children.
        size_t *sorted = tree_.data() + n_;
        for (size_t i = 0; i < n_; ++i) sorted[i] = i;
        std::sort(sorted, sorted + n_,
                  [&](size_t a, size_t b) { return std::strcmp(table[a].id, table[b].id) < 0; });
        for (size_t k = n_; k-- > 1;) tree_[k] = std::min(tree_[2 * k], tree_[2 * k + 1]);
    }

    // The number of the first row whose id begins with prefix, or the row
    // count when none does.
    size_t first_with_prefix(const char *prefix) const {
        const size_t len = std::strlen(prefix);
        const size_t *sorted = tree_.data() + n_;
        // Every id that begins with prefix sorts at or after prefix itself,
        // and before any later id that does not.
        const size_t *lo = std::partition_point(
            sorted, sorted + n_, [&](size_t row) { return std::strcmp(table_[row].id, prefix) < 0; });
        const size_t *hi = std::partition_point(
            lo, sorted + n_, [&](size_t row) { return std::strncmp(table_[row].id, prefix, len) == 0; });
        return min_row(lo - sorted, hi - sorted);
    }

private:
    // The smallest row number at sorted positions [from, to); n_ when empty.
    size_t min_row(size_t from, size_t to) const {
        size_t best = n_;
        for (from += n_, to += n_; from < to; from /= 2, to /= 2) {
            if (from & 1) best = std::min(best, tree_[from++]);
            if (to & 1) best = std::min(best, tree_[--to]);
        }
        return best;
    }

    const container_table &table_;
    size_t n_;
    std::vector<size_t> tree_;
};

}  // namespace

bool read_listing(const char *text, container_table &table) {
    table.clear();
    char line[kListingLineMax + 1];
    const char *pos = text;
    try {
        while (*pos) {
            if (next_line(&pos, line, kListingLineMax) > 0) take_listing_line(line, table);
        }
    } catch (const std::bad_alloc &) {
        // A listing of many short lines takes far more memory as rows than
        // as text; half a table would be a wrong answer, so none is given.
        table.clear();
        return false;
    }
    return true;
}

void read_usage(const char *text, container_table &table) {
    if (table.empty()) return;
    std::optional<id_index> built;
    try {
        built.emplace(table);
    } catch (const std::bad_alloc &) {
        return;  // as a usage command that printed nothing
    }
    const id_index &index = *built;
    char line[kUsageLineMax + 1];
    const char *pos = text;
    while (*pos) {
        if (next_line(&pos, line, kUsageLineMax) == 0) continue;
        char *f[3];
        if (split_pipe(line, f, 3) < 3) continue;
        const size_t at = index.first_with_prefix(f[0]);
        if (at == table.size()) continue;
        copy_field(table[at].cpu, sizeof table[at].cpu, f[1]);
        copy_field(table[at].mem, sizeof table[at].mem, f[2]);
    }
}

state_summary summarize_states(const container_table &table) {
    state_summary s = {static_cast<int>(table.size()), 0, 0, 0, 0};
    for (const container_entry &row : table) {
        if (std::strcmp(row.state, "running") == 0)
            ++s.running;
        else if (std::strcmp(row.state, "exited") == 0)
            ++s.exited;
        else if (std::strcmp(row.state, "paused") == 0)
            ++s.paused;
        else
            ++s.other;
    }
    return s;
}
