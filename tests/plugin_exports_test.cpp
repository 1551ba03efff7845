// The plugin module exports exactly one dynamic symbol: REALPluginMain.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <memory>
#include <set>
#include <string>

namespace {

std::set<std::string> definedDynamicSymbols(const std::string& path) {
    std::string cmd = "nm -D --defined-only '" + path + "' 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(cmd.c_str(), "r"), pclose);
    std::set<std::string> names;
    if (!pipe) return names;
    std::array<char, 512> line{};
    while (fgets(line.data(), line.size(), pipe.get())) {
        std::string s(line.data());
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
        auto pos = s.find_last_of(' ');
        if (pos == std::string::npos) continue;
        char kind = pos >= 1 ? s[pos - 1] : '?';
        // Only code and data count; absolute version-node markers (A) do not.
        if (kind == 'A') continue;
        names.insert(s.substr(pos + 1));
    }
    return names;
}

TEST(PluginExports, OnlyTheEntryPointIsExported) {
    auto names = definedDynamicSymbols(QRX_TEST_PLUGIN);
    EXPECT_EQ(names, std::set<std::string>{"REALPluginMain"});
}

} // namespace
