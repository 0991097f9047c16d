#pragma once

#include <ctime>

#include "proc/heap_text.h"

// Everything one run learns from the outside world, read once by main:
// the CGI variables, the configuration variables and the POST body. Below
// main nothing reads the environment; each part is handed this record.
// Text members are null when their variable is not set (an empty value
// stays an empty text: for some checks "present but empty" matters).
struct request {
    const char *query;          // QUERY_STRING, or "" when not set
    bool query_set;             // QUERY_STRING was set
    heap_text body;             // the kept POST body, or null
    bool is_post;               // REQUEST_METHOD is exactly "POST"

    const char *password;       // KELM_PASSWORD
    const char *header_password;  // HTTP_X_KELM_PASSWORD
    const char *authorization;  // HTTP_AUTHORIZATION

    const char *docker_bin;     // DOCKER_BIN
    const char *path;           // PATH

    const char *sec_fetch_site;  // HTTP_SEC_FETCH_SITE
    const char *origin;          // HTTP_ORIGIN
    const char *host;            // HTTP_HOST

    int timeout_seconds;        // from HULLMON_TIMEOUT; 0: no deadline
    timespec started;           // CLOCK_MONOTONIC when the run began
};
