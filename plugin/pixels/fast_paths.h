// The process-wide choice between the specialised pixel loops and the general
// decode-compute-encode loops. Both give the same bytes and the same counts; the general loops
// stay as the reference the specialised ones are checked against.
#pragma once

// True (the default): loops specialised by layout group and per-call tables are taken.
extern bool gFastPaths;

inline bool FastPathsEnabled() {
    return gFastPaths;
}
