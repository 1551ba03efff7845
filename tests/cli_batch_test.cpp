// qrx batch, run as users run it: many files through worker processes, compared with the
// single-file commands run one by one.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "batch.h"
#include "cli_util_test.h"

namespace {

namespace fs = std::filesystem;
using qrxclitest::readFile;
using qrxclitest::runQrx;
using qrxclitest::ScratchDir;
using qrxclitest::writeFile;

using qrxclitest::contains;
using qrxclitest::kSample;
using qrxclitest::kSampleAlpha;

// A P6 picture whose bytes follow from its size and a seed, so that no two inputs are alike.
std::string ppmPixels(int w, int h, int seed) {
    std::string px;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            px += char(uint8_t(x * 7 + y * 3 + seed * 31));
            px += char(uint8_t(x * y + seed * 5));
            px += char(uint8_t(255 - x * 2 - seed));
        }
    return px;
}

std::string ppm(int w, int h, const std::string& pixels) {
    return "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n" + pixels;
}

// A PNG signature and then nothing a PNG reader can use.
const std::string kCorruptPng = std::string("\x89PNG\r\n\x1a\n", 8) + "this is not a chunk at all";

// Inputs of every kind qrx reads, and one that fails.
struct Inputs {
    ScratchDir dir;
    std::vector<std::string> good;
    std::string bad;
    Inputs() {
        fs::create_directory(dir / "in");
        for (int i = 0; i < 3; ++i) {
            const std::string p = (dir / ("in/p" + std::to_string(i) + ".ppm")).string();
            writeFile(p, ppm(13 + i, 9 + 2 * i, ppmPixels(13 + i, 9 + 2 * i, i)));
            good.push_back(p);
        }
        fs::copy_file(kSample, dir / "in/sample.png");
        fs::copy_file(kSampleAlpha, dir / "in/sample_alpha.png");
        good.push_back((dir / "in/sample.png").string());
        good.push_back((dir / "in/sample_alpha.png").string());
        bad = (dir / "in/broken.png").string();
        writeFile(bad, kCorruptPng);
    }
};

std::vector<std::string> concat(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<std::string> entries(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> fileNames(const std::vector<std::string>& paths) {
    std::vector<std::string> names;
    for (const std::string& p : paths)
        names.push_back(fs::path(p).filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A failing file among good ones, with one worker and with several: the exit code, the summary,
// the other results present and equal to what qrx call writes, nothing for the failed file.
class BatchWithAFailure : public ::testing::TestWithParam<int> {};

TEST_P(BatchWithAFailure, OtherFilesAreDoneAndTheFailureIsNamed) {
    Inputs in;
    const fs::path out = in.dir / "out";
    std::vector<std::string> files = in.good;
    files.insert(files.begin() + 2, in.bad);
    // A picture whose result qrx cannot write (by its extension) fails alone.
    const std::string bmp = (in.dir / "in/picture.bmp").string();
    fs::copy_file(in.good[0], bmp);
    files.insert(files.begin(), bmp);
    auto r = runQrx(concat({"batch", "-j", std::to_string(GetParam()), "InvertQRX"},
                           concat(files, {"--out-dir", out.string()})));
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_TRUE(contains(r.err, "5 of 7 files done")) << r.err;
    EXPECT_TRUE(contains(r.err, "2 failed")) << r.err;
    EXPECT_TRUE(contains(r.err, "  " + in.bad + ": ")) << r.err;
    EXPECT_TRUE(contains(r.err, "(exit 2)")) << r.err;
    EXPECT_TRUE(contains(r.err, "  " + bmp + ": ")) << r.err;
    EXPECT_TRUE(contains(r.err, "give --format png")) << r.err;
    EXPECT_EQ(r.err.find('\r'), std::string::npos) << "no progress bar when stderr is a file";
    // Only the good files' results: no result, temporary file or working directory of the failure.
    EXPECT_EQ(entries(out), fileNames(in.good));

    for (const std::string& input : in.good) {
        const std::string name = fs::path(input).filename().string();
        const std::string ref = (in.dir / ("ref-" + name)).string();
        auto single = runQrx({"call", "--on", input, "InvertQRX", "-o", ref});
        ASSERT_EQ(single.code, 0) << single.err;
        EXPECT_EQ(readFile(out / name), readFile(ref)) << name;
    }
    // Independently of qrx call: InvertQRX on a plain picture gives 255 minus each component.
    std::string inverted = ppmPixels(13, 9, 0);
    for (char& c : inverted)
        c = char(255 - uint8_t(c));
    EXPECT_EQ(readFile(out / "p0.ppm"), ppm(13, 9, inverted));
}

INSTANTIATE_TEST_SUITE_P(Workers, BatchWithAFailure, ::testing::Values(1, 2, 8));

// The forms of the command: each result is byte for byte what the single-file command writes,
// with one worker and with two; host options and --format reach the workers.
struct FormCase {
    const char* label;
    std::vector<std::string> batchArgs;  // before the files; "@" is the scratch directory
    std::vector<std::string> singleArgs; // the single-file command before IN and -o OUT
    bool inputLast;                      // the single command takes IN as a positional
    const char* format;                  // the results' extension, or "" for the input's
};

class BatchForms : public ::testing::TestWithParam<FormCase> {};

std::string atDir(const std::string& s, const fs::path& dir) {
    return s.size() && s[0] == '@' ? (dir / s.substr(1)).string() : s;
}

TEST_P(BatchForms, MatchTheSingleFileCommandWithOneAndTwoWorkers) {
    const FormCase& c = GetParam();
    Inputs in;
    writeFile(in.dir / "grade.cube",
              "LUT_3D_SIZE 2\n0.1 0 0\n1 0.2 0\n0 0.9 0.1\n0.8 1 0\n0 0 1\n1 0 0.7\n0 1 1\n1 1 "
              "0.9\n");
    std::vector<std::string> args, single;
    for (const std::string& a : c.batchArgs)
        args.push_back(atDir(a, in.dir.path()));
    for (const std::string& a : c.singleArgs)
        single.push_back(atDir(a, in.dir.path()));

    std::vector<fs::path> outs;
    for (const char* jobs : {"1", "2"}) {
        const fs::path out = in.dir / (std::string("out-j") + jobs);
        auto r = runQrx(concat(concat({"batch", "-j", jobs}, args),
                               concat(in.good, {"--out-dir", out.string()})));
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_TRUE(contains(r.err, "5 of 5 files done")) << r.err;
        outs.push_back(out);
    }
    std::vector<std::string> names;
    for (const std::string& input : in.good) {
        fs::path name = fs::path(input).filename();
        if (*c.format) name.replace_extension(c.format);
        names.push_back(name.string());
        const std::string ref = (in.dir / ("ref-" + name.string())).string();
        std::vector<std::string> cmd = single;
        if (c.inputLast)
            cmd.push_back(input);
        else
            cmd.insert(cmd.begin() + 1, {"--on", input});
        cmd.insert(cmd.end(), {"-o", ref});
        auto r = runQrx(cmd);
        ASSERT_EQ(r.code, 0) << r.err;
        const std::string want = readFile(ref);
        EXPECT_EQ(readFile(outs[0] / name), want) << name;
        EXPECT_EQ(readFile(outs[1] / name), want) << name;
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(entries(outs[0]), names);
    EXPECT_EQ(entries(outs[1]), names);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, BatchForms,
    ::testing::Values(
        FormCase{"call", {"InvertQRX(2, 3, 11, 8)"}, {"call", "InvertQRX(2, 3, 11, 8)"}, false, ""},
        FormCase{"callConsolePam",
                 {"--host", "console", "--layout", "1", "--format", "pam", "InvertQRX"},
                 {"call", "--host", "console", "--layout", "1", "InvertQRX"},
                 false,
                 ".pam"},
        FormCase{"callJpegQuality",
                 {"--quality", "40", "--format", "jpg", "InvertQRX"},
                 {"call", "--quality", "40", "InvertQRX"},
                 false,
                 ".jpg"},
        FormCase{"lut3d",
                 {"lut3d", "--cube", "@grade.cube"},
                 {"lut3d", "--cube", "@grade.cube"},
                 true,
                 ""},
        FormCase{"lut3dRectWeb",
                 {"--host=web", "lut3d", "--rect", "1,2,9,7", "--cube", "@grade.cube"},
                 {"lut3d", "--host", "web", "--rect", "1,2,9,7", "--cube", "@grade.cube"},
                 true,
                 ""},
        FormCase{"sepia", {"sepia"}, {"sepia"}, true, ""},
        FormCase{"sepiaRectKeepsTheRest",
                 {"sepia", "--rect", "2,2,9,6", "--format", "pam"},
                 {"sepia", "--rect", "2,2,9,6"},
                 true,
                 ".pam"},
        FormCase{"sepiaRaw", {"--format=pam", "sepia", "--raw"}, {"sepia", "--raw"}, true, ".pam"},
        FormCase{
            "lut3dRaw",
            {"lut3d", "--cube", "@grade.cube", "--raw", "--rect", "1,1,5,5", "--format", "pam"},
            {"lut3d", "--cube", "@grade.cube", "--raw", "--rect", "1,1,5,5"},
            true,
            ".pam"},
        FormCase{"callKeepAlpha",
                 {"--keep-alpha", "--format", "pam", "InvertQRX"},
                 {"call", "--keep-alpha", "InvertQRX"},
                 false,
                 ".pam"},
        FormCase{
            "sepiaOptionsPpm",
            {"sepia", "--weights", "0.5,0.25,0.25", "--offsets", "-10,0,25", "--format", ".PPM"},
            {"sepia", "--weights", "0.5,0.25,0.25", "--offsets=-10,0,25"},
            true,
            ".ppm"}),
    [](const auto& info) { return std::string(info.param.label); });

// Whatever would fail for every file, or would lose a result, is refused before any worker
// starts: exit 2, a message saying what is wrong, and no output directory made.
struct Refusal {
    const char* label;
    std::vector<std::string> args; // "@" prefixes a path in the scratch directory
    const char* message;
};

class BatchRefusals : public ::testing::TestWithParam<Refusal> {};

TEST_P(BatchRefusals, ExitTwoAndNothingWritten) {
    const Refusal& c = GetParam();
    ScratchDir dir;
    fs::create_directories(dir / "in/sub");
    writeFile(dir / "in/a.ppm", ppm(4, 3, ppmPixels(4, 3, 1)));
    writeFile(dir / "in/b.ppm", ppm(4, 3, ppmPixels(4, 3, 2)));
    writeFile(dir / "in/sub/a.ppm", ppm(5, 2, ppmPixels(5, 2, 3)));
    writeFile(dir / "in/a.png", readFile(kSample));
    writeFile(dir / "bad.cube", "LUT_3D_SIZE 2\n0 0 0\n1 0\n");
    writeFile(dir / "curve.cube", "LUT_1D_SIZE 2\n0 0 0\n1 1 1\n");
    std::vector<std::string> args{"batch"};
    for (const std::string& a : c.args)
        args.push_back(atDir(a, dir.path()));
    auto r = runQrx(args);
    EXPECT_EQ(r.code, 2) << r.err;
    EXPECT_TRUE(contains(r.err, c.message)) << r.err;
    EXPECT_FALSE(fs::exists(dir / "out"));
    EXPECT_EQ(entries(dir / "in"), (std::vector<std::string>{"a.png", "a.ppm", "b.ppm", "sub"}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BatchRefusals,
    ::testing::Values(
        Refusal{"nameClash",
                {"InvertQRX", "@in/a.ppm", "@in/b.ppm", "@in/sub/a.ppm", "--out-dir", "@out"},
                "would both be written to"},
        Refusal{"clashThroughFormat",
                {"--format", "png", "InvertQRX", "@in/a.ppm", "@in/a.png", "--out-dir", "@out"},
                "would both be written to"},
        Refusal{"clashInFilterForm",
                {"sepia", "@in/a.ppm", "@in/a.ppm", "--out-dir", "@out"},
                "would both be written to"},
        Refusal{"replacesItsInput",
                {"InvertQRX", "@in/a.ppm", "--out-dir", "@in"},
                "would be replaced by its own result"},
        Refusal{"standardInput", {"InvertQRX", "-", "--out-dir", "@out"}, "standard input"},
        Refusal{"unwritableFormat",
                {"--format", "gif", "InvertQRX", "@in/a.ppm", "--out-dir", "@out"},
                "--format: qrx cannot write 'gif'"},
        Refusal{"noFittingOverload",
                {"InvertQRX(1, 2)", "@in/a.ppm", "--out-dir", "@out"},
                "no overload of Picture.InvertQRX takes these 2 arguments"},
        Refusal{"argumentOfTheWrongType",
                {"ChangeContrastQRX(true)", "@in/a.ppm", "--out-dir", "@out"},
                "no overload of Picture.ChangeContrastQRX"},
        Refusal{"keepAlphaWithAFilter",
                {"--keep-alpha", "sepia", "@in/a.ppm", "--out-dir", "@out"},
                "--keep-alpha"},
        Refusal{"unknownMethod",
                {"InvertQRZ", "@in/a.ppm", "--out-dir", "@out"},
                "Picture has no method 'InvertQRZ'; did you mean InvertQRX"},
        Refusal{"malformedCall", {"InvertQRX(1,", "@in/a.ppm", "--out-dir", "@out"}, "CALL: "},
        Refusal{"noFiles", {"InvertQRX", "--out-dir", "@out"}, "no picture FILES"},
        Refusal{"noCall", {"--out-dir", "@out"}, "give a CALL"},
        Refusal{"noOutDir", {"InvertQRX", "@in/a.ppm"}, "--out-dir is required"},
        Refusal{"zeroJobs", {"-j", "0", "InvertQRX", "@in/a.ppm", "--out-dir", "@out"}, "-j"},
        Refusal{"badCube",
                {"lut3d", "--cube", "@bad.cube", "@in/a.ppm", "--out-dir", "@out"},
                "bad.cube:3:"},
        Refusal{"rectWithCurve",
                {"lut3d", "--cube", "@curve.cube", "--rect", "0,0,2,2", "@in/a.ppm", "--out-dir",
                 "@out"},
                "1D table"},
        Refusal{"badOffsets",
                {"sepia", "--offsets", "1,2", "@in/a.ppm", "--out-dir", "@out"},
                "--offsets"}),
    [](const auto& info) { return std::string(info.param.label); });

// The host options reach every worker: a host that reports no version gets nil from InvertQRX
// on a picture with alpha, as qrx call does, while the default host inverts it.
TEST(Batch, HostOptionsReachTheWorkers) {
    Inputs in;
    const std::string alpha = in.good[4];
    ASSERT_EQ(fs::path(alpha).filename(), "sample_alpha.png");
    auto single = runQrx({"call", "--host-version", "none", "--on", alpha, "InvertQRX"});
    ASSERT_EQ(single.code, 1) << single.err;

    const fs::path none = in.dir / "none";
    auto r = runQrx({"batch", "--host-version", "none", "InvertQRX", in.good[0], alpha, "--out-dir",
                     none.string()});
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_TRUE(contains(r.err, alpha + ": Picture.InvertQRX returned nil")) << r.err;
    EXPECT_EQ(entries(none), std::vector<std::string>{"p0.ppm"});

    const fs::path dflt = in.dir / "default";
    r = runQrx({"batch", "InvertQRX", in.good[0], alpha, "--out-dir", dflt.string()});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(entries(dflt), (std::vector<std::string>{"p0.ppm", "sample_alpha.png"}));
}

// A work folder a killed batch left behind (its process gone) is removed by the next batch into
// the same folder; one of a batch still running (here: this process), and hidden folders not
// named as work folders, are left alone.
TEST(Batch, RemovesOnlyTheWorkFoldersOfBatchesThatAreGone) {
    Inputs in;
    const fs::path out = in.dir / "out";
    const pid_t gone = fork();
    if (gone == 0) _exit(0);
    ASSERT_GT(gone, 0);
    waitpid(gone, nullptr, 0);
    const std::string left = ".qrx-batch-" + std::to_string(gone) + "-AbC123";
    const std::string running = ".qrx-batch-" + std::to_string(getpid()) + "-XyZ789";
    for (const std::string& d : {left, running, std::string(".qrx-batch-old"), std::string(".x")}) {
        fs::create_directories(out / d);
        writeFile(out / d / "p0.ppm", "partial");
    }
    auto r = runQrx({"batch", "InvertQRX", in.good[0], "--out-dir", out.string()});
    EXPECT_EQ(r.code, 0) << r.err;
    std::vector<std::string> kept{".qrx-batch-old", running, ".x", "p0.ppm"};
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(entries(out), kept);
}

// What a worker prints on standard output comes out in the order of the files, each line after
// the file's name, however many workers run.
TEST(Batch, WorkerResultsInFileOrder) {
    Inputs in;
    const fs::path out = in.dir / "out";
    auto r = runQrx(concat({"batch", "-j", "3", "CountColorsQRX(r, g, b, n)"},
                           concat(in.good, {"--out-dir", out.string()})));
    ASSERT_EQ(r.code, 0) << r.err;
    std::string want;
    for (const std::string& input : in.good) {
        auto single = runQrx({"call", "--on", input, "CountColorsQRX(r, g, b, n)"});
        ASSERT_EQ(single.code, 0) << single.err;
        std::istringstream lines(single.out);
        std::string line;
        while (std::getline(lines, line))
            want += input + ": " + line + "\n";
    }
    EXPECT_FALSE(want.empty());
    EXPECT_EQ(r.out, want);
}

// On a terminal the progress bar is drawn on standard error and cleared before the summary.
TEST(Batch, ProgressBarOnATerminal) {
    Inputs in;
    const std::string out = (in.dir / "out").string();
    std::vector<std::string> args =
        concat({QRX_TEST_CLI, "--plugin", QRX_TEST_PLUGIN, "batch", "-j", "2", "InvertQRX"},
               concat(in.good, {"--out-dir", out}));
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        execv(argv[0], argv.data());
        _exit(127);
    }
    std::string seen;
    char buf[4096];
    ssize_t got;
    while ((got = read(master, buf, sizeof buf)) > 0 || (got < 0 && errno == EINTR))
        if (got > 0) seen.append(buf, size_t(got));
    int status = 0;
    waitpid(pid, &status, 0);
    close(master);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << seen;
    EXPECT_TRUE(contains(seen, "\r[")) << seen;
    EXPECT_TRUE(contains(seen, "] 5/5")) << seen;
    EXPECT_TRUE(contains(seen, "\r\033[K")) << seen;
    EXPECT_TRUE(contains(seen, "5 of 5 files done")) << seen;
    EXPECT_EQ(entries(out), fileNames(in.good));
}

// The worker pool on its own, with the shell as the worker: what each worker wrote, how it
// ended, and which workers never started.
using qrx::cli::runWorkers;
using qrx::cli::WorkerEvents;
using qrx::cli::WorkerOutcome;

std::vector<std::vector<std::string>> shellJobs(const std::vector<std::string>& scripts) {
    std::vector<std::vector<std::string>> jobs;
    for (const std::string& s : scripts)
        jobs.push_back({"-c", s});
    return jobs;
}

class WorkerPool : public ::testing::TestWithParam<size_t> {};

TEST_P(WorkerPool, CollectsEachWorkersOutputAndEnd) {
    const auto jobs = shellJobs({
        "echo one; echo two >&2", "echo failing >&2; exit 3", "kill -KILL $$", "kill -SEGV $$",
        // More than a pipe holds on both streams at once: read while the worker writes.
        "head -c 300000 /dev/zero | tr '\\0' o; head -c 200000 /dev/zero | tr '\\0' e >&2",
        "cat; echo read-nothing", // standard input is empty
    });
    std::vector<size_t> started, finished;
    WorkerEvents events;
    events.starting = [&](size_t job) { started.push_back(job); };
    events.finished = [&](size_t job, const WorkerOutcome& o) {
        EXPECT_TRUE(o.started);
        finished.push_back(job);
    };
    auto run = runWorkers("/bin/sh", "sh", jobs, GetParam(), events);
    EXPECT_FALSE(run.interrupted);
    ASSERT_EQ(run.outcomes.size(), jobs.size());
    EXPECT_EQ(started, (std::vector<size_t>{0, 1, 2, 3, 4, 5}));
    std::sort(finished.begin(), finished.end());
    EXPECT_EQ(finished, started);

    const auto& o = run.outcomes;
    EXPECT_TRUE(o[0].succeeded());
    EXPECT_EQ(o[0].out, "one\n");
    EXPECT_EQ(o[0].err, "two\n");
    EXPECT_FALSE(o[1].succeeded());
    EXPECT_EQ(o[1].exitCode, 3);
    EXPECT_EQ(o[1].signal, 0);
    EXPECT_EQ(o[1].err, "failing\n");
    EXPECT_EQ(o[2].signal, SIGKILL);
    EXPECT_FALSE(o[2].succeeded());
    EXPECT_EQ(o[3].signal, SIGSEGV);
    EXPECT_EQ(qrx::cli::signalName(o[3].signal), "SIGSEGV");
    EXPECT_TRUE(o[4].succeeded());
    EXPECT_EQ(o[4].out, std::string(300000, 'o'));
    EXPECT_EQ(o[4].err, std::string(200000, 'e'));
    EXPECT_TRUE(o[5].succeeded());
    EXPECT_EQ(o[5].out, "read-nothing\n");
}

INSTANTIATE_TEST_SUITE_P(Parallel, WorkerPool, ::testing::Values(size_t(1), size_t(3), size_t(16)));

TEST(WorkerPoolStart, AProgramThatCannotRunIsReportedForEveryJob) {
    size_t finished = 0;
    WorkerEvents events;
    events.finished = [&](size_t, const WorkerOutcome& o) {
        ++finished;
        EXPECT_FALSE(o.started);
        EXPECT_FALSE(o.succeeded());
    };
    auto run = runWorkers("/nonexistent/qrx", "qrx", {{"a"}, {"b"}}, 2, events);
    EXPECT_EQ(finished, 2u);
    for (const WorkerOutcome& o : run.outcomes)
        EXPECT_TRUE(contains(o.spawnError, "/nonexistent/qrx")) << o.spawnError;
}

// A Ctrl-C (here sent by the first worker itself) stops further starts; the running worker
// finishes and keeps its outcome, and the signal handler is restored afterwards.
TEST(WorkerPoolStart, InterruptStopsStartingMoreWorkers) {
    struct sigaction before {};
    sigaction(SIGINT, nullptr, &before);
    std::vector<int> interrupts;
    WorkerEvents events;
    events.interrupted = [&](int count) { interrupts.push_back(count); };
    auto run =
        runWorkers("/bin/sh", "sh",
                   shellJobs({"kill -INT $PPID; echo finished", "echo 1", "echo 2"}), 1, events);
    EXPECT_TRUE(run.interrupted);
    EXPECT_EQ(interrupts, std::vector<int>{1});
    EXPECT_TRUE(run.outcomes[0].succeeded());
    EXPECT_EQ(run.outcomes[0].out, "finished\n");
    EXPECT_FALSE(run.outcomes[1].started);
    EXPECT_FALSE(run.outcomes[2].started);
    struct sigaction now {};
    sigaction(SIGINT, nullptr, &now);
    EXPECT_EQ(now.sa_handler, before.sa_handler);
}

} // namespace
