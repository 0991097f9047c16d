#pragma once

// The program's version, as --version prints it and every JSON reply that
// describes the plugin carries it. A macro so that it joins the fixed reply
// texts at compile time. (The page's pill writes the same text.)
#define HULLMON_VERSION "1.1.2"
