// What the plugin registers, as the host receives it: flags translated for the host version,
// declarations exactly as written, registration order, and silence when registration services
// are missing.
#include <gtest/gtest.h>

#include <algorithm>

#include "qrx/host.h"
#include "support.h"

namespace {

const char* const kInvertDeclarations[] = {
    "InvertQRX(left as integer,top as integer,width as integer,height as integer) as picture",
    "InvertQRX as picture",
    "InvertGrayQRX(left as integer,top as integer,width as integer,height as integer) as picture",
    "InvertGrayQRX as picture",
};

const qrx::ClassInfo& pictureClass(const qrx::Host& host) {
    const qrx::ClassInfo* cls = host.findClass("Picture");
    EXPECT_NE(cls, nullptr);
    return *cls;
}

struct FlagCase {
    std::optional<double> version;
    uint32_t expectedFlags; // of a method marked console-safe
};

class ConsoleFlags : public testing::TestWithParam<FlagCase> {};

TEST_P(ConsoleFlags, MarkersBecomeHostFlagsFrom2010029) {
    qrx::HostConfig config;
    config.version = GetParam().version;
    auto host = qrxtest::loadHost(config);
    const auto& ext = pictureClass(*host).extensions;
    ASSERT_GE(ext.size(), std::size(kInvertDeclarations));
    for (const qrx::MethodInfo& m : ext) {
        if (m.decl.name.rfind("Invert", 0) != 0) continue;
        EXPECT_EQ(m.flags, GetParam().expectedFlags) << m.decl.text;
    }
}

INSTANTIATE_TEST_SUITE_P(Versions, ConsoleFlags,
                         testing::Values(FlagCase{2010.028, 0}, FlagCase{2010.029, 4},
                                         FlagCase{2019.1, 4}, FlagCase{std::nullopt, 0}));

TEST(Registration, DeclarationsArriveExactlyAsWrittenInOrder) {
    auto host = qrxtest::loadHost();
    std::vector<std::string> got;
    for (const qrx::MethodInfo& m : pictureClass(*host).extensions)
        if (m.decl.name.rfind("Invert", 0) == 0) got.push_back(m.decl.text);
    EXPECT_EQ(got, std::vector<std::string>(std::begin(kInvertDeclarations),
                                            std::end(kInvertDeclarations)));
}

TEST(Registration, MissingRegistrationServiceIsSilent) {
    for (const char* name : {"PluginRegisterClassExtension", "PluginRegisterMethod",
                             "PluginRegisterClass"}) {
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
