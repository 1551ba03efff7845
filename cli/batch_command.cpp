// qrx batch: one Picture method call, lut3d or sepia on many picture files, each file in a worker
// process of its own (qrx itself running the single-file command), several at a time.
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>
#include <map>
#include <ostream>
#include <sstream>
#include <string_view>

#include "batch.h"
#include "binding.h"
#include "call_expr.h"
#include "commands.h"
#include "cube.h"
#include "errors.h"
#include "filter_run.h"
#include "host_pictures.h"
#include "image_io.h"

namespace qrx::cli {

namespace {

namespace fs = std::filesystem;

// Exit code of a batch stopped by Ctrl-C (or SIGTERM): 128 + SIGINT, as shells report it.
constexpr int kExitInterrupted = 130;

// One file of the batch: where it is read and where its result goes.
struct BatchFile {
    std::string input;   // as given
    std::string name;    // file name of the result in the output directory
    fs::path output;     // DIR/name
    std::string staged;  // where the worker writes it before it is moved to output
    std::string refused; // why no result can be written for it (no worker runs), or empty
};

// Work directories are named ".qrx-batch-PID-XXXXXX" after the batch that made them.
constexpr std::string_view kStagingPrefix = ".qrx-batch-";

// The process that made a work directory, from its name, or 0 when the name is not one of ours.
pid_t stagingOwner(const std::string& name) {
    if (name.rfind(kStagingPrefix, 0) != 0) return 0;
    const char* digits = name.c_str() + kStagingPrefix.size();
    char* end = nullptr;
    const long pid = std::strtol(digits, &end, 10);
    if (end == digits || *end != '-' || pid <= 0) return 0;
    return pid_t(pid);
}

// Removes the work directories in dir whose batch is no longer running (killed before it could
// clean up). Those of a batch still running, here or in another process, are left alone.
void removeAbandonedStaging(const fs::path& dir) {
    std::error_code ec;
    std::vector<fs::path> abandoned;
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
        const pid_t pid = stagingOwner(entry.path().filename().string());
        if (pid == 0 || pid == getpid() || !entry.is_directory(ec)) continue;
        // Alive, or not ours to judge (EPERM: another user's process).
        if (kill(pid, 0) == 0 || errno != ESRCH) continue;
        abandoned.push_back(entry.path());
    }
    for (const fs::path& p : abandoned)
        fs::remove_all(p, ec);
}

// A directory beside the outputs that holds what the workers write until each file is whole and
// its worker has succeeded; removed with anything left in it. Results reach their real names only
// by a rename from here, so a worker that fails or is killed leaves no file behind.
class StagingDir {
  public:
    explicit StagingDir(const fs::path& dir) {
        removeAbandonedStaging(dir);
        std::string tmpl =
            (dir / (std::string(kStagingPrefix) + std::to_string(getpid()) + "-XXXXXX")).string();
        if (!mkdtemp(tmpl.data()))
            throw UsageError("--out-dir: cannot create a working directory in " + dir.string() +
                             ": " + std::strerror(errno));
        path_ = tmpl;
    }
    ~StagingDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    StagingDir(const StagingDir&) = delete;
    StagingDir& operator=(const StagingDir&) = delete;
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

// A path as a worker's argument: one that starts with '-' would be read as an option.
std::string pathArg(const std::string& path) {
    return !path.empty() && path[0] == '-' ? "./" + path : path;
}

// The result's file name: the input's, with the extension --format gives.
std::string outputName(const std::string& input, const std::optional<std::string>& format) {
    fs::path name = fs::path(input).filename();
    if (format) {
        std::string ext = *format;
        if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
        std::transform(ext.begin(), ext.end(), ext.begin(),
                       [](unsigned char c) { return char(std::tolower(c)); });
        name.replace_extension("." + ext);
    }
    return name.string();
}

// The files and their output names; refuses inputs qrx cannot take one by one, two inputs with one
// output name, and an output that would replace its input. A file whose result qrx cannot write
// (its extension) is marked refused: it fails alone.
std::vector<BatchFile> planFiles(const std::vector<std::string>& inputs, const fs::path& dir,
                                 const std::optional<std::string>& format) {
    std::vector<BatchFile> files;
    std::map<std::string, std::string> byName; // output name -> the input that claimed it
    for (const std::string& input : inputs) {
        if (input == "-") throw UsageError("FILES: '-' (standard input) cannot be one of a batch");
        if (input.empty() || fs::path(input).filename().empty())
            throw UsageError("FILES: '" + input + "' names no file");
        BatchFile f;
        f.input = input;
        f.name = outputName(input, format);
        f.output = dir / f.name;
        // A result qrx cannot write fails that file alone; a --format it cannot write is refused
        // before the files are planned.
        try {
            checkPictureFile(f.output);
        } catch (const ImageFileError& e) {
            f.refused = std::string(e.what()) + "; give --format png, or leave the file out";
        }
        auto [it, fresh] = byName.emplace(f.name, input);
        if (!fresh)
            throw UsageError(it->second + " and " + input + " would both be written to " +
                             f.output.string() + "; rename one, or run them in two batches");
        std::error_code ec;
        if (fs::exists(f.output, ec) && fs::equivalent(f.output, input, ec))
            throw UsageError(input + " would be replaced by its own result; choose another "
                                     "--out-dir or a --format");
        files.push_back(std::move(f));
    }
    return files;
}

// Refuses, before any worker starts, a malformed call, a name Picture has no method of, and
// arguments that fit none of its overloads.
void checkCall(const Context& ctx, const std::string& text) {
    CallExpr call;
    try {
        call = parseCall(text);
    } catch (const CallSyntaxError& e) {
        throw UsageError("CALL: " + std::string(e.what()) + " (column " +
                         std::to_string(e.column()) + " of '" + text + "')");
    }
    std::unique_ptr<Host> host = loadHost(ctx.host);
    std::vector<const MethodInfo*> overloads;
    for (const MethodInfo* m : host->overloads("Picture", call.name))
        if (!m->builtIn) overloads.push_back(m);
    if (!overloads.empty()) {
        // Arguments that fit no overload would fail in every worker.
        chooseOverload(overloads, call, "Picture." + call.name);
        return;
    }
    std::vector<std::string> names;
    if (const ClassInfo* pic = host->findClass("Picture"))
        for (const auto* list : {&pic->methods, &pic->extensions})
            for (const MethodInfo& m : *list)
                if (!m.builtIn) names.push_back(m.decl.name);
    std::string msg = "Picture has no method '" + call.name + "'";
    auto close = closestNames(call.name, names);
    if (!close.empty()) {
        msg += "; did you mean ";
        for (size_t i = 0; i < close.size(); ++i)
            msg += (i ? (i + 1 == close.size() ? " or " : ", ") : "") + close[i];
        msg += "?";
    }
    throw UsageError(msg + " (qrx list shows every method)");
}

// The arguments of one worker: the single-file command the batch stands for.
std::vector<std::string> workerArgs(const BatchOptions& opts, const std::string& plugin,
                                    const BatchFile& f) {
    std::vector<std::string> a{"--plugin=" + plugin};
    switch (opts.form) {
    case BatchOptions::Form::Call:
        a.push_back("call");
        break;
    case BatchOptions::Form::Lut3D:
        a.push_back("lut3d");
        break;
    case BatchOptions::Form::Sepia:
        a.push_back("sepia");
        break;
    }
    a.insert(a.end(), opts.passThrough.begin(), opts.passThrough.end());
    if (opts.quality) a.push_back("--quality=" + std::to_string(*opts.quality));
    auto option = [&](const char* name, const std::optional<std::string>& value) {
        if (value) a.push_back(std::string(name) + "=" + *value);
    };
    switch (opts.form) {
    case BatchOptions::Form::Call:
        if (opts.keepAlpha) a.push_back("--keep-alpha");
        a.push_back("--on=" + f.input);
        a.push_back(opts.args.front());
        break;
    case BatchOptions::Form::Lut3D:
        option("--cube", opts.cube);
        option("--rect", opts.rect);
        if (opts.raw) a.push_back("--raw");
        a.push_back(pathArg(f.input));
        break;
    case BatchOptions::Form::Sepia:
        option("--weights", opts.weights);
        option("--offsets", opts.offsets);
        option("--rect", opts.rect);
        if (opts.raw) a.push_back("--raw");
        a.push_back(pathArg(f.input));
        break;
    }
    a.push_back("--output=" + f.staged);
    return a;
}

// What a failed worker said, without the "qrx: " each message starts with.
std::string failureText(const WorkerOutcome& o) {
    if (!o.spawnError.empty()) return "could not start a worker: " + o.spawnError;
    std::string text;
    std::istringstream lines(o.err);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("qrx: ", 0) == 0) line.erase(0, 5);
        if (line.empty()) continue;
        text += (text.empty() ? "" : "\n    ") + line;
    }
    if (o.signal) {
        std::string how =
            (o.signal == SIGTERM ? "stopped by " : "killed by ") + signalName(o.signal);
        return text.empty() ? how : text + "\n    " + how;
    }
    const std::string code = "exit " + std::to_string(o.exitCode);
    return text.empty() ? code : text + " (" + code + ")";
}

// Lines of text, each after a prefix.
void prefixed(std::ostream& os, const std::string& prefix, const std::string& text) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line))
        os << prefix << line << "\n";
}

// The progress bar, redrawn in place on a terminal; nothing at all otherwise.
class Progress {
  public:
    Progress(std::ostream& os, bool enabled, size_t total)
        : os_(os), enabled_(enabled), total_(total) {}

    void update(size_t done, size_t failed) {
        done_ = done;
        failed_ = failed;
        draw();
    }
    // Removes the bar so that a message can be written; draw() puts it back.
    void clear() {
        if (enabled_ && drawn_) os_ << "\r\033[K" << std::flush;
        drawn_ = false;
    }
    void draw() {
        if (!enabled_) return;
        std::string tail = " " + std::to_string(done_) + "/" + std::to_string(total_);
        if (failed_) tail += ", " + std::to_string(failed_) + " failed";
        size_t columns = 80;
        winsize ws{};
        if (ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) columns = ws.ws_col;
        const size_t room = columns > tail.size() + 3 ? columns - tail.size() - 3 : 0;
        const size_t width = std::min<size_t>(40, room);
        const size_t filled = total_ ? width * done_ / total_ : width;
        os_ << "\r[" << std::string(filled, '#') << std::string(width - filled, '.') << "]" << tail
            << "\033[K" << std::flush;
        drawn_ = true;
    }

  private:
    std::ostream& os_;
    bool enabled_;
    size_t total_;
    size_t done_ = 0, failed_ = 0;
    bool drawn_ = false;
};

fs::path selfExecutable() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec)
        throw UsageError("cannot find qrx's own executable to run the workers: " + ec.message());
    return exe;
}

} // namespace

CLI::App* addBatchCommand(CLI::App& app, Context& ctx, BatchOptions& opts) {
    CLI::App* cmd = app.add_subcommand(
        "batch", "Run one Picture method call, or the lut3d or sepia filter, on many picture "
                 "files, several worker processes at a time");
    cmd->require_subcommand(0, 1);
    cmd->fallthrough();

    // Host options go to every worker as they were given.
    const size_t before = cmd->get_options().size();
    addHostOptions(*cmd, ctx.host);
    std::vector<const CLI::Option*> passed;
    for (size_t i = before; i < cmd->get_options().size(); ++i)
        passed.push_back(cmd->get_options()[i]);

    cmd->add_option("-j,--jobs", opts.jobs,
                    "Worker processes at a time; default: one per processor this process may "
                    "use")
        ->check(CLI::Range(1, 1024));
    cmd->add_option("--out-dir", opts.outDir,
                    "Directory the results are written to, each under its input's file name "
                    "(created when missing)")
        ->required();
    cmd->add_option("--format", opts.format,
                    "Write every result in this format, with this extension in place of the "
                    "input's: png, pam, ppm, ppic, or any other qrx writes");
    cmd->add_option("--quality", opts.quality, "JPEG quality of the results, 1 to 100")
        ->check(CLI::Range(1, 100));
    cmd->add_flag("--keep-alpha", opts.keepAlpha,
                  "Call form: each input's alpha channel put back onto its result, as qrx call "
                  "--keep-alpha does");
    cmd->add_option("CALL FILES", opts.args,
                    "The call as in 'qrx call' (a Picture method), then the picture files");

    CLI::App* lut3d = cmd->add_subcommand(
        "lut3d", "The lut3d command on each file: a colour lookup table from a .cube file");
    lut3d->fallthrough();
    lut3d->add_option("--cube", opts.cube, "The .cube file")->required();
    lut3d->add_option("--rect", opts.rect,
                      "Only the rectangle MINX,MINY,MAXX,MAXY of each picture is filtered; the "
                      "rest is kept");
    lut3d->add_flag("--raw", opts.raw, "The filter's own result, as qrx lut3d --raw writes it");
    lut3d->add_option("FILES", opts.files, "The picture files")->required();
    lut3d->preparse_callback([&opts](size_t) { opts.form = BatchOptions::Form::Lut3D; });

    CLI::App* sepia = cmd->add_subcommand("sepia", "The sepia command on each file: a sepia tone");
    sepia->fallthrough();
    sepia->add_option("--weights", opts.weights, "Weights R,G,B of the gray value");
    sepia->add_option("--offsets", opts.offsets, "Integers R,G,B added to the gray value");
    sepia->add_option("--rect", opts.rect,
                      "Only the rectangle MINX,MINY,MAXX,MAXY of each picture is toned; the rest "
                      "is kept");
    sepia->add_flag("--raw", opts.raw, "The filter's own result, as qrx sepia --raw writes it");
    sepia->add_option("FILES", opts.files, "The picture files")->required();
    sepia->preparse_callback([&opts](size_t) { opts.form = BatchOptions::Form::Sepia; });
    for (CLI::App* sub : {lut3d, sepia})
        sub->footer("Options of 'qrx batch' (--out-dir, -j, --format, host options) may come "
                    "before or after.\nSee qrx batch --help.");

    cmd->callback([&opts, passed] {
        // Options taken as given: each with its value attached, so that a value starting with
        // '-' stays a value; a flag once per use.
        for (const CLI::Option* o : passed) {
            if (o->count() == 0 || o->get_lnames().empty()) continue;
            const std::string name = "--" + o->get_lnames().front();
            if (o->get_type_size() == 0) {
                for (size_t i = 0; i < o->count(); ++i)
                    opts.passThrough.push_back(name);
            } else {
                for (const std::string& v : o->results())
                    opts.passThrough.push_back(name + "=" + v);
            }
        }
    });

    cmd->footer(
        "Forms:\n"
        "  qrx batch [OPTIONS] CALL FILES... --out-dir DIR\n"
        "      as 'qrx call --on FILE CALL -o DIR/NAME' for each file\n"
        "  qrx batch [OPTIONS] lut3d --cube X.cube [--rect R] [--raw] FILES...\n"
        "      --out-dir DIR\n"
        "  qrx batch [OPTIONS] sepia [--weights W] [--offsets O] [--rect R] [--raw]\n"
        "      FILES... --out-dir DIR\n"
        "      as 'qrx lut3d' and 'qrx sepia' with -o DIR/NAME for each file\n"
        "NAME is the input's file name; with --format EXT its extension becomes EXT. Each file\n"
        "is done by a worker process of its own (qrx running the single-file command), at most\n"
        "-j at a time. The host options above, --quality and the global --plugin reach every\n"
        "worker. A file named lut3d or sepia is written ./lut3d or ./sepia.\n"
        "Refused before anything starts: two inputs with one output name, a result that would\n"
        "replace its input, a --format qrx cannot write, a malformed CALL or .cube file, a\n"
        "method Picture does not have, arguments that fit none of its overloads. A file whose\n"
        "result qrx cannot write (its extension, without --format) fails alone.\n"
        "On a terminal a progress bar shows on standard error. At the end a summary names each\n"
        "failed file with its message; what workers print on standard output (results and\n"
        "byref values) is printed there in the order of the files, each line after 'FILE: '.\n"
        "A result appears under its name only when its worker succeeded: workers write into a\n"
        "hidden directory in DIR, and each whole result is moved out of it.\n"
        "Ctrl-C: no more workers start and the running ones finish; a second Ctrl-C stops\n"
        "them. Files not done are left without a result.\n"
        "Exit codes: 0 every file done; 1 one or more files failed (the others are done);\n"
        "2 refused before starting (bad usage, see above); 130 interrupted by Ctrl-C.\n"
        "Examples:\n"
        "  qrx batch -j 4 'InvertQRX' samples/*.png --out-dir inverted\n"
        "  qrx batch 'InvertQRX(5, 5, 120, 80)' samples/*.png --out-dir out --format pam\n"
        "  qrx batch lut3d --cube samples/grade.cube samples/*.png --out-dir graded\n"
        "  qrx batch --host console sepia --offsets 30,15,0 samples/*.png --out-dir sepia");
    return cmd;
}

int runBatch(Context& ctx, const BatchOptions& opts) {
    std::vector<std::string> inputs;
    if (opts.form == BatchOptions::Form::Call) {
        if (opts.args.empty())
            throw UsageError("give a CALL and the picture FILES, or lut3d or sepia and the FILES "
                             "(see qrx batch --help)");
        if (opts.args.size() < 2) throw UsageError("no picture FILES after the CALL");
        inputs.assign(opts.args.begin() + 1, opts.args.end());
    } else {
        if (!opts.args.empty())
            throw UsageError("'" + opts.args.front() +
                             "' comes before the filter; the files follow lut3d or sepia");
        inputs = opts.files;
    }

    // Everything that would fail for every file is refused here, before any worker starts.
    if (opts.keepAlpha && opts.form != BatchOptions::Form::Call)
        throw UsageError("--keep-alpha: lut3d and sepia keep each picture's alpha unless --raw "
                         "is given; --keep-alpha belongs to the CALL form");
    switch (opts.form) {
    case BatchOptions::Form::Call:
        checkCall(ctx, opts.args.front());
        break;
    case BatchOptions::Form::Lut3D: {
        Cube cube;
        try {
            cube = readCube(opts.cube);
        } catch (const CubeError& e) {
            throw UsageError(std::string("--cube: ") + e.what());
        }
        if (opts.rect) parseRect("--rect", *opts.rect);
        if (!cube.is3D() && opts.rect)
            throw UsageError("--rect: " + opts.cube +
                             " holds a 1D table, which is applied to the whole picture");
        break;
    }
    case BatchOptions::Form::Sepia:
        if (opts.weights) parseNumbers3("--weights", *opts.weights);
        if (opts.offsets) parseIntegers3("--offsets", *opts.offsets);
        if (opts.rect) parseRect("--rect", *opts.rect);
        break;
    }
    const std::string plugin = fs::absolute(findPlugin(ctx.host)).string();
    const fs::path exe = selfExecutable();

    const fs::path dir = opts.outDir;
    if (opts.format) {
        try {
            checkPictureFile(dir / outputName("x", opts.format));
        } catch (const ImageFileError&) {
            throw UsageError("--format: qrx cannot write '" + *opts.format +
                             "' (png, jpg, jpeg, pam, ppm or ppic)");
        }
    }
    std::vector<BatchFile> files = planFiles(inputs, dir, opts.format);
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (!fs::is_directory(dir, ec))
        throw UsageError("--out-dir: " + dir.string() + " is not a directory and cannot be made");
    StagingDir staging(dir);

    // One worker per file whose result can be written; the others fail at once.
    std::vector<std::vector<std::string>> jobs;
    std::vector<size_t> fileOf; // job -> index in files
    for (size_t i = 0; i < files.size(); ++i) {
        BatchFile& f = files[i];
        if (!f.refused.empty()) continue;
        f.staged = (staging.path() / f.name).string();
        jobs.push_back(workerArgs(opts, plugin, f));
        fileOf.push_back(i);
    }

    const size_t parallel = std::max<size_t>(
        1, std::min(jobs.size(), opts.jobs ? size_t(opts.jobs) : availableProcessors()));
    const bool bar = &ctx.err == &std::cerr && isatty(STDERR_FILENO);
    Progress progress(ctx.err, bar, files.size());
    std::vector<bool> done(files.size(), false);
    std::vector<std::string> failures(files.size());
    size_t doneCount = 0, failedCount = 0;
    for (size_t i = 0; i < files.size(); ++i)
        if (!files[i].refused.empty()) {
            failures[i] = files[i].refused;
            ++failedCount;
        }
    progress.update(doneCount, failedCount);

    WorkerEvents events;
    events.finished = [&](size_t job, const WorkerOutcome& o) {
        const size_t i = fileOf[job];
        const BatchFile& f = files[i];
        std::error_code rc;
        if (o.succeeded()) {
            // Into place as a single command writes its output: through a symbolic link, keeping
            // an existing file's mode, refusing a file this user may not write.
            try {
                moveFileToOutput(f.staged, f.output);
                done[i] = true;
            } catch (const ImageFileError& e) {
                fs::remove(f.staged, rc);
                failures[i] = std::string("cannot move the result into place: ") + e.what();
            }
        } else {
            fs::remove(f.staged, rc);
            failures[i] = failureText(o);
        }
        if (done[i]) {
            ++doneCount;
            // Notes a successful worker printed (failures come in the summary).
            if (!o.err.empty()) {
                progress.clear();
                prefixed(ctx.err, f.input + ": ", o.err);
            }
        } else {
            ++failedCount;
        }
        progress.update(doneCount, failedCount);
    };
    events.interrupted = [&](int count) {
        progress.clear();
        if (count == 1)
            ctx.err << "qrx batch: interrupted: no more files start; the running ones finish "
                       "(Ctrl-C again to stop them)\n";
        else if (count == 2)
            ctx.err << "qrx batch: stopping the running workers\n";
        progress.draw();
    };

    WorkerRun run = runWorkers(exe, "qrx", jobs, parallel, events);
    progress.clear();

    for (size_t job = 0; job < jobs.size(); ++job)
        if (done[fileOf[job]])
            prefixed(ctx.out, files[fileOf[job]].input + ": ", run.outcomes[job].out);
    ctx.out << std::flush;

    const size_t notStarted = files.size() - doneCount - failedCount;
    ctx.err << "qrx batch: " << doneCount << " of " << files.size() << " files done in "
            << dir.string();
    if (failedCount) ctx.err << ", " << failedCount << " failed";
    if (notStarted) ctx.err << ", " << notStarted << " not started (interrupted)";
    ctx.err << (failedCount ? ":" : "") << "\n";
    for (size_t i = 0; i < files.size(); ++i)
        if (!done[i] && !failures[i].empty())
            ctx.err << "  " << files[i].input << ": " << failures[i] << "\n";

    if (run.interrupted) return kExitInterrupted;
    return failedCount ? kExitCallFailed : kExitOk;
}

} // namespace qrx::cli
