// Loading the plugin: silence when registration services are missing, plugin state of its own for
// each host, and clear errors for a missing file or entry point.
#include <gtest/gtest.h>


#include "qrx/host.h"
#include "support.h"

namespace {

const qrx::ClassInfo& pictureClass(const qrx::Host& host) {
    const qrx::ClassInfo* cls = host.findClass("Picture");
    EXPECT_NE(cls, nullptr);
    return *cls;
}

TEST(Registration, MissingRegistrationServiceIsSilent) {
    for (const char* name :
         {"PluginRegisterClassExtension", "PluginRegisterMethod", "PluginRegisterClass"}) {
        qrx::HostConfig config;
        config.withheld = {name};
        std::unique_ptr<qrx::Host> host;
        ASSERT_NO_THROW(host = qrxtest::loadHost(config)) << name;
        bool extended = !pictureClass(*host).extensions.empty();
        EXPECT_EQ(extended, std::string(name) != "PluginRegisterClassExtension") << name;
        qrxtest::expectQuiet(*host);
    }
}

TEST(Registration, EachHostHasItsOwnPluginState) {
    // An older host first, then a newer one: the second must see its own version, not the
    // first host's cached state.
    qrx::HostConfig old;
    old.version = 2010.0;
    auto a = qrxtest::loadHost(old);
    auto b = qrxtest::loadHost();
    auto flagsOf = [](const qrx::Host& h) {
        for (const qrx::MethodInfo& m : pictureClass(h).extensions)
            if (m.decl.name == "InvertQRX") return m.flags;
        return 0xFFFFFFFFu;
    };
    EXPECT_EQ(flagsOf(*a), 0u);
    EXPECT_EQ(flagsOf(*b), 4u);
}

TEST(Registration, MissingPluginFileOrEntryPointIsAClearError) {
    try {
        qrx::Host host({}, "/nonexistent/libnothing.so");
        FAIL() << "loading a missing file must fail";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("/nonexistent/libnothing.so"), std::string::npos)
            << e.what();
    }
    // A real library without the entry point: the C library itself.
    try {
        qrx::Host host({}, "/lib/x86_64-linux-gnu/libm.so.6");
        FAIL() << "a library without REALPluginMain must be refused";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("REALPluginMain"), std::string::npos) << e.what();
    }
}

} // namespace
