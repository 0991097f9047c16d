#include <gtest/gtest.h>

#include <string>

#include "memory_stream.h"
#include "page/page.h"

namespace {

std::string page(bool embedded) {
    return written_by([&](FILE *out) { mode_html(out, embedded); });
}

const char kHead[] =
    "Content-Type: text/html; charset=utf-8\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n\r\n";
const char kDocumentStart[] =
    "<!DOCTYPE html>\n<html lang='en'><head><meta charset='utf-8'><meta name='viewport' "
    "content='width=device-width,initial-scale=1'><title>docker</title>";
const char kBackLink[] =
    "<nav class='top'><a href='/' style='color:var(--accent);text-decoration:none;font-weight:600'>&#8592; Back to "
    "Kelm</a></nav>";

TEST(Page, HeadAndDocumentStart) {
    const std::string standalone = page(false);
    ASSERT_EQ(sizeof kHead - 1, 100u);
    EXPECT_EQ(standalone.substr(0, sizeof kHead - 1), kHead);
    EXPECT_EQ(standalone.substr(sizeof kHead - 1, sizeof kDocumentStart - 1), kDocumentStart);
    // The client script's text begins and ends with a line feed, and the
    // document ends with one.
    const std::string tail = "\n</script></body></html>\n";
    EXPECT_EQ(standalone.substr(standalone.size() - tail.size()), tail);
}

TEST(Page, EmbeddedIsStandaloneWithoutTheBackLink) {
    const std::string standalone = page(false);
    const std::string embedded = page(true);
    const std::string wrap_start = "<body><div class='wrap'>";
    const size_t at = standalone.find(wrap_start + kBackLink);
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(standalone.find(kBackLink, at + wrap_start.size() + 1), std::string::npos) << "back link written twice";
    std::string without = standalone;
    without.erase(at + wrap_start.size(), sizeof kBackLink - 1);
    EXPECT_EQ(embedded, without);
}

TEST(Page, SevenBitAscii) {
    for (bool embedded : {false, true}) {
        const std::string text = page(embedded);
        for (size_t i = 0; i < text.size(); ++i)
            ASSERT_LT(static_cast<unsigned char>(text[i]), 0x80u) << "byte " << i << " of page " << embedded;
    }
}

}  // namespace
