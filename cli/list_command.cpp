// qrx list: the classes, properties, methods and global methods the plugin registered.
#include <cctype>
#include <cstdio>
#include <optional>
#include <ostream>
#include <set>
#include <string_view>

#include <nlohmann/json.hpp>

#include "commands.h"
#include "errors.h"

namespace qrx::cli {

namespace {

using nlohmann::json;

std::string hex(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", unsigned(v));
    return buf;
}

json methodJson(const MethodInfo& m) {
    return {{"declaration", m.decl.text}, {"flags", m.flags}, {"assignable", m.setter != nullptr}};
}

json propertyJson(const PropertyInfo& p) {
    json j = {{"name", p.name}, {"type", p.type.name}, {"flags", p.flags}};
    if (p.direct()) {
        j["access"] = "direct";
        j["offset"] = p.offset;
    } else {
        j["access"] = "accessors";
        j["getter"] = p.getter != nullptr;
        j["setter"] = p.setter != nullptr;
    }
    return j;
}

std::string methodLine(const MethodInfo& m) {
    return "  method " + m.decl.text + "  flags " + hex(m.flags) + (m.setter ? "  assignable" : "");
}

std::string propertyLine(const PropertyInfo& p) {
    std::string access;
    if (p.direct()) {
        access = "direct, offset " + std::to_string(p.offset);
    } else {
        access = p.getter ? "getter" : "no getter";
        access += p.setter ? ", setter" : ", no setter";
    }
    return "  property " + p.name + " as " + p.type.name + "  flags " + hex(p.flags) + "  " +
           access;
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// What a search keeps: a class whose name holds the word whole, otherwise the properties (by name
// and type) and methods (by declaration, which holds the name) that hold it. Without a word,
// everything.
class Filter {
  public:
    explicit Filter(const std::optional<std::string>& word) : key_(word ? lower(*word) : "") {}
    bool holds(std::string_view text) const { return lower(text).find(key_) != std::string::npos; }
    bool keepsWhole(const ClassInfo& c) const { return holds(c.name); }
    bool keeps(const PropertyInfo& p) const { return holds(p.name + " as " + p.type.name); }
    bool keeps(const MethodInfo& m) const { return holds(m.decl.text); }

  private:
    std::string key_;
};

// The classes to show, in registration order: plugin classes and the built-in classes that
// plugin extensions added methods to, each once, and where the global methods first appeared.
struct Section {
    const ClassInfo* cls = nullptr; // null: the global methods
    bool extension = false;
};

std::vector<Section> sections(const Host& host) {
    std::vector<Section> out;
    std::set<const ClassInfo*> seen;
    bool globalsSeen = false;
    for (const std::string& entry : host.registrationLog()) {
        auto sp = entry.find(' ');
        std::string what = entry.substr(0, sp);
        std::string name = sp == std::string::npos ? "" : entry.substr(sp + 1);
        if (what == "class" || what == "extension") {
            const ClassInfo* cls = host.findClass(name);
            if (cls && seen.insert(cls).second) out.push_back({cls, what == "extension"});
        } else if (what == "method" && !globalsSeen) {
            globalsSeen = true;
            out.push_back({nullptr, false});
        }
    }
    // Anything the log did not name (a class registered without a log entry).
    for (const auto& cls : host.classes())
        if ((!cls->builtIn || !cls->extensions.empty()) && seen.insert(cls.get()).second)
            out.push_back({cls.get(), cls->builtIn});
    if (!globalsSeen && !host.globalMethods().empty()) out.push_back({nullptr, false});
    return out;
}

} // namespace

CLI::App* addListCommand(CLI::App& app, Context& ctx, ListOptions& opts) {
    CLI::App* cmd = app.add_subcommand(
        "list", "List every class the plugin registered (with its properties, methods and class "
                "extensions) and every global method, with declarations and flags exactly as the "
                "host received them, in registration order");
    addHostOptions(*cmd, ctx.host);
    cmd->add_option("WORD", opts.word,
                    "List only what holds WORD (any case): a class whose name holds it whole, "
                    "otherwise the properties, methods and global methods whose name, type or "
                    "declaration holds it");
    cmd->add_flag("--json", opts.json, "Print one JSON object instead of text");
    cmd->footer("Flags are shown as the host received them, so they depend on --host-version.\n"
                "A WORD that nothing holds is an error (exit code 2).\n"
                "Examples:\n"
                "  qrx list --json\n"
                "  qrx list Contrast\n"
                "  qrx list 'as Picture' --json");
    return cmd;
}

int runList(Context& ctx, const ListOptions& opts) {
    std::unique_ptr<Host> host = loadHost(ctx.host);
    const Filter filter(opts.word);
    // The parts of each section the filter keeps; a section with nothing kept is left out.
    struct Kept {
        const ClassInfo* cls = nullptr;
        std::vector<const PropertyInfo*> properties;
        std::vector<const MethodInfo*> methods, extensions;
    };
    std::vector<Kept> kept;
    for (const Section& s : sections(*host)) {
        Kept k;
        k.cls = s.cls;
        if (!s.cls) {
            for (const MethodInfo& m : host->globalMethods())
                if (filter.keeps(m)) k.methods.push_back(&m);
            if (!k.methods.empty()) kept.push_back(std::move(k));
            continue;
        }
        const ClassInfo& c = *s.cls;
        const bool whole = filter.keepsWhole(c);
        if (!c.builtIn) {
            for (const PropertyInfo& p : c.properties)
                if (whole || filter.keeps(p)) k.properties.push_back(&p);
            for (const MethodInfo& m : c.methods)
                if (!m.builtIn && (whole || filter.keeps(m))) k.methods.push_back(&m);
        }
        for (const MethodInfo& m : c.extensions)
            if (whole || filter.keeps(m)) k.extensions.push_back(&m);
        if (whole || !k.properties.empty() || !k.methods.empty() || !k.extensions.empty())
            kept.push_back(std::move(k));
    }
    if (opts.word && kept.empty())
        throw UsageError("nothing registered holds '" + *opts.word +
                         "' in its name or declaration; 'qrx list' shows everything");

    if (opts.json) {
        json classes = json::array();
        json globals = json::array();
        for (const Kept& k : kept) {
            if (!k.cls) {
                for (const MethodInfo* m : k.methods)
                    globals.push_back(methodJson(*m));
                continue;
            }
            json props = json::array(), methods = json::array(), extensions = json::array();
            for (const PropertyInfo* p : k.properties)
                props.push_back(propertyJson(*p));
            for (const MethodInfo* m : k.methods)
                methods.push_back(methodJson(*m));
            for (const MethodInfo* m : k.extensions)
                extensions.push_back(methodJson(*m));
            classes.push_back({{"name", k.cls->name},
                               {"builtIn", k.cls->builtIn},
                               {"dataSize", k.cls->dataSize},
                               {"flags", k.cls->flags},
                               {"properties", props},
                               {"methods", methods},
                               {"extensions", extensions}});
        }
        json doc = {{"pluginVersion", host->pluginVersion()},
                    {"classes", classes},
                    {"globalMethods", globals}};
        if (opts.word) doc["search"] = *opts.word;
        ctx.out << doc.dump(2) << "\n";
        return kExitOk;
    }
    ctx.out << "plugin interface version " << host->pluginVersion() << "\n";
    for (const Kept& k : kept) {
        if (!k.cls) {
            ctx.out << "\nglobal methods\n";
            for (const MethodInfo* m : k.methods)
                ctx.out << methodLine(*m) << "\n";
            continue;
        }
        const ClassInfo& c = *k.cls;
        if (c.builtIn) {
            ctx.out << "\nextension " << c.name << " (built-in class)\n";
        } else {
            ctx.out << "\nclass " << c.name << "  instance data " << c.dataSize << " bytes  flags "
                    << hex(c.flags) << "\n";
            for (const PropertyInfo* p : k.properties)
                ctx.out << propertyLine(*p) << "\n";
            for (const MethodInfo* m : k.methods)
                ctx.out << methodLine(*m) << "\n";
            if (!k.extensions.empty()) ctx.out << "  extension methods\n";
        }
        for (const MethodInfo* m : k.extensions)
            ctx.out << methodLine(*m) << "\n";
    }
    return kExitOk;
}

} // namespace qrx::cli
