// The registered surface against its snapshot, tests/data/surface.json: `qrx list --json` on a
// host on each side of the console flags (regenerate it with scripts/update-surface and review the
// difference). Also: plugin state of its own per host, the module's exports, and load errors.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>

#include "qrx/host.h"
#include "support.h"

namespace {

using nlohmann::json;

const json& snapshot() {
    static const json doc = json::parse(std::ifstream(QRX_SOURCE_DIR "/tests/data/surface.json"));
    return doc;
}

struct SurfaceCase {
    const char* kind;
    const char* version;
    const char* snapshotKey; // the snapshot the host must register exactly
};

// Console flags from 2010.029 on; a host that tells no version gets none. The host kind does not
// change the surface.
const SurfaceCase kSurfaceCases[] = {
    {"desktop", "2019.1", "2010.029"},   {"desktop", "2010.029", "2010.029"},
    {"console", "2010.029", "2010.029"}, {"web", "2010.0289", "2010.028"},
    {"desktop", "2010.028", "2010.028"}, {"desktop", "none", "2010.028"},
};

TEST(Surface, EveryHostRegistersItsSnapshot) {
    ASSERT_EQ(snapshot().size(), 2u);
    for (const SurfaceCase& c : kSurfaceCases) {
        const std::string out =
            qrxtest::commandOutput(std::string(QRX_TEST_CLI) + " list --json --host " + c.kind +
                                   " --host-version " + c.version);
        const json got = json::parse(out, nullptr, false);
        const json& want = snapshot().at(c.snapshotKey);
        EXPECT_TRUE(got == want) << c.kind << " " << c.version << ": differences from snapshot "
                                 << c.snapshotKey << ": " << json::diff(want, got).dump(1);
    }
}

// Defined dynamic symbols of code and data (absolute version-node markers left out).
std::set<std::string> exportsOf(const std::string& path) {
    std::istringstream lines(qrxtest::commandOutput("nm -D --defined-only '" + path + "'"));
    std::set<std::string> names;
    for (std::string addr, kind, name; lines >> addr >> kind >> name;)
        if (kind != "A") names.insert(name);
    return names;
}

TEST(Surface, TheModuleExportsOnlyItsEntryPoint) {
    EXPECT_EQ(exportsOf(QRX_TEST_PLUGIN), std::set<std::string>{"REALPluginMain"});
    // The test copy adds its switches, and nothing else.
    EXPECT_EQ(exportsOf(QRX_TEST_PLUGIN_TESTABLE),
              (std::set<std::string>{"REALPluginMain", "QRXFailAllocation", "QRXAllocationsAsked",
                                     "QRXUseLoops"}));
}

} // namespace
