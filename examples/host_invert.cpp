// Hosts the qrx plugin through the runtime library: loads the plugin, makes a picture, inverts it
// with "InvertQRX", measures how colourful both pictures are with "ColornessQRX", and checks after
// each call that the plugin left no reference, lock or string behind.
//
//   host_invert [PLUGIN]
//
// PLUGIN is the plugin library; built with QRX_PLUGIN_PATH defined (as the CMake project here
// does) it defaults to that one. Prints what it found and exits 0 when every answer is the
// expected one, 1 when one is not, 2 on bad usage.
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>
#include <variant>
#include <vector>

#include "qrx/host.h"

namespace {

constexpr int kWidth = 64;
constexpr int kHeight = 48;

struct Check {
    bool ok = true;
    void expect(bool condition, const std::string& what) {
        if (!condition) {
            std::cerr << "host_invert: " << what << '\n';
            ok = false;
        }
    }
};

// Calls a Picture method and checks the host's audit around it: `created` new objects, each with
// the one reference the result holds, no description lock held, no string data outstanding and no
// violation.
qrx::CallResult auditedCall(qrx::Host& host, const qrx::Ref& picture, const std::string& name,
                            std::vector<qrx::Value> args, long created, Check& check) {
    qrx::Audit before = host.audit();
    qrx::CallResult r = host.call(picture, name, std::move(args));
    qrx::Audit after = host.audit();
    check.expect(
        !r.exception,
        name + " raised " +
            (r.exception ? r.exception->className + ": " + r.exception->message : std::string()));
    check.expect(long(after.liveObjects) == long(before.liveObjects) + created,
                 name + " left objects behind");
    check.expect(after.references == before.references + created, name + " left references behind");
    check.expect(after.descriptionLocks == 0, name + " kept a description lock");
    check.expect(after.stringData == 0, name + " kept string data");
    for (const std::string& v : after.violations)
        check.expect(false, name + ": host violation: " + v);
    std::cout << name << ": audit clean: "
              << (after.descriptionLocks == 0 && after.stringData == 0 && after.violations.empty()
                      ? "yes"
                      : "no")
              << '\n';
    return r;
}

void printPixel(const qrx::Picture& p, int x, int y) {
    uint8_t px[4];
    p.rgba(x, y, px);
    std::cout << "  pixel (" << x << ", " << y << "): " << int(px[0]) << ' ' << int(px[1]) << ' '
              << int(px[2]) << '\n';
}

bool pixelIs(const qrx::Picture& p, int x, int y, int r, int g, int b) {
    uint8_t px[4];
    p.rgba(x, y, px);
    return px[0] == r && px[1] == g && px[2] == b;
}

} // namespace

int main(int argc, char** argv) try {
#ifdef QRX_PLUGIN_PATH
    std::string plugin = argc > 1 ? argv[1] : QRX_PLUGIN_PATH;
#else
    if (argc < 2) {
        std::cerr << "usage: host_invert PLUGIN\n";
        return 2;
    }
    std::string plugin = argv[1];
#endif

    // A desktop host of the default version, with its own copy of the plugin loaded.
    qrx::Host host(qrx::HostConfig{}, plugin);
    std::cout << "loaded " << plugin << " (plugin interface version " << host.pluginVersion()
              << ")\n";

    // The left half red, the right half mid-gray.
    qrx::Ref source = host.newPicture(kWidth, kHeight, false);
    auto* pixels = source.as<qrx::Picture>();
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const uint8_t red[4] = {200, 40, 40, 255}, gray[4] = {128, 128, 128, 255};
            pixels->setRgba(x, y, x < kWidth / 2 ? red : gray);
        }

    Check check;
    qrx::CallResult inverted = auditedCall(host, source, "InvertQRX", {}, 1, check);
    auto* result = std::holds_alternative<qrx::Ref>(inverted.result)
                       ? std::get<qrx::Ref>(inverted.result).as<qrx::Picture>()
                       : nullptr;
    check.expect(result != nullptr, "InvertQRX returned no picture");
    if (!result) return 1;
    std::cout << "InvertQRX: " << result->width() << "x" << result->height() << " picture\n";
    printPixel(*result, 0, 0);
    printPixel(*result, kWidth - 1, kHeight - 1);
    check.expect(result->width() == kWidth && result->height() == kHeight, "wrong size");
    check.expect(pixelIs(*result, 0, 0, 55, 215, 215), "red did not become cyan");
    check.expect(pixelIs(*result, kWidth - 1, kHeight - 1, 127, 127, 127),
                 "gray 128 did not become 127");

    // Half of each picture is colourful (red, then cyan), the other half gray.
    for (const qrx::Ref& p : {source, std::get<qrx::Ref>(inverted.result)}) {
        qrx::CallResult c = auditedCall(host, p, "ColornessQRX", {}, 0, check);
        bool isDouble = std::holds_alternative<double>(c.result);
        std::cout << "ColornessQRX: " << qrx::describe(c.result) << '\n';
        check.expect(isDouble && std::get<double>(c.result) == 0.5, "expected colourfulness 0.5");
    }

    std::cout << (check.ok ? "all checks passed" : "checks FAILED") << '\n';
    return check.ok ? 0 : 1;
} catch (const std::exception& e) {
    std::cerr << "host_invert: " << e.what() << '\n';
    return 1;
}
