#include "app.h"

#include <CLI/CLI.hpp>
#include <new>
#include <ostream>

#include "batch.h"
#include "commands.h"
#include "errors.h"
#include "help_format.h"
#include "image_io.h"

// The project's version, from CMake.
#ifndef QRX_VERSION
#define QRX_VERSION "unknown"
#endif

namespace qrx::cli {

int run(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    CLI::App app("qrx runs the methods of the qrx picture plugin on image files, through a host "
                 "runtime that loads the plugin library and calls what it registers.",
                 "qrx");
    // Set before the commands are added, which take the formatter over.
    useQrxHelp(app);
    app.set_version_flag("--version", std::string("qrx ") + QRX_VERSION,
                         "Print qrx's version and exit");
    app.require_subcommand(1, 1);
    app.fallthrough();
    app.footer(
        "Examples:\n"
        "  qrx list\n"
        "  qrx call --on samples/sample.png 'InvertQRX(5, 5, 120, 80)' -o out.png\n"
        "  qrx histogram samples/sample.png -o histogram.png\n"
        "  qrx batch -j 4 'InvertQRX' samples/*.png --out-dir inverted\n"
        "Run 'qrx COMMAND --help' (qrx call --help, ...) for each command.\n"
        "Exit codes: 0 success; 1 the call raised a host exception or returned nil where a\n"
        "picture was expected; 2 bad usage, unknown method, arguments that fit no overload,\n"
        "unreadable input or plugin.");

    Context ctx{out, err, {}, {}, {}};
    // Notes about pictures read (a 16-bit PNG reduced to 8 bits) go where the command's messages
    // go.
    ImageNotesTo notes(err);
    app.add_option("--plugin", ctx.host.plugin,
                   "Plugin library to load (also $QRX_PLUGIN); default: libqrxplugin.so beside "
                   "qrx, else ../lib/qrx/libqrxplugin.so from qrx's directory");
    ListOptions listOpts;
    CallOptions callOpts;
    CLI::App* list = addListCommand(app, ctx, listOpts);
    CLI::App* call = addCallCommand(app, ctx, callOpts);
    WaveformOptions waveformOpts;
    CLI::App* waveform = addWaveformCommand(app, ctx, waveformOpts);
    Lut3DOptions lut3dOpts;
    SepiaOptions sepiaOpts;
    CLI::App* lut3d = addLut3DCommand(app, ctx, lut3dOpts);
    CLI::App* sepia = addSepiaCommand(app, ctx, sepiaOpts);
    HistogramOptions histogramOpts;
    CLI::App* histogram = addHistogramCommand(app, ctx, histogramOpts);
    BatchOptions batchOpts;
    CLI::App* batch = addBatchCommand(app, ctx, batchOpts);
    DemoOptions demoOpts;
    CLI::App* demo = addDemoCommand(app, ctx, demoOpts);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e, out, err);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e, out, err);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e, out, err);
    } catch (const CLI::ParseError& e) {
        err << parseErrorMessage(app, e) << "\n";
        return kExitUsage;
    }

    try {
        setImageReadPolicy(makeReadPolicy(ctx.host));
        if (list->parsed()) return runList(ctx, listOpts);
        if (call->parsed()) return runCall(ctx, callOpts);
        if (waveform->parsed()) return runWaveform(ctx, waveformOpts);
        if (lut3d->parsed()) return runLut3D(ctx, lut3dOpts);
        if (sepia->parsed()) return runSepia(ctx, sepiaOpts);
        if (histogram->parsed()) return runHistogram(ctx, histogramOpts);
        if (batch->parsed()) return runBatch(ctx, batchOpts);
        if (demo->parsed()) return runDemo(ctx, demoOpts);
        err << "qrx: no command given\n";
        return kExitUsage;
    } catch (const ExitError& e) {
        err << "qrx: " << e.what() << "\n";
        return e.code();
    } catch (const std::bad_alloc&) {
        // Where the size is known (reading, writing, a host picture) the message names it.
        err << "qrx: out of memory\n";
        return kExitUsage;
    } catch (const std::exception& e) {
        err << "qrx: " << e.what() << "\n";
        return kExitUsage;
    }
}

} // namespace qrx::cli
