#include "host/legacy_shims.h"

#include <array>
#include <cstddef>

CFBundleRef ApplicationServicesFramework = nullptr;

namespace {

enum class LegacyCall : int { NewRgn, DisposeRgn, GetGWorld, SetGWorld, ScrollRect, Count };

constexpr std::array<const char*, static_cast<std::size_t>(LegacyCall::Count)> kLegacyCallNames = {
    "NewRgn", "DisposeRgn", "GetGWorld", "SetGWorld", "ScrollRect"};

std::array<void*, static_cast<std::size_t>(LegacyCall::Count)> gLegacyCalls{};

// The cached address of a call, binding it first when needed; null while the framework or the
// call cannot be found.
template <class Fn> Fn Bind(LegacyCall call) {
    void*& slot = gLegacyCalls[static_cast<std::size_t>(call)];
    if (!slot) {
        if (!ApplicationServicesFramework)
            ApplicationServicesFramework =
                LoadFrameworkBundle(CFSTR("ApplicationServices.framework"));
        if (!ApplicationServicesFramework) return nullptr;
        slot = CFBundleGetFunctionPointerForName(ApplicationServicesFramework,
                                                 kLegacyCallNames[static_cast<std::size_t>(call)]);
    }
    return reinterpret_cast<Fn>(slot);
}

} // namespace

RgnHandle NewRgn() {
    auto fn = Bind<NewRgnProc>(LegacyCall::NewRgn);
    return fn ? fn() : nullptr;
}

void DisposeRgn(RgnHandle region) {
    if (auto fn = Bind<DisposeRgnProc>(LegacyCall::DisposeRgn)) fn(region);
}

void GetGWorld(CGrafPtr* port, GDHandle* device) {
    if (auto fn = Bind<GetGWorldProc>(LegacyCall::GetGWorld)) fn(port, device);
}

void SetGWorld(CGrafPtr port, GDHandle device) {
    if (auto fn = Bind<SetGWorldProc>(LegacyCall::SetGWorld)) fn(port, device);
}

void ScrollRect(const Rect* rect, int16_t dh, int16_t dv, RgnHandle updateRegion) {
    if (auto fn = Bind<ScrollRectProc>(LegacyCall::ScrollRect)) fn(rect, dh, dv, updateRegion);
}

void SetRect(Rect* rect, int16_t left, int16_t top, int16_t right, int16_t bottom) {
    rect->top = top;
    rect->left = left;
    rect->bottom = bottom;
    rect->right = right;
}

CFBundleRef LoadFrameworkBundle(int16_t domain, CFStringRef frameworkName) {
    FSRef folder{};
    if (FSFindFolder(domain, kFrameworksFolderType, true, &folder) != noErr) return nullptr;
    CFURLRef folderURL = CFURLCreateFromFSRef(kCFAllocatorSystemDefault, &folder);
    CFURLRef bundleURL = folderURL ? CFURLCreateCopyAppendingPathComponent(
                                         kCFAllocatorSystemDefault, folderURL, frameworkName, false)
                                   : nullptr;
    CFBundleRef bundle = bundleURL ? CFBundleCreate(kCFAllocatorSystemDefault, bundleURL) : nullptr;
    if (bundle && !CFBundleLoadExecutable(bundle)) {
        CFRelease(bundle);
        bundle = nullptr;
    }
    if (bundleURL) CFRelease(bundleURL);
    if (folderURL) CFRelease(folderURL);
    return bundle;
}

CFBundleRef LoadFrameworkBundle(CFStringRef frameworkName) {
    return LoadFrameworkBundle(kSystemDomain, frameworkName);
}
