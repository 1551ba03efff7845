#include "frameworks.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "quickdraw.h"

struct QrxCFObject {
    enum class Kind { URL, Bundle } kind;
    std::string path;        // the URL's path, or the bundle's folder
    void* library = nullptr; // a bundle's loaded executable
};

namespace {

bool IsFolder(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// "X.framework" -> "X": the executable inside a bundle's folder.
std::string ExecutablePath(const std::string& folder) {
    std::string name = folder;
    while (name.size() > 1 && name.back() == '/')
        name.pop_back();
    const auto slash = name.rfind('/');
    std::string leaf = slash == std::string::npos ? name : name.substr(slash + 1);
    const auto dot = leaf.rfind('.');
    if (dot != std::string::npos && dot > 0) leaf.erase(dot);
    return name + "/" + leaf;
}

std::string BundleName(const std::string& folder) {
    const auto slash = folder.rfind('/');
    return slash == std::string::npos ? folder : folder.substr(slash + 1);
}

} // namespace

OSErr FSFindFolder(int16_t domain, OSType folderType, Boolean /*create*/, FSRef* found) {
    if (!found || folderType != kFrameworksFolderType) return fnfErr;
    auto hook = reinterpret_cast<FrameworksFolderHook>(dlsym(RTLD_DEFAULT, kFrameworksFolderHook));
    const char* folder = hook ? hook(domain) : nullptr;
    if (!folder || !*folder || std::strlen(folder) >= sizeof found->path) return fnfErr;
    std::strcpy(found->path, folder);
    return noErr;
}

CFURLRef CFURLCreateFromFSRef(CFAllocatorRef /*allocator*/, const FSRef* ref) {
    if (!ref || !ref->path[0]) return nullptr;
    return new QrxCFObject{QrxCFObject::Kind::URL, ref->path, nullptr};
}

CFURLRef CFURLCreateCopyAppendingPathComponent(CFAllocatorRef /*allocator*/, CFURLRef url,
                                               CFStringRef component, Boolean isDirectory) {
    if (!url || url->kind != QrxCFObject::Kind::URL || !component) return nullptr;
    std::string path = url->path;
    if (path.empty() || path.back() != '/') path += '/';
    path += component;
    if (isDirectory) path += '/';
    return new QrxCFObject{QrxCFObject::Kind::URL, path, nullptr};
}

CFBundleRef CFBundleCreate(CFAllocatorRef /*allocator*/, CFURLRef url) {
    if (!url || url->kind != QrxCFObject::Kind::URL || !IsFolder(url->path)) return nullptr;
    return new QrxCFObject{QrxCFObject::Kind::Bundle, url->path, nullptr};
}

Boolean CFBundleLoadExecutable(CFBundleRef bundle) {
    if (!bundle || bundle->kind != QrxCFObject::Kind::Bundle) return false;
    if (!bundle->library)
        bundle->library = dlopen(ExecutablePath(bundle->path).c_str(), RTLD_NOW | RTLD_LOCAL);
    return bundle->library != nullptr;
}

void* CFBundleGetFunctionPointerForName(CFBundleRef bundle, CFStringRef name) {
    if (!bundle || bundle->kind != QrxCFObject::Kind::Bundle || !bundle->library || !name)
        return nullptr;
    // The host process may withhold single functions of a framework.
    auto offered =
        reinterpret_cast<FrameworkFunctionHook>(dlsym(RTLD_DEFAULT, kFrameworkFunctionHook));
    if (offered && !offered(BundleName(bundle->path).c_str(), name)) return nullptr;
    return dlsym(bundle->library, name);
}

void CFRelease(CFTypeRef object) {
    auto* obj = static_cast<QrxCFObject*>(const_cast<void*>(object));
    if (!obj) return;
    if (obj->library) dlclose(obj->library);
    delete obj;
}
