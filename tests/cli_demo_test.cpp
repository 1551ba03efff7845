// qrx demo and the bundled samples: the committed samples are what the generator makes, the
// gallery table shows every registered method, and the page loads in a browser with no broken
// picture.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "cli/demo.h"
#include "cli/image_io.h"
#include "cli_util_test.h"
#include "support.h"

namespace {

namespace fs = std::filesystem;
using namespace qrxclitest;
namespace demo = qrx::cli::demo;

const fs::path kSamples = fs::path(QRX_SOURCE_DIR) / "samples";

// ---- The bundled samples ----

TEST(Samples, CommittedFilesAreWhatTheGeneratorMakes) {
    ScratchDir dir;
    const std::string cmd = shellQuote(QRX_TEST_MAKE_SAMPLES) + " " + shellQuote(dir.path());
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::vector<std::string> made;
    for (const auto& e : fs::directory_iterator(dir.path()))
        made.push_back(e.path().filename().string());
    // Everything the demo reads is made by the generator.
    for (const std::string& name : demo::sampleFiles())
        EXPECT_TRUE(std::count(made.begin(), made.end(), name)) << name;
    for (const std::string& name : made) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(fs::exists(kSamples / name)) << "generated but not committed";
        if (fs::path(name).extension() == ".png") {
            // Pictures by their pixels: the PNG writer's compression may change the bytes.
            const qrx::Image made = qrx::readImage(dir / name);
            const qrx::Image committed = qrx::readImage(kSamples / name);
            EXPECT_EQ(made.width, committed.width);
            EXPECT_EQ(made.height, committed.height);
            EXPECT_EQ(made.hasAlpha, committed.hasAlpha);
            EXPECT_TRUE(made.rgba == committed.rgba) << "the committed pixels differ";
        } else {
            EXPECT_TRUE(readFile(dir / name) == readFile(kSamples / name))
                << "the committed file differs from what the generator makes";
        }
    }
}

// ---- The gallery table against the registered surface ----

class DemoTable : public testing::Test {
  protected:
    void SetUp() override { host = qrxtest::loadHost(); }
    // The registered methods and classes, named as the page names them.
    std::vector<std::string> surface() const {
        std::vector<std::string> names;
        const qrx::ClassInfo* pic = host->findClass("Picture");
        for (const auto* list : {&pic->methods, &pic->extensions})
            for (const qrx::MethodInfo& m : *list)
                if (!m.builtIn) names.push_back("Picture." + m.decl.text);
        for (const qrx::MethodInfo& m : host->globalMethods())
            names.push_back(m.decl.text);
        for (const auto& c : host->classes())
            if (!c->builtIn) names.push_back("class " + c->name);
        return names;
    }
    std::unique_ptr<qrx::Host> host;
};

TEST_F(DemoTable, ShowsEveryRegisteredMethodAndClass) {
    const demo::Coverage cov = demo::coverage(*host, demo::entries());
    EXPECT_TRUE(cov.missing.empty()) << "first missing: " << cov.missing.front();
    EXPECT_TRUE(cov.problems.empty()) << "first problem: " << cov.problems.front();
    ASSERT_EQ(cov.perEntry.size(), demo::entries().size());
    for (size_t i = 0; i < cov.perEntry.size(); ++i)
        EXPECT_FALSE(cov.perEntry[i].empty()) << demo::entries()[i].caption;
    EXPECT_EQ(demo::registeredSurface(*host), surface());
    EXPECT_GT(surface().size(), 40u);
}

TEST_F(DemoTable, EveryEntryBelongsToAFamilyAndWritesItsOwnFile) {
    std::vector<std::string> outputs;
    for (const demo::Entry& e : demo::entries()) {
        SCOPED_TRACE(e.caption);
        EXPECT_TRUE(std::count(demo::families().begin(), demo::families().end(), e.family));
        if (!e.output.empty()) outputs.push_back(e.output);
    }
    std::vector<std::string> sorted = outputs;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end());
}

struct DroppedCase {
    std::string dropped; // entries calling or covering this are left out
    std::vector<std::string> missing;
};

class DemoTableDropped : public DemoTable, public testing::WithParamInterface<DroppedCase> {};

// A method left out of the table is reported, with all of its overloads the table no longer
// shows, and nothing else is.
TEST_P(DemoTableDropped, LeavingEntriesOutReportsExactlyWhatTheyShowed) {
    std::vector<demo::Entry> list;
    for (const demo::Entry& e : demo::entries()) {
        const bool calls =
            e.command == "call" && e.call.rfind(GetParam().dropped, 0) == 0 &&
            (e.call.size() == GetParam().dropped.size() ||
             e.call[GetParam().dropped.size()] == '(' || e.call[GetParam().dropped.size()] == ' ');
        const bool covers = std::count(e.covers.begin(), e.covers.end(), GetParam().dropped);
        if (!calls && !covers) list.push_back(e);
    }
    ASSERT_LT(list.size(), demo::entries().size());
    const demo::Coverage cov = demo::coverage(*host, list);
    EXPECT_EQ(cov.missing, GetParam().missing);
    EXPECT_TRUE(cov.problems.empty());
}

INSTANTIATE_TEST_SUITE_P(
    , DemoTableDropped,
    testing::Values(
        DroppedCase{"InvertGrayQRX",
                    {"Picture.InvertGrayQRX(left as integer,top as integer,width as integer,height "
                     "as integer) as picture",
                     "Picture.InvertGrayQRX as picture"}},
        DroppedCase{"MergePictureQRX",
                    {"MergePictureQRX(source1 as picture, source2 as picture) as picture"}},
        DroppedCase{"class PictureSepiaQRX", {"class PictureSepiaQRX"}}),
    [](const testing::TestParamInfo<DroppedCase>& info) {
        std::string name = info.param.dropped;
        name.erase(std::remove(name.begin(), name.end(), ' '), name.end());
        return name;
    });

TEST_F(DemoTable, EntriesNamingNothingRegisteredAreProblems) {
    demo::Entry unknown = demo::entries().front();
    unknown.call = "NoSuchMethodQRX(1)";
    demo::Entry misfit = demo::entries().front();
    misfit.call = "InvertQRX(1, 2)"; // no overload takes two arguments
    demo::Entry global = demo::entries().front();
    global.on.clear(); // InvertQRX is no global method
    demo::Entry cover = demo::entries().back();
    cover.covers = {"class NoSuchClassQRX"};
    const demo::Coverage cov = demo::coverage(*host, {unknown, misfit, global, cover});
    ASSERT_EQ(cov.problems.size(), 4u);
    EXPECT_NE(cov.problems[0].find("NoSuchMethodQRX"), std::string::npos);
    EXPECT_NE(cov.problems[1].find("InvertQRX(1, 2)"), std::string::npos);
    EXPECT_NE(cov.problems[3].find("NoSuchClassQRX"), std::string::npos);
    for (const auto& shown : cov.perEntry)
        EXPECT_TRUE(shown.empty());
}

TEST(DemoText, ShellWordsAndHtml) {
    const std::vector<std::pair<std::string, std::string>> words{
        {"out/demo/invert.png", "out/demo/invert.png"},
        {"--rect", "--rect"},
        {"80,0,159,119", "80,0,159,119"},
        {"InvertQRX(20, 10, 120, 60)", "'InvertQRX(20, 10, 120, 60)'"},
        {"&cF4F1E8", "'&cF4F1E8'"},
        {"it's", "'it'\\''s'"},
        {"", "''"},
    };
    for (const auto& [word, quoted] : words)
        EXPECT_EQ(demo::shellWord(word), quoted) << word;
    EXPECT_EQ(demo::html("a<b>&\"c\""), "a&lt;b&gt;&amp;&quot;c&quot;");
}

// ---- The page in a browser ----

std::string attribute(const std::string& tag, const std::string& name) {
    const std::regex re(" " + name + "=\"([^\"]*)\"");
    std::smatch m;
    return std::regex_search(tag, m, re) ? m[1].str() : std::string("(none)");
}

std::vector<std::string> tags(const std::string& dom, const std::string& name) {
    std::vector<std::string> out;
    const std::regex re("<" + name + "\\b[^>]*>");
    for (auto it = std::sregex_iterator(dom.begin(), dom.end(), re); it != std::sregex_iterator();
         ++it)
        out.push_back(it->str());
    return out;
}

TEST(DemoPage, LoadsInHeadlessChromiumWithEveryPictureAndEveryMethod) {
    const fs::path chromium = "/usr/bin/chromium";
    if (!fs::exists(chromium)) GTEST_SKIP() << "chromium is not installed";

    ScratchDir dir;
    const fs::path out = dir / "gallery dir"; // a blank in the path must not break any call
    const RunResult r = runQrx({"demo", "--out", out.string(), "--samples", kSamples.string()});
    ASSERT_EQ(r.code, 0) << r.err;
    ASSERT_TRUE(fs::exists(out / "index.html"));

    ScratchDir profile;
    const std::string cmd =
        shellQuote(chromium.string()) +
        " --headless --no-sandbox --disable-gpu --no-first-run --disable-background-networking"
        " --disable-component-update --disable-sync --user-data-dir=" +
        shellQuote(profile.path().string()) + " --virtual-time-budget=10000 --dump-dom " +
        shellQuote("file://" + (out / "index.html").string()) + " >" +
        shellQuote((dir / "dom.html").string()) + " 2>" +
        shellQuote((dir / "chromium.log").string());
    ASSERT_EQ(std::system(cmd.c_str()), 0) << readFile(dir / "chromium.log");
    const std::string dom = readFile(dir / "dom.html");

    // Every picture loaded, as the page's own script saw it.
    const std::vector<std::string> imgs = tags(dom, "img");
    ASSERT_GT(imgs.size(), 50u);
    for (const std::string& img : imgs)
        EXPECT_EQ(attribute(img, "data-state"), "loaded") << img;
    std::vector<std::string> summary = tags(dom, "p");
    std::erase_if(summary, [](const std::string& p) {
        return p.find("id=\"image-summary\"") == std::string::npos;
    });
    ASSERT_EQ(summary.size(), 1u);
    EXPECT_EQ(attribute(summary[0], "data-total"), std::to_string(imgs.size()));
    EXPECT_EQ(attribute(summary[0], "data-loaded"), std::to_string(imgs.size()));
    EXPECT_EQ(attribute(summary[0], "data-broken"), "0");

    // Every registered method and class appears, and no run failed.
    const auto host = qrxtest::loadHost();
    std::vector<std::string> shown;
    for (const std::string& li : tags(dom, "li"))
        if (li.find("data-declaration") != std::string::npos)
            shown.push_back(attribute(li, "data-declaration"));
    for (const std::string& name : demo::registeredSurface(*host))
        EXPECT_TRUE(std::count(shown.begin(), shown.end(), demo::html(name))) << name;
    EXPECT_EQ(dom.find("id=\"missing\""), std::string::npos);
    const std::vector<std::string> articles = tags(dom, "article");
    EXPECT_EQ(articles.size(), demo::entries().size());
    for (const std::string& a : articles)
        EXPECT_EQ(attribute(a, "data-ok"), "true") << a;
    for (const demo::Entry& e : demo::entries()) {
        if (!e.output.empty()) {
            EXPECT_TRUE(fs::exists(out / e.output)) << e.output;
        }
    }
}

} // namespace
