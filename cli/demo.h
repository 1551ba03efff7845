// qrx demo: every registered method and both filter classes run on the bundled samples, written
// as a gallery page (index.html) beside the result pictures.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "qrx/host.h"

namespace qrx::cli::demo {

// One run of qrx in the gallery. Paths in on, call and args start with "{s}/" for a file of the
// samples folder or "{o}/" for a file of the output folder (an earlier entry's result).
struct Entry {
    std::string family;  // one of families()
    std::string caption; // what the picture or the answer shows
    std::string command; // "call", "waveform", "histogram", "sepia" or "lut3d"
    std::string on;      // call: the picture the method is called on; empty: a global method
    std::string call;    // call: the call expression
    std::vector<std::string> args; // options and operands after the command (call: extra options)
    std::string output;            // the result file in the output folder, or empty
    // What a command other than call shows: "Picture.Name" (every overload of a Picture method),
    // "Name" (every overload of a global method) or "class Name" (a class and its methods).
    std::vector<std::string> covers;
};

// The families in the order the page shows them.
const std::vector<std::string>& families();

// The gallery: every entry with illustrative arguments, in the order they run (an entry may read
// an earlier entry's result).
const std::vector<Entry>& entries();

// A registered method or class as the page names it: "Picture." + declaration for a Picture
// method, the declaration for a global method, "class " + name for a class of the plugin.
std::vector<std::string> registeredSurface(const Host& host);

struct Coverage {
    std::vector<std::vector<std::string>> perEntry; // what each entry shows, surface names
    std::vector<std::string> missing;  // registered but shown by no entry, in registration order
    std::vector<std::string> problems; // entries that name nothing registered, and why
};

// Which registered methods and classes the entries show. A call entry shows the overload qrx
// call chooses for it; other entries show what they cover.
Coverage coverage(const Host& host, const std::vector<Entry>& list);

// The files of the samples folder the entries read.
const std::vector<std::string>& sampleFiles();

// Quoted for a POSIX shell where needed: words of letters, digits and _ . / , = : @ % + - stay
// as they are, anything else goes in single quotes.
std::string shellWord(const std::string& word);

// Text with & < > " escaped for HTML.
std::string html(const std::string& text);

} // namespace qrx::cli::demo
