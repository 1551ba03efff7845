// qrx demo and the bundled samples: the committed samples are what the generator makes, the
// gallery table shows every registered method, and the page loads in a browser with no broken
// picture.
#include <gtest/gtest.h>

#include <regex>

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
    ASSERT_EQ(runShell(shellQuote(QRX_TEST_MAKE_SAMPLES) + " " + shellQuote(dir.path())).code, 0);
    std::vector<std::string> made;
    for (const auto& e : fs::directory_iterator(dir.path()))
        made.push_back(e.path().filename().string());
    // Everything the demo reads is made by the generator.
    for (const std::string& name : demo::sampleFiles())
        EXPECT_TRUE(std::count(made.begin(), made.end(), name)) << name;
    // Pictures by their pixels: the PNG writer's compression may change the bytes.
    auto content = [](const fs::path& p) {
        if (p.extension() != ".png") return readFile(p);
        const qrx::Image img = qrx::readImage(p);
        return std::to_string(img.width * 100000 + img.height * 10 + img.hasAlpha) +
               std::string(img.rgba.begin(), img.rgba.end());
    };
    for (const std::string& name : made)
        EXPECT_TRUE(fs::exists(kSamples / name) && content(dir / name) == content(kSamples / name))
            << name << ": not as committed";
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

// A method left out of the table is reported, with all of its overloads, and nothing else is.
TEST_F(DemoTable, LeavingEntriesOutReportsExactlyWhatTheyShowed) {
    for (const std::string dropped : {"InvertGrayQRX", "class PictureSepiaQRX"}) {
        std::vector<demo::Entry> list;
        for (const demo::Entry& e : demo::entries())
            if (!std::regex_search(e.call, std::regex("^" + dropped + "\\b")) &&
                !std::count(e.covers.begin(), e.covers.end(), dropped))
                list.push_back(e);
        const demo::Coverage cov = demo::coverage(*host, list);
        std::vector<std::string> want;
        for (const std::string& name : surface())
            if (contains(name, dropped + "(") || contains(name, dropped + " ") || name == dropped)
                want.push_back(name);
        EXPECT_EQ(cov.missing, want);
        EXPECT_EQ(want.size(), dropped.starts_with("class") ? 1u : 2u);
        EXPECT_TRUE(cov.problems.empty());
    }
}

TEST(DemoText, ShellWordsAndHtml) {
    std::string quoted;
    for (const char* word : {"out/demo/invert.png", "--rect", "80,0,159,119",
                             "InvertQRX(20, 10, 120, 60)", "&cF4F1E8", "it's", ""})
        quoted += demo::shellWord(word) + " ";
    EXPECT_EQ(quoted, "out/demo/invert.png --rect 80,0,159,119 'InvertQRX(20, 10, 120, 60)' "
                      "'&cF4F1E8' 'it'\\''s' '' ");
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
    ASSERT_EQ(runShell(cmd).code, 0) << readFile(dir / "chromium.log");
    const std::string dom = readFile(dir / "dom.html");

    // Every picture loaded, as the page's own script saw it.
    const std::vector<std::string> imgs = tags(dom, "img");
    ASSERT_GT(imgs.size(), 50u);
    for (const std::string& img : imgs)
        EXPECT_EQ(attribute(img, "data-state"), "loaded") << img;
    std::smatch summary;
    ASSERT_TRUE(std::regex_search(dom, summary, std::regex("<p[^>]*id=\"image-summary\"[^>]*>")));
    for (auto [name, want] : {std::pair{"data-total", imgs.size()},
                              {"data-loaded", imgs.size()},
                              {"data-broken", size_t(0)}})
        EXPECT_EQ(attribute(summary.str(), name), std::to_string(want)) << name;

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
    for (const demo::Entry& e : demo::entries())
        EXPECT_TRUE(e.output.empty() || fs::exists(out / e.output)) << e.output;
}

} // namespace
