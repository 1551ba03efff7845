#include "help_format.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <regex>
#include <sstream>
#include <vector>

namespace qrx::cli {

namespace {

// Column where option and command descriptions start.
constexpr size_t kNameColumn = 30;

// Footer text broken anew to the width. A line that starts with a blank (an example, a row of a
// table) stays as it is. Other lines run on into the next one, unless that one starts with a
// blank or a heading ("Exit codes:"), or they end a sentence or a heading themselves.
std::string reflow(const std::string& text, size_t width) {
    static const std::regex heading(R"(^[A-Z][A-Za-z0-9 '-]{0,30}:(\s|$))");
    std::string out, paragraph;
    auto flush = [&] {
        if (!paragraph.empty()) out += wrapText(paragraph, width) + "\n";
        paragraph.clear();
    };
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == ' ') {
            flush();
            out += line + "\n";
            continue;
        }
        if (std::regex_search(line, heading)) flush();
        paragraph += (paragraph.empty() ? "" : " ") + line;
        if (line.back() == '.' || line.back() == ':') flush();
    }
    flush();
    return out;
}

// CLI11's help, with its descriptions wrapped to the help width and the host options last.
class QrxFormatter : public CLI::Formatter {
  public:
    QrxFormatter() {
        column_width(kNameColumn);
        label("SUBCOMMAND", "COMMAND");
    }

    std::string make_option(const CLI::Option* opt, bool positional) const override {
        return entry(make_option_name(opt, positional) + make_option_opts(opt),
                     make_option_desc(opt));
    }

    std::string make_subcommand(const CLI::App* sub) const override {
        return entry(sub->get_display_name(true), sub->get_description());
    }

    std::string make_description(const CLI::App* app) const override {
        std::string text = CLI::Formatter::make_description(app);
        return text.empty() ? text : wrapText(text, kHelpWidth);
    }

    std::string make_footer(const CLI::App* app) const override {
        const std::string footer = app->get_footer();
        return footer.empty() ? footer : reflow(footer, kHelpWidth);
    }

    std::string make_usage(const CLI::App* app, std::string name) const override {
        return wrapText(CLI::Formatter::make_usage(app, std::move(name)), kHelpWidth, 4);
    }

    // CLI11's own layout, with the option groups in qrx's order.
    std::string make_help(const CLI::App* app, std::string name,
                          CLI::AppFormatMode mode) const override {
        if (mode == CLI::AppFormatMode::Sub) return make_expanded(app);
        return make_description(app) + make_usage(app, std::move(name)) + make_positionals(app) +
               groups(app, mode) + make_subcommands(app, mode) + "\n" + make_footer(app);
    }

  private:
    // The option groups in the order their first options were added, except that the host
    // options come last.
    std::string groups(const CLI::App* app, CLI::AppFormatMode mode) const {
        std::vector<std::string> groups = app->get_groups();
        std::stable_partition(groups.begin(), groups.end(),
                              [](const std::string& g) { return g != kHostOptionsGroup; });
        std::string out;
        for (const std::string& group : groups) {
            auto opts = app->get_options([&](const CLI::Option* opt) {
                return opt->get_group() == group && opt->nonpositional() &&
                       (mode != CLI::AppFormatMode::Sub ||
                        (opt != app->get_help_ptr() && opt != app->get_help_all_ptr()));
            });
            if (!group.empty() && !opts.empty()) out += make_group(group, false, opts);
        }
        return out;
    }

    // "  NAME  description", the description wrapped in its column; a name that reaches the
    // column puts the description on the lines below it.
    static std::string entry(const std::string& name, const std::string& description) {
        std::string out = "  " + name;
        if (description.empty()) return out + "\n";
        if (out.size() >= kNameColumn)
            out += "\n" + std::string(kNameColumn, ' ');
        else
            out += std::string(kNameColumn - out.size(), ' ');
        const std::string body = wrapText(description, kHelpWidth - kNameColumn);
        for (char c : body) {
            out += c;
            if (c == '\n') out += std::string(kNameColumn, ' ');
        }
        return out + "\n";
    }
};

std::string lowerFirst(std::string s) {
    // "Value 0 not in range" reads as part of a sentence; "CALL is required" keeps its name.
    if (s.size() >= 2 && std::isupper(static_cast<unsigned char>(s[0])) &&
        std::islower(static_cast<unsigned char>(s[1])))
        s[0] = char(std::tolower(static_cast<unsigned char>(s[0])));
    return s;
}

} // namespace

std::string wrapText(const std::string& text, size_t width, size_t indent) {
    std::string out;
    std::istringstream lines(text);
    std::string line;
    bool firstLine = true;
    while (std::getline(lines, line)) {
        if (!firstLine) out += "\n";
        // Leading blanks of a line given in the text stay (indented examples).
        const size_t lead = line.find_first_not_of(' ');
        std::string current = lead == std::string::npos ? line : line.substr(0, lead);
        size_t words = 0;
        std::istringstream in(lead == std::string::npos ? "" : line.substr(lead));
        std::string word;
        while (in >> word) {
            if (words > 0 && current.size() + 1 + word.size() > width) {
                out += current + "\n";
                current = std::string(indent, ' ') + word;
            } else {
                current += (words > 0 ? " " : "") + word;
            }
            ++words;
        }
        out += current;
        firstLine = false;
    }
    if (!text.empty() && text.back() == '\n') out += "\n";
    return out;
}

void useQrxHelp(CLI::App& app) {
    app.formatter(std::make_shared<QrxFormatter>());
}

std::string parseErrorMessage(const CLI::App& app, const CLI::ParseError& e) {
    // The innermost command the parser had entered.
    const CLI::App* cmd = &app;
    std::string path = app.get_name();
    for (bool deeper = true; deeper;) {
        deeper = false;
        for (const CLI::App* sub : cmd->get_subcommands({})) {
            if (sub->parsed()) {
                cmd = sub;
                path += " " + sub->get_name();
                deeper = true;
                break;
            }
        }
    }
    const std::string help = "; see " + path + " --help";
    if (cmd == &app && e.get_name() == "RequiredError") {
        const std::vector<std::string> rest = app.remaining();
        if (!rest.empty() && !rest.front().empty() && rest.front()[0] != '-')
            return "qrx: unknown command '" + rest.front() + "'" + help;
        if (!rest.empty()) return "qrx: unknown option '" + rest.front() + "'" + help;
        std::string names;
        const auto subs = app.get_subcommands({});
        for (size_t i = 0; i < subs.size(); ++i)
            names += (i == 0 ? "" : i + 1 == subs.size() ? " or " : ", ") + subs[i]->get_name();
        return "qrx: give a command: " + names + help;
    }
    // "--quality: Value 0 not in range ..." reads "--quality: value 0 not in range ...".
    std::string what = e.what();
    const size_t colon = what.find(": ");
    if (!what.empty() && what[0] == '-' && colon != std::string::npos)
        what = what.substr(0, colon + 2) + lowerFirst(what.substr(colon + 2));
    return "qrx: " + lowerFirst(what) + help;
}

} // namespace qrx::cli
