// BinaryStringtoPictureQRX through the host runtime: any bytes give a picture or nil, never a
// fault, with every reference, lock and string record given back.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "qrx/host.h"

namespace {

qrx::Host& host() {
    static std::unique_ptr<qrx::Host> h =
        std::make_unique<qrx::Host>(qrx::HostConfig{}, QRX_FUZZ_PLUGIN);
    return *h;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qrx::Host& h = host();
    if (h.globalOverloads("BinaryStringtoPictureQRX").empty()) return 0;
    const qrx::Audit before = h.audit();
    {
        qrx::Ref s = h.newString(std::string_view(reinterpret_cast<const char*>(data), size),
                                 kREALTextEncodingRaw);
        qrx::CallResult r = h.callGlobal("BinaryStringtoPictureQRX", {s});
        if (auto* pic = std::get_if<qrx::Ref>(&r.result); pic && *pic) {
            auto* p = pic->as<qrx::Picture>();
            if (!p || p->width() < 1 || p->height() < 1) __builtin_trap();
            (void)p->toImage();
        }
    }
    const qrx::Audit after = h.audit();
    if (after.liveObjects != before.liveObjects || after.references != before.references ||
        after.descriptionLocks || after.stringData ||
        after.violations.size() != before.violations.size())
        __builtin_trap();
    return 0;
}
