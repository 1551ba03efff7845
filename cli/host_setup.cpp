#include "host_setup.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <system_error>

#include "errors.h"
#include "help_format.h"

// Where an installed qrx finds its plugin, relative to its own directory.
#ifndef QRX_INSTALLED_PLUGIN_DIR
#define QRX_INSTALLED_PLUGIN_DIR "../lib/qrx"
#endif

namespace qrx::cli {

namespace fs = std::filesystem;

void addHostOptions(CLI::App& cmd, HostOptions& opts) {
    cmd.add_option("--host", opts.kind,
                   "Kind of host: desktop keeps pictures as bitmap contexts, console and web as "
                   "true-colour image records")
        ->check(CLI::IsMember({"desktop", "console", "web"}))
        ->default_val("desktop")
        ->group(kHostOptionsGroup);
    cmd.add_option("--host-version", opts.version,
                   "Version the host reports, or 'none' for a host that reports none")
        ->default_val("2019.1")
        ->group(kHostOptionsGroup);
    cmd.add_option("--layout", opts.layout,
                   "Alpha info of desktop pictures without an alpha channel, 1 to 6 (3: bytes R "
                   "G B A)")
        ->check(CLI::Range(1, 6))
        ->default_val(3)
        ->group(kHostOptionsGroup);
    cmd.add_option("--alpha-layout", opts.alphaLayout,
                   "Alpha info of desktop pictures with an alpha channel, 1 or 2 (1: bytes R G B "
                   "A, premultiplied)")
        ->check(CLI::Range(1, 2))
        ->default_val(1)
        ->group(kHostOptionsGroup);
    cmd.add_flag("--legacy-pictures", opts.legacyPictures,
                 "Desktop pictures are also offscreen worlds over their own rows, which the "
                 "legacy drawing library scrolls (a band a scroll uncovers turns white)")
        ->group(kHostOptionsGroup);
    cmd.add_flag("--hide-legacy-library", opts.hideLegacyLibrary,
                 "The host names no frameworks folder: the plugin cannot load the legacy "
                 "drawing library")
        ->group(kHostOptionsGroup);
    cmd.add_option("--max-pixels", opts.maxPixels,
                   "Refuse pictures of more pixels than N, from their header (also "
                   "$QRX_MAX_PIXELS; 0: no limit); default 268435456 (16384 x 16384)");
    cmd.add_flag("--accept-damaged", opts.acceptDamaged,
                 "Read a damaged or truncated JPEG as far as it goes, with a note, instead of "
                 "refusing it");
    cmd.add_flag("--strip", opts.strip,
                 "Write results without the ICC profile and EXIF block of the picture read");
}

namespace {

uint64_t pixelLimit(const std::string& what, const std::string& text) {
    uint64_t v = 0;
    const char* b = text.data();
    const char* e = b + text.size();
    auto [end, ec] = std::from_chars(b, e, v);
    if (text.empty() || ec != std::errc() || end != e)
        throw UsageError(what + ": '" + text + "' is not a whole number of pixels (0: no limit)");
    return v;
}

} // namespace

ImageReadPolicy makeReadPolicy(const HostOptions& opts) {
    ImageReadPolicy policy;
    if (opts.maxPixels)
        policy.maxPixels = pixelLimit("--max-pixels", *opts.maxPixels);
    else if (const char* env = std::getenv("QRX_MAX_PIXELS"); env && *env)
        policy.maxPixels = pixelLimit("QRX_MAX_PIXELS", env);
    policy.acceptDamaged = opts.acceptDamaged;
    policy.keepMetadata = !opts.strip;
    return policy;
}

void addOutputOptions(CLI::App& cmd, OutputOptions& opts) {
    cmd.add_option("--format", opts.format,
                   "Format of the written picture: png, jpeg, pam, ppm or ppic; needed for -o - "
                   "(standard output), otherwise the output's extension decides")
        ->check(CLI::IsMember({"png", "jpeg", "jpg", "pam", "ppm", "ppic"}));
    cmd.add_option("--quality", opts.quality, "JPEG quality of the written picture, 1 to 100")
        ->check(CLI::Range(1, 100))
        ->default_val(kDefaultJpegQuality);
    cmd.add_flag("-v,--verbose", opts.verbose,
                 "Say what was written (a picture written with -o is otherwise written silently)");
}

HostConfig makeHostConfig(const HostOptions& opts) {
    HostConfig config;
    auto kind = hostKindFromName(opts.kind);
    if (!kind) throw UsageError("--host: unknown host kind '" + opts.kind + "'");
    config.kind = *kind;
    if (opts.version == "none") {
        config.version.reset();
    } else {
        double v = 0;
        const char* b = opts.version.data();
        const char* e = b + opts.version.size();
        auto [end, ec] = std::from_chars(b, e, v);
        if (ec != std::errc() || end != e || !std::isfinite(v))
            throw UsageError("--host-version: '" + opts.version + "' is not a number or 'none'");
        config.version = v;
    }
    config.plainLayout = uint32_t(opts.layout);
    config.alphaLayout = uint32_t(opts.alphaLayout);
    config.legacyPictures = opts.legacyPictures;
    config.hideLegacyLibrary = opts.hideLegacyLibrary;
    return config;
}

fs::path findPlugin(const HostOptions& opts) {
    if (!opts.plugin.empty()) return opts.plugin;
    if (const char* env = std::getenv("QRX_PLUGIN"); env && *env) return env;
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    std::string tried;
    if (!ec) {
        fs::path dir = exe.parent_path();
        for (const fs::path& p :
             {dir / "libqrxplugin.so", dir / QRX_INSTALLED_PLUGIN_DIR / "libqrxplugin.so"}) {
            if (fs::is_regular_file(p, ec)) return p.lexically_normal();
            tried += "\n  " + p.lexically_normal().string();
        }
    }
    throw UsageError("cannot find the plugin library (give --plugin PATH or set QRX_PLUGIN); "
                     "tried:" +
                     tried);
}

std::unique_ptr<Host> loadHost(const HostOptions& opts) {
    HostConfig config = makeHostConfig(opts);
    fs::path plugin = findPlugin(opts);
    try {
        return std::make_unique<Host>(config, plugin);
    } catch (const std::exception& e) {
        throw UsageError("cannot load the plugin " + plugin.string() + ": " + e.what());
    }
}

} // namespace qrx::cli
