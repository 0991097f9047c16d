#include "page/page.h"

#include <cstdio>

#include "page/page_blobs.h"

namespace {

// No Status line: the host answers 200.
constexpr char kHtmlHead[] =
    "Content-Type: text/html; charset=utf-8\r\n"
    "Cache-Control: no-store\r\n"
    "X-Content-Type-Options: nosniff\r\n"
    "\r\n";

}  // namespace

int mode_html(int embedded) {
    // Fixed texts of known length: no formatting, no allocation. A failing
    // standard output cannot be reported anywhere, so results are ignored.
    std::fwrite(kHtmlHead, 1, sizeof kHtmlHead - 1, stdout);
    std::fwrite(kPageBeforeBackLink, 1, kPageBeforeBackLinkSize, stdout);
    if (embedded == 0) {
        std::fwrite(kPageBackLink, 1, kPageBackLinkSize, stdout);
    }
    std::fwrite(kPageAfterBackLink, 1, kPageAfterBackLinkSize, stdout);
    return 0;
}
