#pragma once

// true when the browser says the request was made by a page of another
// origin. Browsers attach Sec-Fetch-Site and Origin on their own; a page
// cannot forge either. The rule, in order:
//   1. Sec-Fetch-Site present: only "same-origin" and "none" (typed by the
//      user) are the same origin; any other value, the empty one included,
//      is not.
//   2. Else Origin present: with its scheme ("http://" or "https://", any
//      case) taken off, the rest must equal Host, ignoring case; "null", any
//      other scheme, a path, or no Host at all make it cross-origin.
//   3. Else (curl, scripts, the host itself): not cross-origin.
// Each argument is the header's value, or null when it was not sent.
bool cross_origin_request(const char *sec_fetch_site, const char *origin, const char *host);
