#pragma once

// The page document, cut at the back link, as generated at build time by
// page_embed.cmake from page.html and the files it includes. Each blob holds
// exactly Size bytes of 7-bit ASCII and no terminator.

#include <cstddef>

// From the document start to the start tag of the wrap container.
extern const unsigned char kPageBeforeBackLink[];
extern const std::size_t kPageBeforeBackLinkSize;

// The back link row, left out of the embedded page.
extern const unsigned char kPageBackLink[];
extern const std::size_t kPageBackLinkSize;

// From the top bar to the end of the document, its final line feed included.
extern const unsigned char kPageAfterBackLink[];
extern const std::size_t kPageAfterBackLinkSize;
