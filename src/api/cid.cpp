#include "api/cid.h"

namespace {

bool cid_char(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '.' ||
           c == '-';
}

}  // namespace

bool valid_cid(const char *cid) {
    if (!cid[0] || cid[0] == '-' || cid[0] == '.') return false;
    unsigned n = 0;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(cid); *p; ++p) {
        if (++n > kMaxCidLength || !cid_char(*p)) return false;
    }
    return true;
}
