// Settings of the process that hosts the plugin.
#pragma once

namespace qrx {

// Large blocks from the process heap (the plugin's zeroed blocks for binary strings and for
// scrolling, the host's own buffers) are fresh mappings on every allocation, and on a system
// whose transparent huge pages are given only to memory that asks for them, writing one faults
// once per 4 KiB page: for a 48 MB block that costs many times the writing itself. glibc's malloc
// asks for huge pages for its mappings when started with the tunable glibc.malloc.hugetlb=1, which
// is read only at process start. This re-executes the running program (/proc/self/exe, the same
// arguments) with that tunable added to GLIBC_TUNABLES, unless it is there already; when the
// re-execution cannot be done it returns and the process goes on as it is. Call it first thing
// in main. Measured on a 4096 x 4096 picture: PicturetoBinaryStringQRX from 44 to 2.5 x memcpy,
// a wrapping vertical scroll from 54 to 4.3 x, a whole `qrx call` from 1.9 s to 1.2 s, with the
// same peak memory.
void askForHugePages(char** argv);

} // namespace qrx
