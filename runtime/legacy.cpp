// Legacy drawing: pictures that report themselves as offscreen worlds, and the functions the
// frameworks stand-in asks the host process about (the frameworks folder, single functions).
#include <dlfcn.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "bitmap_context.h"
#include "frameworks.h"
#include "host_impl.h"
#include "quickdraw.h"

namespace qrx {

REALpictureDescription legacyDescription(Picture& p) {
    auto world = std::static_pointer_cast<QDOffscreenWorld>(p.legacyWorld);
    if (!world) {
        world = std::make_shared<QDOffscreenWorld>();
        p.legacyWorld = world;
    }
    // The rows may have been replaced since the last lock (a constructor call): describe them anew.
    CGBitmapContext* context = p.bitmapContext();
    const uint8_t white[4] = {255, 255, 255, 255};
    *world = {context ? static_cast<uint32_t*>(context->data) : nullptr, p.width(), p.height(),
              p.bytesPerRow(), encodeWord(p.layout(), white)};
    return {kPictureTypeGWorld, world.get(), p.width(), p.height(), {}};
}

std::filesystem::path defaultFrameworksFolder() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&defaultFrameworksFolder), &info) || !info.dli_fname)
        return {};
    // Beside the library in a build tree; installed, the frameworks live with the plugin in the
    // qrx folder of the library directory.
    std::filesystem::path dir = std::filesystem::path(info.dli_fname).parent_path();
    std::error_code ec;
    if (!std::filesystem::is_directory(dir / "frameworks", ec) &&
        std::filesystem::is_directory(dir / "qrx" / "frameworks", ec))
        return dir / "qrx" / "frameworks";
    return dir / "frameworks";
}

} // namespace qrx

// The frameworks folder of the current host: only the system domain has one.
extern "C" __attribute__((visibility("default"))) const char* qrxFrameworksFolder(int16_t domain) {
    static thread_local std::string answer;
    qrx::Host* host = qrx::Host::current();
    if (!host || domain != kSystemDomain || host->config().hideLegacyLibrary) return nullptr;
    const std::filesystem::path& configured = host->config().frameworksFolder;
    answer = (configured.empty() ? qrx::defaultFrameworksFolder() : configured).string();
    return answer.empty() ? nullptr : answer.c_str();
}

// Whether the current host offers a framework function.
extern "C" __attribute__((visibility("default"))) int
qrxFrameworkFunctionOffered(const char* /*framework*/, const char* name) {
    qrx::Host* host = qrx::Host::current();
    if (!host || !name) return 1;
    return host->config().hiddenLegacyFunctions.count(name) == 0;
}
