#include "frameworks.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "quickdraw.h"

// Objects live in a small static pool rather than on the heap: a caller may keep a bundle for as
// long as its module is loaded and never release it, and it then goes away with the module.
struct QrxCFObject {
    enum class Kind { URL, Bundle } kind;
    char path[sizeof(FSRef::path) + 256]; // the URL's path, or the bundle's folder
    void* library;                        // a bundle's loaded executable
    bool inUse;
};

namespace {

QrxCFObject gObjects[32];

// A pooled object for the path, or null when the path is too long or the pool is full.
QrxCFObject* MakeObject(QrxCFObject::Kind kind, const std::string& path) {
    if (path.size() >= sizeof(QrxCFObject::path)) return nullptr;
    for (QrxCFObject& obj : gObjects) {
        if (obj.inUse) continue;
        obj.kind = kind;
        std::memcpy(obj.path, path.c_str(), path.size() + 1);
        obj.library = nullptr;
        obj.inUse = true;
        return &obj;
    }
    return nullptr;
}

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
    return MakeObject(QrxCFObject::Kind::URL, ref->path);
}

CFURLRef CFURLCreateCopyAppendingPathComponent(CFAllocatorRef /*allocator*/, CFURLRef url,
                                               CFStringRef component, Boolean isDirectory) {
    if (!url || url->kind != QrxCFObject::Kind::URL || !component) return nullptr;
    std::string path = url->path;
    if (path.empty() || path.back() != '/') path += '/';
    path += component;
    if (isDirectory) path += '/';
    return MakeObject(QrxCFObject::Kind::URL, path);
}

CFBundleRef CFBundleCreate(CFAllocatorRef /*allocator*/, CFURLRef url) {
    if (!url || url->kind != QrxCFObject::Kind::URL || !IsFolder(url->path)) return nullptr;
    return MakeObject(QrxCFObject::Kind::Bundle, url->path);
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
    obj->library = nullptr;
    obj->inUse = false;
}
