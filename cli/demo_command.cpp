// qrx demo: runs every entry of the gallery table through qrx itself (the same command-line code
// a user's own call goes through) and writes the page that shows the results.
#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <ostream>
#include <sstream>
#include <system_error>

#include "app.h"
#include "commands.h"
#include "demo.h"
#include "errors.h"
#include "image_io.h"

namespace qrx::cli {

namespace {

namespace fs = std::filesystem;
using demo::Entry;
using demo::html;
using nlohmann::json;

// Where the entries' paths point: "{s}/name" and "{o}/name".
struct Folders {
    fs::path samples;
    fs::path out;

    fs::path resolve(const std::string& ref) const {
        if (ref.rfind("{s}/", 0) == 0) return samples / ref.substr(4);
        if (ref.rfind("{o}/", 0) == 0) return out / ref.substr(4);
        return ref;
    }
    // Where the page finds the file: samples are copied to inputs/, results sit beside it.
    std::string pageLink(const std::string& ref) const {
        if (ref.rfind("{s}/", 0) == 0) return "inputs/" + ref.substr(4);
        if (ref.rfind("{o}/", 0) == 0) return ref.substr(4);
        return ref;
    }
};

bool isRef(const std::string& word) {
    return word.rfind("{s}/", 0) == 0 || word.rfind("{o}/", 0) == 0;
}

// The file references in a call expression, in order.
std::vector<std::string> callRefs(const std::string& call) {
    std::vector<std::string> refs;
    for (size_t i = 0; i + 4 <= call.size(); ++i) {
        if (!isRef(call.substr(i, 4))) continue;
        size_t end = call.find_first_of(",) ", i);
        if (end == std::string::npos) end = call.size();
        refs.push_back(call.substr(i, end - i));
        i = end;
    }
    return refs;
}

// A path as a call argument: double-quoted when blanks, commas, parentheses or quotes would
// split it.
std::string callPath(const fs::path& path) {
    const std::string p = path.string();
    if (p.find_first_of(" ,()\"\\\t") == std::string::npos) return p;
    std::string out = "\"";
    for (char c : p) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string expandCall(const std::string& call, const Folders& f) {
    std::string out = call;
    for (const std::string& ref : callRefs(call)) {
        const size_t at = out.find(ref);
        out.replace(at, ref.size(), callPath(f.resolve(ref)));
    }
    return out;
}

// The arguments after "qrx": the command and its options, with every path resolved.
std::vector<std::string> commandLine(const Entry& e, const Folders& f) {
    std::vector<std::string> argv{e.command};
    for (const std::string& a : e.args)
        argv.push_back(isRef(a) ? f.resolve(a).string() : a);
    if (e.command == "call") {
        if (!e.on.empty()) argv.insert(argv.end(), {"--on", f.resolve(e.on).string()});
        argv.push_back(expandCall(e.call, f));
        if (!e.output.empty()) argv.insert(argv.end(), {"-o", (f.out / e.output).string()});
        argv.push_back("--json");
    }
    return argv;
}

// The qrx the page's command lines name: this executable, relative to the working directory
// when it lies below it.
std::string programName() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return "qrx";
    const fs::path rel = exe.lexically_relative(fs::current_path(ec));
    if (!ec && !rel.empty() && *rel.begin() != "..") return rel.string();
    return exe.string();
}

struct Outcome {
    int code = 0;
    std::string out, err;
    json answer; // the JSON a call or histogram printed, or null
};

Outcome runEntry(const std::vector<std::string>& globals, const std::vector<std::string>& argv) {
    std::vector<std::string> words{"qrx"};
    words.insert(words.end(), globals.begin(), globals.end());
    words.insert(words.end(), argv.begin(), argv.end());
    std::vector<const char*> ptrs;
    for (const std::string& w : words)
        ptrs.push_back(w.c_str());
    std::ostringstream out, err;
    Outcome o;
    o.code = run(int(ptrs.size()), ptrs.data(), out, err);
    o.out = out.str();
    o.err = err.str();
    if (o.code == kExitOk && std::find(argv.begin(), argv.end(), "--json") != argv.end())
        o.answer = json::parse(o.out, nullptr, false);
    return o;
}

// ---- The page ----

const char* const kStyle = R"(
body { font: 15px/1.45 system-ui, sans-serif; margin: 0 auto; max-width: 1180px; padding: 0 18px;
       color: #1d2327; background: #fbfaf7; }
h1 { margin: 24px 0 4px; } h2 { margin: 34px 0 10px; border-bottom: 2px solid #d8d2c4; }
nav a { margin-right: 12px; } code, pre { font: 13px/1.4 ui-monospace, monospace; }
.family { display: grid; grid-template-columns: repeat(auto-fill, minmax(540px, 1fr)); gap: 14px; }
.entry { background: #fff; border: 1px solid #e2ddd1; border-radius: 6px; padding: 10px 14px; }
.entry[data-ok="false"] { border-color: #c0392b; background: #fdf0ee; }
.entry h3 { margin: 2px 0 6px; font-size: 16px; }
.decls { list-style: none; margin: 0 0 8px; padding: 0; color: #4a5560; }
.pics { display: flex; flex-wrap: wrap; align-items: center; gap: 10px; }
figure { margin: 0; } figcaption { font-size: 12px; color: #66707a; text-align: center; }
img.pic { width: 240px; image-rendering: pixelated; border: 1px solid #ccc;
          background: repeating-conic-gradient(#ddd 0 25%, #fff 0 50%) 0 0 / 12px 12px; }
img.wide { max-width: 100%; border: 1px solid #ccc; }
.arrow { font-size: 24px; color: #999; }
dl.answers { display: grid; grid-template-columns: max-content 1fr; gap: 2px 12px; margin: 8px 0; }
dl.answers dt { font-weight: 600; } dl.answers dd { margin: 0; }
pre.cmd { background: #f3f1ec; padding: 6px 8px; overflow-x: auto; white-space: pre-wrap;
          word-break: break-all; margin: 8px 0 2px; }
pre.error { color: #a61b0b; white-space: pre-wrap; }
#image-summary.good { color: #1e7b34; } #image-summary.bad { color: #a61b0b; font-weight: 700; }
#missing { border: 2px solid #c0392b; padding: 4px 14px; background: #fdf0ee; }
svg.plot { background: #fff; border: 1px solid #ccc; }
)";

// Marks every picture as loaded or broken once the page has loaded, and sums them up.
const char* const kScript = R"(
window.addEventListener('load', function () {
  var imgs = document.querySelectorAll('img'), loaded = 0, broken = 0;
  imgs.forEach(function (img) {
    var ok = img.complete && img.naturalWidth > 0;
    img.setAttribute('data-state', ok ? 'loaded' : 'broken');
    if (ok) loaded++; else broken++;
  });
  var s = document.getElementById('image-summary');
  s.setAttribute('data-total', imgs.length);
  s.setAttribute('data-loaded', loaded);
  s.setAttribute('data-broken', broken);
  s.className = broken ? 'bad' : 'good';
  s.textContent = loaded + ' of ' + imgs.length + ' pictures loaded' +
    (broken ? ', ' + broken + ' broken' : '');
});
)";

std::string plotColour(const std::string& name) {
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    if (lower.find("red") != std::string::npos) return "#d62828";
    if (lower.find("green") != std::string::npos) return "#2a9d3f";
    if (lower.find("blue") != std::string::npos) return "#1d4ed8";
    return "#555";
}

// Histogram counters (lists of 256 counts) as one small plot.
std::string counterPlot(const std::vector<std::pair<std::string, json>>& lists) {
    uint64_t top = 1;
    for (const auto& [name, counts] : lists)
        for (const json& c : counts)
            top = std::max(top, c.get<uint64_t>());
    std::string svg = "<svg class=\"plot\" width=\"512\" height=\"120\" viewBox=\"0 0 256 120\" "
                      "preserveAspectRatio=\"none\" role=\"img\">";
    for (const auto& [name, counts] : lists) {
        svg += "<polyline fill=\"none\" stroke-width=\"1\" stroke=\"" + plotColour(name) +
               "\" points=\"";
        for (size_t i = 0; i < counts.size(); ++i)
            svg += std::to_string(i) + "," +
                   std::to_string(118 - counts[i].get<uint64_t>() * 116 / top) + " ";
        svg += "\"><title>" + html(name) + "</title></polyline>";
    }
    return svg + "</svg><div><small>counts 0 to " + std::to_string(top) +
           " upwards, component value 0 to 255 to the right</small></div>";
}

bool isCounterList(const json& v) {
    return v.is_array() && v.size() == 256 &&
           std::all_of(v.begin(), v.end(), [](const json& c) { return c.is_number_unsigned(); });
}

std::string scalarText(const json& v) {
    if (v.is_null()) return "nil";
    if (v.is_object() && v.contains("width"))
        return "picture " + v["width"].dump() + " &times; " + v["height"].dump();
    if (v.is_object() && v.contains("size")) return "MemoryBlock of " + v["size"].dump() + " bytes";
    if (v.is_string()) return html(v.get<std::string>());
    return html(v.dump());
}

std::string imageFigure(const std::string& src, const std::string& caption, bool wide) {
    return "<figure><img class=\"" + std::string(wide ? "wide" : "pic") + "\" src=\"" + html(src) +
           "\" alt=\"" + html(caption) + "\"><figcaption>" + html(caption) +
           "</figcaption></figure>";
}

bool isPictureFile(const std::string& name) {
    return fs::path(name).extension() == ".png";
}

std::string fileSize(const fs::path& path) {
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    return ec ? "?" : std::to_string(size);
}

// What an entry read: pictures shown, other files linked.
std::string sourcesHtml(const Entry& e, const Folders& f) {
    std::vector<std::string> refs;
    if (!e.on.empty()) refs.push_back(e.on);
    for (const std::string& r : callRefs(e.call))
        refs.push_back(r);
    for (const std::string& a : e.args)
        if (isRef(a) && a != "{o}/" + e.output) refs.push_back(a);
    std::string out;
    for (const std::string& r : refs) {
        const std::string name = fs::path(r).filename().string();
        const std::string link = f.pageLink(r);
        if (isPictureFile(name)) {
            out += imageFigure(link, name, false);
        } else if (fs::path(name).extension() == ".wav") {
            out += "<figure><audio controls src=\"" + html(link) + "\"></audio><figcaption>" +
                   html(name) + "</figcaption></figure>";
        } else {
            out += "<figure><a href=\"" + html(link) + "\">" + html(name) + "</a><figcaption>" +
                   fileSize(f.resolve(r)) + " bytes</figcaption></figure>";
        }
    }
    return out;
}

std::string answersHtml(const Entry& e, const Outcome& o, const Folders& f) {
    std::string dl;
    auto row = [&](const std::string& name, const std::string& value) {
        dl += "<dt>" + html(name) + "</dt><dd>" + value + "</dd>";
    };
    const json& a = o.answer;
    if (e.command == "call" && a.is_object()) {
        const json result = a.contains("result") ? a["result"] : json();
        if (result.is_string() && !e.output.empty())
            row("result",
                "string of " + fileSize(f.out / e.output) + " bytes, written to " + html(e.output));
        // A picture result is on show already, and a method without a result answers null.
        else if (!result.is_null() && !(result.is_object() && result.contains("width")))
            row("result", scalarText(result));
        std::vector<std::pair<std::string, json>> counters;
        const json byref = a.contains("byref") ? a["byref"] : json::object();
        for (auto it = byref.begin(); byref.is_object() && it != byref.end(); ++it) {
            const std::string& name = it.key();
            const json& value = it.value();
            if (isCounterList(value))
                counters.emplace_back(name, value);
            else
                row(name, scalarText(value));
        }
        if (!counters.empty()) row("histograms", counterPlot(counters));
    } else if (e.command == "histogram" && a.is_object()) {
        row("pixels", scalarText(a.contains("pixels") ? a["pixels"] : json()));
        std::vector<std::pair<std::string, json>> counters;
        for (const char* name : {"red", "green", "blue"})
            if (a.contains(name) && isCounterList(a[name])) counters.emplace_back(name, a[name]);
        if (!counters.empty()) row("histograms", counterPlot(counters));
    }
    return dl.empty() ? "" : "<dl class=\"answers\">" + dl + "</dl>";
}

std::string entryHtml(const Entry& e, const std::vector<std::string>& shows, const Outcome& o,
                      const std::string& commandText, const Folders& f, size_t index) {
    const bool ok = o.code == kExitOk;
    std::string s = "<article class=\"entry\" id=\"e" + std::to_string(index) + "\" data-ok=\"" +
                    (ok ? "true" : "false") + "\"><h3>" + html(e.caption) + "</h3>";
    s += "<ul class=\"decls\">";
    for (const std::string& d : shows)
        s += "<li data-declaration=\"" + html(d) + "\"><code>" + html(d) + "</code></li>";
    s += "</ul><div class=\"pics\">" + sourcesHtml(e, f);
    if (ok && !e.output.empty()) {
        s += "<span class=\"arrow\">&rarr;</span>";
        if (isPictureFile(e.output))
            s += imageFigure(e.output, e.output, e.command != "call");
        else
            s += "<figure><a href=\"" + html(e.output) + "\">" + html(e.output) +
                 "</a><figcaption>" + fileSize(f.out / e.output) + " bytes</figcaption></figure>";
    }
    s += "</div>";
    if (ok)
        s += answersHtml(e, o, f);
    else
        s += "<pre class=\"error\">exit code " + std::to_string(o.code) + "\n" + html(o.err) +
             "</pre>";
    s += "<pre class=\"cmd\"><code>" + html(commandText) + "</code></pre></article>\n";
    return s;
}

std::string familyId(const std::string& family) {
    std::string id = family;
    std::replace(id.begin(), id.end(), ' ', '-');
    return id;
}

fs::path defaultSamples() {
    if (fs::exists("samples/sample.png")) return "samples";
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const fs::path beside = exe.parent_path().parent_path() / "samples";
        if (fs::exists(beside / "sample.png")) return beside;
    }
    return "samples";
}

} // namespace

CLI::App* addDemoCommand(CLI::App& app, Context& ctx, DemoOptions& opts) {
    (void)ctx;
    CLI::App* cmd = app.add_subcommand(
        "demo", "Run every registered method and both filter classes on the bundled samples and "
                "write a gallery page, DIR/index.html, with each result beside its source");
    cmd->add_option("--out", opts.out, "Folder for the page and the result pictures")
        ->capture_default_str();
    cmd->add_option("--samples", opts.samples,
                    "Folder of the bundled samples (sample.png, sample.wav, ...); default: "
                    "samples/ here, else the samples/ folder above qrx's own folder");
    cmd->footer("Every call on the page is shown as the qrx command line that makes it.\n"
                "Exit codes: 0 every run succeeded and every registered method is shown; 1 a run\n"
                "failed or a registered method has no entry in the gallery (both are named on the\n"
                "page and here); 2 bad usage, missing samples, unwritable folder.\n"
                "Example (then open gallery/index.html in a browser):\n"
                "  qrx demo --out gallery");
    return cmd;
}

int runDemo(Context& ctx, const DemoOptions& opts) {
    Folders f{opts.samples.empty() ? defaultSamples() : fs::path(opts.samples), opts.out};
    for (const std::string& name : demo::sampleFiles())
        if (!fs::exists(f.samples / name))
            throw UsageError("--samples: " + (f.samples / name).string() +
                             " is missing; run qrx demo from the repository's top folder or "
                             "give --samples DIR");
    std::error_code ec;
    fs::create_directories(f.out / "inputs", ec);
    if (ec)
        throw UsageError("--out: cannot create " + (f.out / "inputs").string() + ": " +
                         ec.message());
    for (const std::string& name : demo::sampleFiles()) {
        fs::copy_file(f.samples / name, f.out / "inputs" / name,
                      fs::copy_options::overwrite_existing, ec);
        if (ec) throw UsageError("--out: cannot copy " + name + ": " + ec.message());
    }

    const std::unique_ptr<Host> host = loadHost(ctx.host);
    const auto& list = demo::entries();
    const demo::Coverage cov = demo::coverage(*host, list);

    std::vector<std::string> globals;
    if (!ctx.host.plugin.empty()) globals = {"--plugin", ctx.host.plugin};
    std::string prefix = demo::shellWord(programName());
    for (const std::string& g : globals)
        prefix += " " + demo::shellWord(g);

    std::vector<std::string> cards(demo::families().size());
    int failed = 0;
    for (size_t i = 0; i < list.size(); ++i) {
        const Entry& e = list[i];
        const std::vector<std::string> argv = commandLine(e, f);
        std::string text = prefix;
        for (const std::string& a : argv)
            text += " " + demo::shellWord(a);
        const Outcome o = runEntry(globals, argv);
        if (o.code != kExitOk) {
            ++failed;
            ctx.err << "qrx demo: failed (exit " << o.code << "): " << text << "\n" << o.err;
        }
        const auto fam = std::find(demo::families().begin(), demo::families().end(), e.family);
        cards[size_t(fam - demo::families().begin()) % cards.size()] +=
            entryHtml(e, cov.perEntry[i], o, text, f, i);
    }

    std::string page = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                       "<title>qrx gallery</title><style>" +
                       std::string(kStyle) + "</style></head><body>\n<h1>qrx gallery</h1>\n";
    page += "<p>Every method the plugin registers, run by qrx on the bundled samples. Each "
            "result stands beside its source, with the command line that makes it (run from "
            "the folder qrx demo was run in).</p>\n<p id=\"image-summary\">pictures not yet "
            "checked</p>\n<nav>";
    for (const std::string& fam : demo::families())
        page += "<a href=\"#" + familyId(fam) + "\">" + html(fam) + "</a>";
    page += "</nav>\n";
    if (!cov.missing.empty() || !cov.problems.empty()) {
        page += "<section id=\"missing\"><h2>Not shown</h2><ul>";
        for (const std::string& m : cov.missing)
            page += "<li data-missing=\"" + html(m) +
                    "\">registered, but no gallery entry: <code>" + html(m) + "</code></li>";
        for (const std::string& p : cov.problems)
            page += "<li data-problem=\"" + html(p) + "\">" + html(p) + "</li>";
        page += "</ul></section>\n";
    }
    for (size_t k = 0; k < cards.size(); ++k)
        page += "<h2 id=\"" + familyId(demo::families()[k]) + "\">" + html(demo::families()[k]) +
                "</h2>\n<div class=\"family\">\n" + cards[k] + "</div>\n";
    page += "<script>" + std::string(kScript) + "</script>\n</body></html>\n";

    const fs::path index = f.out / "index.html";
    try {
        writeFileAtomically(index, page.data(), page.size());
    } catch (const ImageFileError& e) {
        throw UsageError(std::string("--out: ") + e.what());
    }

    for (const std::string& m : cov.missing)
        ctx.err << "qrx demo: registered but shown by no gallery entry: " << m << "\n";
    for (const std::string& p : cov.problems)
        ctx.err << "qrx demo: gallery entry names nothing registered: " << p << "\n";
    ctx.out << "wrote " << index.string() << ": " << list.size() << " runs, " << failed
            << " failed\n";
    return failed || !cov.missing.empty() || !cov.problems.empty() ? kExitCallFailed : kExitOk;
}

} // namespace qrx::cli
