// The host a command runs: its configuration from the command line, and the plugin it loads.
#pragma once

#include <CLI/CLI.hpp>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "image_io.h"
#include "jpeg_io.h"
#include "qrx/host.h"

namespace qrx::cli {

// Options every command that loads the plugin takes.
struct HostOptions {
    std::string kind = "desktop";
    std::string version = "2019.1"; // or "none"
    int layout = 3;
    int alphaLayout = 1;
    bool legacyPictures = false;    // --legacy-pictures
    bool hideLegacyLibrary = false; // --hide-legacy-library
    std::string plugin;             // --plugin; empty: QRX_PLUGIN, then beside the executable
    // How picture files are read and what results carry (qrx batch hands them to its workers).
    std::optional<std::string> maxPixels; // --max-pixels; without it QRX_MAX_PIXELS, else 16384^2
    bool acceptDamaged = false;           // --accept-damaged
    bool strip = false;                   // --strip
};

// Adds --host, --host-version, --layout, --alpha-layout, --legacy-pictures and
// --hide-legacy-library to a command, and the picture file options --max-pixels,
// --accept-damaged and --strip.
void addHostOptions(CLI::App& cmd, HostOptions& opts);

// What the readers accept and keep by the options (and $QRX_MAX_PIXELS); throws UsageError for a
// limit that is not a whole number.
ImageReadPolicy makeReadPolicy(const HostOptions& opts);

// Options every command that writes a picture takes.
struct OutputOptions {
    std::string format; // --format png, jpeg, pam, ppm or ppic; empty: by the output's extension
    int quality = kDefaultJpegQuality; // --quality, for JPEG output
    bool verbose = false;              // -v: say what was written; silent otherwise
};

// Adds --format, --quality and -v to a command.
void addOutputOptions(CLI::App& cmd, OutputOptions& opts);

// The configuration the options ask for; throws UsageError for a bad kind or version.
HostConfig makeHostConfig(const HostOptions& opts);

// The plugin library: --plugin, else $QRX_PLUGIN, else libqrxplugin.so beside the executable,
// else ../lib/qrx/libqrxplugin.so from the executable's directory. Throws UsageError naming the
// places tried when there is none.
std::filesystem::path findPlugin(const HostOptions& opts);

// A host with the plugin loaded; throws UsageError when the plugin cannot be loaded.
std::unique_ptr<Host> loadHost(const HostOptions& opts);

} // namespace qrx::cli
