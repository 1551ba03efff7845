// The subcommands of qrx. Each adds itself to the application and runs when chosen.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "host_setup.h"

namespace qrx::cli {

// Where a command writes, and the exit code it ends with.
struct Context {
    std::ostream& out;
    std::ostream& err;
    HostOptions host;
    OutputOptions output; // --format and --quality of the command that writes a picture
    int exitCode = 0;
};

struct WaveformOptions {
    std::string input;
    std::string output;
    // 800 x 250, as audio waveform tools draw an overview (audiowaveform: 800 x 250, ffmpeg's
    // showwavespic: 600 x 240).
    int32_t width = 800, height = 250, smooth = 1, outline = 1;
    std::string back = "&c88B5C4", fore = "&c274C5A", outlineColor = "&c203F4E";
    bool autoScale = false;
    std::string channel = "mix";
};
struct ListOptions {
    bool json = false;
    std::optional<std::string> word; // only what holds this word (any case) is listed
};

struct CallOptions {
    std::string call;
    std::optional<std::string> on;
    std::optional<std::string> output;
    bool json = false;
    std::vector<std::string> save; // NAME=PATH: a byref MemoryBlock output written to PATH
    bool keepAlpha = false;        // the --on picture's alpha put back onto the picture written
};

struct HistogramOptions {
    std::string input;
    std::optional<std::string> plot;
    bool json = false;
};

struct Lut3DOptions {
    std::string cube;
    std::optional<std::string> rect;
    bool raw = false; // the filter's own result picture, without the source around and alpha
    std::string input;
    std::string output;
};

struct SepiaOptions {
    std::optional<std::string> weights;
    std::optional<std::string> offsets;
    std::optional<std::string> rect;
    bool raw = false;
    std::string input;
    std::string output;
};

CLI::App* addListCommand(CLI::App& app, Context& ctx, ListOptions& opts);
CLI::App* addCallCommand(CLI::App& app, Context& ctx, CallOptions& opts);
CLI::App* addLut3DCommand(CLI::App& app, Context& ctx, Lut3DOptions& opts);
CLI::App* addSepiaCommand(CLI::App& app, Context& ctx, SepiaOptions& opts);
CLI::App* addHistogramCommand(CLI::App& app, Context& ctx, HistogramOptions& opts);

// Running a command; failures are thrown as ExitError.
int runList(Context& ctx, const ListOptions& opts);
int runCall(Context& ctx, const CallOptions& opts);
int runLut3D(Context& ctx, const Lut3DOptions& opts);
int runSepia(Context& ctx, const SepiaOptions& opts);
int runHistogram(Context& ctx, const HistogramOptions& opts);

// qrx demo [--out DIR]: every registered method run on the bundled samples, as a gallery page.
struct DemoOptions {
    std::string out = "out/demo";
    std::string samples; // empty: samples/ here, else beside qrx's folder
};
CLI::App* addDemoCommand(CLI::App& app, Context& ctx, DemoOptions& opts);
int runDemo(Context& ctx, const DemoOptions& opts);

// qrx waveform AUDIO -o PICTURE: the audio's samples drawn by RenderSamplesQRX.
CLI::App* addWaveformCommand(CLI::App& app, Context& ctx, WaveformOptions& opts);
int runWaveform(Context& ctx, const WaveformOptions& opts);

} // namespace qrx::cli
