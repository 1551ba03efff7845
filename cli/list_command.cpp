// qrx list: the classes, properties, methods and global methods the plugin registered.
#include <cstdio>
#include <ostream>
#include <set>

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
    cmd->add_flag("--json", opts.json, "Print one JSON object instead of text");
    cmd->footer("Flags are shown as the host received them, so they depend on --host-version.\n"
                "Example:\n"
                "  qrx list --json");
    return cmd;
}

int runList(Context& ctx, const ListOptions& opts) {
    std::unique_ptr<Host> host = loadHost(ctx.host);
    auto parts = sections(*host);
    if (opts.json) {
        json classes = json::array();
        for (const Section& s : parts) {
            if (!s.cls) continue;
            json props = json::array(), methods = json::array(), extensions = json::array();
            for (const PropertyInfo& p : s.cls->properties)
                if (!s.cls->builtIn) props.push_back(propertyJson(p));
            for (const MethodInfo& m : s.cls->methods)
                if (!m.builtIn) methods.push_back(methodJson(m));
            for (const MethodInfo& m : s.cls->extensions)
                extensions.push_back(methodJson(m));
            classes.push_back({{"name", s.cls->name},
                               {"builtIn", s.cls->builtIn},
                               {"dataSize", s.cls->dataSize},
                               {"flags", s.cls->flags},
                               {"properties", props},
                               {"methods", methods},
                               {"extensions", extensions}});
        }
        json globals = json::array();
        for (const MethodInfo& m : host->globalMethods())
            globals.push_back(methodJson(m));
        json doc = {{"pluginVersion", host->pluginVersion()},
                    {"classes", classes},
                    {"globalMethods", globals}};
        ctx.out << doc.dump(2) << "\n";
        return kExitOk;
    }
    ctx.out << "plugin interface version " << host->pluginVersion() << "\n";
    for (const Section& s : parts) {
        if (!s.cls) {
            ctx.out << "\nglobal methods\n";
            for (const MethodInfo& m : host->globalMethods())
                ctx.out << methodLine(m) << "\n";
            continue;
        }
        const ClassInfo& c = *s.cls;
        if (c.builtIn) {
            ctx.out << "\nextension " << c.name << " (built-in class)\n";
        } else {
            ctx.out << "\nclass " << c.name << "  instance data " << c.dataSize << " bytes  flags "
                    << hex(c.flags) << "\n";
            for (const PropertyInfo& p : c.properties)
                ctx.out << propertyLine(p) << "\n";
            for (const MethodInfo& m : c.methods)
                if (!m.builtIn) ctx.out << methodLine(m) << "\n";
            if (!c.extensions.empty()) ctx.out << "  extension methods\n";
        }
        for (const MethodInfo& m : c.extensions)
            ctx.out << methodLine(m) << "\n";
    }
    return kExitOk;
}

} // namespace qrx::cli
