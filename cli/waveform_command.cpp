// qrx waveform: an audio file (any format libsndfile reads) drawn by "RenderSamplesQRX".
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <vector>

#include "binding.h"
#include "commands.h"
#include "errors.h"
#include "filter_run.h"
#include "host_pictures.h"
#include "image_io.h"
#include "qrx/objects.h"

namespace qrx::cli {

namespace {

// The sizes a waveform picture may have, each way: RenderSamplesQRX makes pictures of 1 to 32767.
constexpr int32_t kMaxSide = 32767;
// The widest outline a picture may have. A host pen of width P paints P x P pixels at each step of
// each of the 2 x width segments, and the steps of a segment follow the height, so the outline's
// time grows with width x height x P^2: P is kept to at most 8 (wider pens hide the bars) and to
// width x height x P^2 <= 2^28, a few seconds. 0 (none) and 1 (the plugin's anti-aliased line)
// are always allowed.
int32_t maxOutline(int32_t width, int32_t height) {
    constexpr int64_t kBudget = int64_t(1) << 28;
    int32_t p = 8;
    while (p > 1 && int64_t(width) * height * p * p > kBudget)
        --p;
    return p;
}

// A colour given as &cRRGGBB, #RRGGBB or RRGGBB.
uint32_t parseColour(const std::string& text, const char* option) {
    std::string hex = text.rfind("&c", 0) == 0  ? text.substr(2)
                      : text.rfind('#', 0) == 0 ? text.substr(1)
                                                : text;
    if (hex.size() != 6 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        throw UsageError(std::string(option) + ": " + text +
                         " is not a colour &cRRGGBB or #RRGGBB");
    return uint32_t(std::stoul(hex, nullptr, 16));
}

void checkRange(const char* option, int32_t value, int32_t lo, int32_t hi) {
    if (value < lo || value > hi)
        throw UsageError(std::string(option) + ": " + std::to_string(value) + " is not in " +
                         std::to_string(lo) + " to " + std::to_string(hi));
}

// The chosen channel, or the mean of all channels, as unsigned 16-bit samples centred on 32768.
std::vector<uint8_t> readSamples(const WaveformOptions& opts) {
    SF_INFO info{};
    SNDFILE* file = sf_open(opts.input.c_str(), SFM_READ, &info);
    if (!file) {
        std::error_code ec;
        if (std::filesystem::is_regular_file(opts.input, ec) &&
            std::filesystem::file_size(opts.input, ec) == 0)
            throw UsageError("AUDIO: " + opts.input + " is empty: it holds no samples");
        throw UsageError(opts.input + ": " + sf_strerror(nullptr));
    }
    // The picture's size, checked against the pixel limit before a sample is read.
    try {
        checkPixelLimit(opts.input + ": its waveform", uint64_t(std::max(opts.width, 0)),
                        uint64_t(std::max(opts.height, 0)));
    } catch (const ImageFileError& e) {
        sf_close(file);
        throw UsageError(e.what());
    }
    // libsndfile reads a file cut short as far as it goes, and says so in its log ("data : N
    // (should be M)").
    char log[4096] = "";
    sf_command(file, SFC_GET_LOG_INFO, log, sizeof log);
    if (std::strstr(log, "should be"))
        imageNote(opts.input + ": shorter than its header says (truncated?): drawn from the " +
                  std::to_string(info.frames) + " frames it holds");
    const int channels = info.channels;
    int channel = -1; // mix
    if (opts.channel != "mix") {
        try {
            channel = std::stoi(opts.channel);
        } catch (const std::exception&) {
            channel = -2;
        }
        if (channel < 0 || channel >= channels) {
            sf_close(file);
            throw UsageError("--channel: " + opts.channel + " is not mix or a channel 0 to " +
                             std::to_string(channels - 1));
        }
    }
    // Frames are read in blocks and each sample is written straight into the result, which is
    // sized once from the frame count the file reports (and grown only if it reports too few).
    constexpr sf_count_t kBlockFrames = 16384;
    std::vector<uint8_t> bytes;
    if (info.frames > 0) bytes.reserve(size_t(info.frames) * 2);
    std::vector<double> frame(size_t(channels) * kBlockFrames);
    sf_count_t got;
    while ((got = sf_readf_double(file, frame.data(), kBlockFrames)) > 0) {
        const size_t at = bytes.size();
        bytes.resize(at + size_t(got) * 2);
        uint8_t* out = bytes.data() + at;
        const double* in = frame.data();
        for (sf_count_t f = 0; f < got; ++f, in += channels) {
            double v = 0;
            if (channel >= 0) {
                v = in[channel];
            } else {
                for (int c = 0; c < channels; ++c)
                    v += in[c];
                v /= channels;
            }
            const long s = std::lround(std::clamp(v, -1.0, 1.0) * 32767.0) + 32768;
            *out++ = uint8_t(s);
            *out++ = uint8_t(s >> 8);
        }
    }
    sf_close(file);
    if (bytes.empty()) throw UsageError("AUDIO: " + opts.input + " holds no samples");
    return bytes;
}

} // namespace

CLI::App* addWaveformCommand(CLI::App& app, Context& ctx, WaveformOptions& opts) {
    CLI::App* cmd = app.add_subcommand(
        "waveform", "Draw the waveform of an audio file (WAV, FLAC, ...) with RenderSamplesQRX");
    cmd->add_option("AUDIO", opts.input, "Audio file in any format libsndfile reads")->required();
    cmd->add_option("-o,--output", opts.output,
                    "Picture file to write (PNG, JPEG, PAM, PPM or PPIC by extension, or "
                    "--format); - writes standard output")
        ->required();
    // Every default is shown in the help, taken from the options' initial values.
    cmd->add_option("--width", opts.width, "Picture width, 1 to 32767")->capture_default_str();
    cmd->add_option("--height", opts.height, "Picture height, 1 to 32767")->capture_default_str();
    cmd->add_option("--smooth", opts.smooth,
                    "Smoothing over about N columns; 1, and below -1: none")
        ->capture_default_str();
    cmd->add_option("--outline", opts.outline,
                    "Outline width: 0 none, 1 anti-aliased, 2 to 8 a host pen that wide (on "
                    "pictures over 2048 x 2048 fewer)")
        ->capture_default_str();
    cmd->add_option("--back", opts.back, "Background colour &cRRGGBB or #RRGGBB")
        ->capture_default_str();
    cmd->add_option("--fore", opts.fore, "Bar colour &cRRGGBB or #RRGGBB")->capture_default_str();
    cmd->add_option("--outline-color", opts.outlineColor, "Outline colour &cRRGGBB or #RRGGBB")
        ->capture_default_str();
    cmd->add_flag("--autoscale", opts.autoScale,
                  "Scale to the loudest column; default: full scale reaches the picture's edges");
    cmd->add_option("--channel", opts.channel, "Channel number from 0, or mix: their mean")
        ->capture_default_str();
    cmd->footer("Exit codes: 0 success; 1 RenderSamplesQRX gave no picture; 2 bad usage (an\n"
                "option outside its range), unreadable audio, audio without samples.\n"
                "Examples:\n"
                "  qrx waveform samples/sample.wav -o wave.png\n"
                "  qrx waveform samples/sample.wav -o w.png --width 1920 --height 200 --outline 2\n"
                "  qrx waveform samples/sample.wav --channel 0 --fore '#FF8000' -o w.jpg");
    addHostOptions(*cmd, ctx.host);
    addOutputOptions(*cmd, ctx.output);
    return cmd;
}

int runWaveform(Context& ctx, const WaveformOptions& opts) {
    const uint32_t back = parseColour(opts.back, "--back");
    const uint32_t fore = parseColour(opts.fore, "--fore");
    const uint32_t line = parseColour(opts.outlineColor, "--outline-color");
    checkRange("--width", opts.width, 1, kMaxSide);
    checkRange("--height", opts.height, 1, kMaxSide);
    if (const int32_t most = maxOutline(opts.width, opts.height);
        opts.outline < 0 || opts.outline > most)
        throw UsageError("--outline: " + std::to_string(opts.outline) + " is not in 0 to " +
                         std::to_string(most) +
                         (most < 8 ? " for a " + std::to_string(opts.width) + " x " +
                                         std::to_string(opts.height) +
                                         " picture (wider pens on smaller pictures)"
                                   : ""));
    checkOutputPath(ctx, opts.output);
    std::vector<uint8_t> samples = readSamples(opts);
    std::unique_ptr<Host> host = loadHost(ctx.host);
    // The samples become the block's bytes as they are: an hour of sound is not copied again.
    Ref block = host->newMemoryBlock({});
    block.as<MemoryBlock>()->bytes = std::move(samples);
    CallResult r = host->callGlobal(
        "RenderSamplesQRX", {block, int32_t(0), opts.smooth, opts.width, opts.height, opts.outline,
                             Color{back}, Color{fore}, Color{line}, int32_t(16), opts.autoScale});
    const Ref* pic = std::get_if<Ref>(&r.result);
    if (r.exception || !pic || !*pic) {
        ctx.err << "qrx: RenderSamplesQRX gave no picture for " << opts.input << "\n";
        return kExitCallFailed;
    }
    try {
        savePicture(*host, opts.output, *pic, pictureWriteOptions(ctx));
    } catch (const ImageFileError& e) {
        throw UsageError(std::string("-o: ") + e.what());
    }
    reportWritten(ctx, opts.output, *pic);
    return kExitOk;
}

} // namespace qrx::cli
