// qrx waveform: an audio file (any format libsndfile reads) drawn by "RenderSamplesQRX".
#include <sndfile.h>

#include <algorithm>
#include <cmath>
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

// A colour given as &cRRGGBB (or RRGGBB).
uint32_t parseColour(const std::string& text, const char* option) {
    std::string hex = text.rfind("&c", 0) == 0 ? text.substr(2) : text;
    if (hex.size() != 6 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        throw UsageError(std::string(option) + ": " + text + " is not a colour &cRRGGBB");
    return uint32_t(std::stoul(hex, nullptr, 16));
}

// The chosen channel, or the mean of all channels, as unsigned 16-bit samples centred on 32768.
std::vector<uint8_t> readSamples(const WaveformOptions& opts) {
    SF_INFO info{};
    SNDFILE* file = sf_open(opts.input.c_str(), SFM_READ, &info);
    if (!file) throw UsageError(opts.input + ": " + sf_strerror(nullptr));
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
    cmd->add_option("--width", opts.width, "Picture width; 0: one column per sample")
        ->capture_default_str();
    cmd->add_option("--height", opts.height, "Picture height; 0: 500")->capture_default_str();
    cmd->add_option("--smooth", opts.smooth, "Smoothing; 1 or below -1: none")
        ->capture_default_str();
    cmd->add_option("--outline", opts.outline, "Outline width; 0: none, 1: anti-aliased")
        ->capture_default_str();
    cmd->add_option("--back", opts.back, "Background colour &cRRGGBB")->capture_default_str();
    cmd->add_option("--fore", opts.fore, "Bar colour &cRRGGBB")->capture_default_str();
    cmd->add_option("--outline-color", opts.outlineColor, "Outline colour &cRRGGBB")
        ->capture_default_str();
    cmd->add_flag("--autoscale", opts.autoScale, "Scale to the loudest column (default: off)");
    cmd->add_option("--channel", opts.channel, "Channel number from 0, or mix (all averaged)")
        ->capture_default_str();
    cmd->footer("Exit codes: 0 success; 1 RenderSamplesQRX gave no picture; 2 bad usage,\n"
                "unreadable audio.\n"
                "Examples:\n"
                "  qrx waveform samples/sample.wav -o w.png --width 800 --height 200 --autoscale\n"
                "  qrx waveform samples/sample.wav --channel 0 --width 600 -o w.jpg --quality 95");
    addHostOptions(*cmd, ctx.host);
    addOutputOptions(*cmd, ctx.output);
    return cmd;
}

int runWaveform(Context& ctx, const WaveformOptions& opts) {
    const uint32_t back = parseColour(opts.back, "--back");
    const uint32_t fore = parseColour(opts.fore, "--fore");
    const uint32_t line = parseColour(opts.outlineColor, "--outline-color");
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
