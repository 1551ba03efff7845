// The Host: plugin loading, the resolver, the current host, object bookkeeping and the audit.
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <system_error>

#include "bitmap_context.h"
#include "host_impl.h"
#include "native_call.h"

namespace qrx {

namespace {

Host* gCurrent = nullptr;

} // namespace

const std::unordered_set<const Object*>* gObjectsBeingFreed = nullptr;

namespace {

// Answers for the current host; null when no host is current, for unknown and withheld names.
void* resolve(const char* name) {
    Host* host = gCurrent;
    if (!host || !name) return nullptr;
    std::string_view n(name);
    Host::Impl& impl = host->impl();
    auto it = impl.resolveCounts.find(n);
    if (it == impl.resolveCounts.end()) it = impl.resolveCounts.emplace(std::string(n), 0).first;
    ++it->second;
    if (host->config().withheld.count(std::string(n))) return nullptr;
    if (n == "REALGetRBVersion" && !host->config().version) return nullptr;
    return serviceFunction(n);
}

// A private copy of the library: dlopen of the same path twice would share one copy of the
// plugin's process-wide state between hosts.
std::filesystem::path privateCopy(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        throw std::runtime_error("plugin library not found: " + path.string());
    std::string tmpl = (std::filesystem::temp_directory_path() / "qrx-plugin-XXXXXX.so").string();
    int fd = mkstemps(tmpl.data(), 3);
    if (fd < 0) throw std::runtime_error("cannot make a temporary copy of " + path.string());
    close(fd);
    std::filesystem::copy_file(path, tmpl, std::filesystem::copy_options::overwrite_existing, ec);
    if (ec) {
        std::filesystem::remove(tmpl);
        throw std::runtime_error("cannot copy plugin library " + path.string() + ": " +
                                 ec.message());
    }
    return tmpl;
}

} // namespace

bool equalsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

// ---- Impl helpers ---------------------------------------------------------------------------

PictureForm Host::Impl::pictureForm() const {
    return host.config().kind == HostKind::Desktop ? PictureForm::Bitmap : PictureForm::Record;
}

Picture* Host::Impl::createPicture(int width, int height, bool hasAlpha) {
    const HostConfig& c = host.config();
    return create<Picture>(width, height, hasAlpha, pictureForm(),
                           hasAlpha ? c.alphaLayout : c.plainLayout, c.rowPadding,
                           hasAlpha ? c.alphaFill : c.plainFill);
}

void Host::Impl::callPlugin(void* fn, std::span<void* const> pointerArgs) {
    host.makeCurrent();
    std::vector<NativeType> types(pointerArgs.size(), NativeType::Pointer);
    std::vector<NativeValue> values(pointerArgs.size());
    for (size_t i = 0; i < pointerArgs.size(); ++i)
        values[i].ptr = pointerArgs[i];
    callNative(fn, NativeType::Void, types, values);
}

// ---- Host -----------------------------------------------------------------------------------

Host::Host(HostConfig config) : config_(std::move(config)), impl_(std::make_unique<Impl>(*this)) {
    impl_->registerBuiltIns();
}

// The delegated constructor has completed, so a throw from loadPlugin runs ~Host, which frees
// everything the failed load left behind.
Host::Host(HostConfig config, const std::filesystem::path& pluginPath) : Host(std::move(config)) {
    loadPlugin(pluginPath);
}

Host::~Host() {
    Impl& impl = *impl_;
    // Remaining objects are freed without running plugin code: the host is going away.
    impl.pendingException.reset();
    impl.tearingDown = true;
    std::unordered_set<const Object*> remaining;
    for (auto& [handle, obj] : impl.handles)
        remaining.insert(obj);
    impl.handles.clear();
    // References between these objects are dropped without touching their targets, which may
    // already be gone.
    gObjectsBeingFreed = &remaining;
    for (const Object* obj : remaining)
        delete obj;
    gObjectsBeingFreed = nullptr;
    for (auto& [data, storage] : impl.stringData)
        if (storage.empty()) std::free(const_cast<void*>(data));
    impl.stringData.clear();
    if (impl.library) dlclose(impl.library);
    if (gCurrent == this) gCurrent = nullptr;
}

void Host::loadPlugin(const std::filesystem::path& pluginPath) {
    if (impl_->library)
        throw std::runtime_error("a plugin is already loaded: " + impl_->pluginPath.string());
    std::filesystem::path copy = privateCopy(pluginPath);
    void* lib = dlopen(copy.c_str(), RTLD_NOW | RTLD_LOCAL);
    std::string why = lib ? "" : dlerror();
    std::filesystem::remove(copy);
    if (!lib)
        throw std::runtime_error("cannot load plugin library " + pluginPath.string() + ": " + why);
    void* entry = dlsym(lib, "REALPluginMain");
    if (!entry) {
        dlclose(lib);
        throw std::runtime_error("plugin library " + pluginPath.string() +
                                 " has no REALPluginMain");
    }
    impl_->library = lib;
    impl_->pluginPath = pluginPath;
    size_t errorsBefore = impl_->registrationErrors.size();
    void* resolver = reinterpret_cast<void*>(&resolve);
    impl_->callPlugin(entry, std::span<void* const>(&resolver, 1));
    if (impl_->registrationErrors.size() > errorsBefore) {
        std::string msg = "plugin " + pluginPath.string() + " registered malformed records:";
        for (size_t i = errorsBefore; i < impl_->registrationErrors.size(); ++i)
            msg += "\n  " + impl_->registrationErrors[i];
        throw std::runtime_error(msg);
    }
}

REALResolver Host::resolver() {
    return &resolve;
}

void Host::makeCurrent() {
    gCurrent = this;
}

Host* Host::current() {
    return gCurrent;
}

const std::vector<std::unique_ptr<ClassInfo>>& Host::classes() const {
    return impl_->classes;
}

const ClassInfo* Host::findClass(std::string_view name) const {
    return impl_->findClass(name);
}

const std::vector<MethodInfo>& Host::globalMethods() const {
    return impl_->globals;
}

std::vector<const MethodInfo*> Host::overloads(std::string_view className,
                                               std::string_view methodName) const {
    std::vector<const MethodInfo*> out;
    const ClassInfo* cls = findClass(className);
    if (!cls) return out;
    for (const auto* list : {&cls->methods, &cls->extensions})
        for (const MethodInfo& m : *list)
            if (equalsNoCase(m.decl.name, methodName)) out.push_back(&m);
    return out;
}

std::vector<const MethodInfo*> Host::globalOverloads(std::string_view name) const {
    std::vector<const MethodInfo*> out;
    for (const MethodInfo& m : impl_->globals)
        if (equalsNoCase(m.decl.name, name)) out.push_back(&m);
    return out;
}

std::vector<std::string> Host::registrationLog() const {
    return impl_->log;
}

const std::vector<std::string>& Host::registrationErrors() const {
    return impl_->registrationErrors;
}

size_t Host::resolveCount(std::string_view name) const {
    auto it = impl_->resolveCounts.find(name);
    return it == impl_->resolveCounts.end() ? 0 : it->second;
}

std::vector<std::string> Host::resolvedNames() const {
    std::vector<std::string> names;
    for (const auto& [name, count] : impl_->resolveCounts)
        if (count) names.push_back(name);
    return names;
}

int32_t Host::pluginVersion() const {
    return impl_->pluginVersion;
}

// Pictures made for the host's own use (files read, pictures asked for by the caller) honour
// config.bitmapLockFails; pictures the plugin makes through services never refuse, or a reader's
// copy would refuse again.
Ref Host::newPicture(int width, int height, bool hasAlpha) {
    if (width < 0 || height < 0) throw std::invalid_argument("negative picture size");
    Picture* p = impl_->createPicture(width, height, hasAlpha);
    p->bitmapLockFails = config_.bitmapLockFails && !hasAlpha;
    return Ref::adopt(p);
}

Ref Host::pictureFromImage(const Image& img) {
    if (img.rgba.size() != size_t(img.width) * size_t(img.height) * 4)
        throw std::invalid_argument("image pixel data does not match its size");
    Ref r = newPicture(img.width, img.height, img.hasAlpha);
    r.as<Picture>()->fromImage(img);
    return r;
}

Ref Host::newMemoryBlock(std::span<const uint8_t> bytes) {
    MemoryBlock* m = impl_->create<MemoryBlock>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), m->bytes.begin());
    return Ref::adopt(m);
}

Ref Host::newString(std::string_view bytes, uint32_t encoding) {
    auto span =
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return Ref::adopt(impl_->create<String>(span, encoding));
}

Ref Host::newInstance(std::string_view className) {
    const ClassInfo* cls = findClass(className);
    if (!cls) throw CallError("no class named " + std::string(className));
    Object* obj = impl_->newInstance(*cls);
    if (!obj) throw CallError("class " + cls->name + " cannot be instantiated");
    return Ref::adopt(obj);
}

Object* Host::fromHandle(const void* handle) const {
    auto it = impl_->handles.find(handle);
    return it == impl_->handles.end() ? nullptr : it->second;
}

Audit Host::audit() const {
    Audit a;
    for (const auto& [handle, obj] : impl_->handles) {
        ++a.liveObjects;
        a.references += obj->refs_;
        if (auto* p = dynamic_cast<const Picture*>(obj)) a.descriptionLocks += p->descriptionLocks;
    }
    a.descriptionLocks += impl_->orphanLocks;
    a.stringData = int(impl_->stringData.size());
    a.violations = impl_->violations;
    return a;
}

void Host::violation(std::string message) {
    std::fprintf(stderr, "qrx host: %s\n", message.c_str());
    impl_->violations.push_back(std::move(message));
}

void Host::addRef(Object* obj) {
    if (!obj) return;
    ++obj->refs_;
}

void Host::releaseRef(Object* obj) {
    if (!obj) return;
    if (impl_->tearingDown) return; // everything is being freed at once
    if (obj->refs_ <= 0) {
        violation("reference released on " + obj->className() + " that holds none");
        return;
    }
    if (--obj->refs_ == 0) impl_->destroy(obj);
}

void Host::retainHostRef(Object* obj) {
    if (!obj) return;
    ++obj->refs_;
    ++obj->hostRefs_;
}

void Host::adoptHostRef(Object* obj) {
    if (obj) ++obj->hostRefs_;
}

void Host::handOverHostRef(Object* obj) {
    if (obj && obj->hostRefs_ > 0) --obj->hostRefs_;
}

void Host::releaseHostRef(Object* obj) {
    if (!obj) return;
    if (obj->hostRefs_ > 0) --obj->hostRefs_;
    releaseRef(obj);
}

void Host::releasePluginRef(Object* obj, std::string_view service) {
    if (!obj || impl_->tearingDown) return;
    if (obj->refs_ - obj->hostRefs_ <= 0) {
        violation(std::string(service) + ": drops a reference the plugin does not hold on " +
                  obj->className());
        return;
    }
    releaseRef(obj);
}

void Host::track(Object* obj) {
    impl_->handles[obj->handle()] = obj;
    impl_->deadHandles.erase(obj->handle());
}

void Host::untrack(Object* obj) {
    impl_->handles.erase(obj->handle());
    impl_->deadHandles.insert(obj->handle());
}

} // namespace qrx
