#include "page/page.h"

#include "page/page_blobs.h"
#include "reply/head.h"

void mode_html(FILE *out, bool embedded) {
    // Fixed texts of known length: no formatting, no allocation. A failing
    // output cannot be reported anywhere, so results are ignored. No Status
    // line: the host answers 200.
    std::fwrite(kHtmlHead, 1, kHtmlHeadLen, out);
    std::fwrite(kPageBeforeBackLink, 1, kPageBeforeBackLinkSize, out);
    if (!embedded) std::fwrite(kPageBackLink, 1, kPageBackLinkSize, out);
    std::fwrite(kPageAfterBackLink, 1, kPageAfterBackLinkSize, out);
}
