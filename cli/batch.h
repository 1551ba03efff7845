// Worker processes for qrx batch: qrx runs itself once per file, at most N at a time. Each worker
// is a process of its own with its own host, since the plugin keeps process-wide state and is
// made for one thread.
#pragma once

#include <CLI/CLI.hpp>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "commands.h"

namespace qrx::cli {

// How one worker ended.
struct WorkerOutcome {
    bool started = false;   // false: never started (interrupted before its turn, or spawn failed)
    int exitCode = -1;      // its exit status, when it exited
    int signal = 0;         // the signal that ended it, or 0
    std::string out;        // everything it wrote to standard output
    std::string err;        // everything it wrote to standard error
    std::string spawnError; // why it could not be started, or empty

    bool succeeded() const { return started && signal == 0 && exitCode == 0; }
};

// Called from the loop that runs the workers, on the calling thread.
struct WorkerEvents {
    std::function<void(size_t job)> starting;                               // just before a spawn
    std::function<void(size_t job, const WorkerOutcome& outcome)> finished; // also spawn failures
    std::function<void(int count)> interrupted; // the count-th SIGINT or SIGTERM arrived
};

struct WorkerRun {
    std::vector<WorkerOutcome> outcomes; // in the order of the jobs
    bool interrupted = false;
};

// Runs program once for each job, with argv[0] = argv0 followed by the job's arguments, at most
// `parallel` at a time. Workers read /dev/null and write into pipes that are collected whole.
// Each worker runs in a process group of its own, so a Ctrl-C at the terminal reaches only this
// process: the first SIGINT or SIGTERM stops starting workers and lets the running ones finish;
// the next one sends SIGTERM to the running workers. Signal handlers are installed for the
// duration of the call and restored after; one call at a time per process.
WorkerRun runWorkers(const std::filesystem::path& program, const std::string& argv0,
                     const std::vector<std::vector<std::string>>& jobs, size_t parallel,
                     const WorkerEvents& events);

// The number of processors this process may run on (at least 1).
size_t availableProcessors();

// "SIGSEGV" and the like, or "signal N".
std::string signalName(int sig);

// qrx batch: the same Picture method call, lut3d or sepia on many files.
struct BatchOptions {
    enum class Form { Call, Lut3D, Sepia };
    Form form = Form::Call;
    std::vector<std::string> args;  // call form: CALL, then the files
    std::vector<std::string> files; // lut3d and sepia forms: the files
    std::string outDir;
    std::optional<std::string> format; // the results' extension, in place of the inputs'
    std::optional<int> quality;        // --quality, handed to every worker
    unsigned jobs = 0;                 // 0: one per processor
    std::string cube;
    std::optional<std::string> rect, weights, offsets;
    bool raw = false;                     // lut3d and sepia: --raw
    bool keepAlpha = false;               // call form: --keep-alpha
    std::vector<std::string> passThrough; // host options as given, each "--name=value"
};

CLI::App* addBatchCommand(CLI::App& app, Context& ctx, BatchOptions& opts);
int runBatch(Context& ctx, const BatchOptions& opts);

} // namespace qrx::cli
