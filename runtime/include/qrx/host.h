// The host runtime: loads the plugin, answers its service names, keeps the classes and methods it
// registers, and calls them with host values.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "qrx/declaration.h"
#include "qrx/objects.h"
#include "qrx/value.h"
#include "sdk/records.h"

namespace qrx {

enum class HostKind { Desktop, Console, Web };

std::string_view hostKindName(HostKind kind);
std::optional<HostKind> hostKindFromName(std::string_view name);

struct HostConfig {
    HostKind kind = HostKind::Desktop;
    // The version "REALGetRBVersion" reports; none: that name does not resolve.
    std::optional<double> version = 2019.1;
    // Service names that resolve to null.
    std::set<std::string> withheld;
    // Alpha info of desktop pictures without an alpha channel (1 to 6) and with one (1 or 2).
    uint32_t plainLayout = 3;
    uint32_t alphaLayout = 1;
    // Extra bytes at the end of every desktop bitmap row (stride = width * 4 + rowPadding).
    int rowPadding = 0;
    // Every new plain picture refuses the bitmap lock (readers then work on a copy).
    bool bitmapLockFails = false;
    // What a new picture holds before anything is written, R G B A. Plain pictures start opaque
    // white, pictures with an alpha channel start transparent black.
    uint8_t plainFill[4] = {255, 255, 255, 255};
    uint8_t alphaFill[4] = {0, 0, 0, 0};
    // Desktop pictures report themselves to the two-argument description lock as offscreen worlds
    // (type 4) over their own rows, which the legacy drawing calls scroll; the band a scroll
    // uncovers becomes opaque white.
    bool legacyPictures = false;
    // The frameworks folder named to the frameworks stand-in; empty: "frameworks" beside the
    // runtime library. With hideLegacyLibrary no folder is named: the legacy library is missing.
    std::filesystem::path frameworksFolder;
    bool hideLegacyLibrary = false;
    // Legacy drawing functions withheld from the plugin ("ScrollRect", "NewRgn", ...).
    std::set<std::string> hiddenLegacyFunctions;
};

// A method as registered: a plugin method, a built-in method or a global method.
struct MethodInfo {
    std::string className; // empty for a global method
    Declaration decl;
    void* function = nullptr;
    void* setter = nullptr; // assignable methods
    uint32_t flags = 0;     // as received
    bool builtIn = false;
};

struct PropertyInfo {
    std::string name;
    Type type;
    uint32_t flags = 0; // as received
    void* getter = nullptr;
    void* setter = nullptr;
    uint32_t offset = 0; // instance data offset of a direct property
    bool direct() const;
};

struct ClassInfo {
    std::string name;
    bool builtIn = false;
    uint32_t dataSize = 0; // as received (already rounded by the plugin)
    uint32_t flags = 0;    // as received
    void (*constructor)(REALobject) = nullptr;
    void (*destructor)(REALobject) = nullptr;
    const REALclassDefinition* record = nullptr; // the plugin's record, for REALGetClassData
    std::vector<PropertyInfo> properties;
    std::vector<MethodInfo> methods;    // own methods, registration order
    std::vector<MethodInfo> extensions; // methods added by class extensions, registration order
};

// A host exception raised during a call.
struct RaisedException {
    std::string className;
    std::string message;
};

struct CallResult {
    Value result; // Nil when the method returns nothing or nil
    std::vector<Value>
        byRef; // one entry per parameter: the value after the call (Nil if not byref)
    std::optional<RaisedException> exception;
    const MethodInfo* method = nullptr; // the overload that was called
};

// Error in how the runtime was asked to call (unknown name, no overload fits, bad value).
class CallError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Reference and lock bookkeeping.
struct Audit {
    size_t liveObjects = 0;
    long references = 0;                 // sum of reference counts of live objects
    int descriptionLocks = 0;            // description locks held right now
    int stringData = 0;                  // string-data records handed out and not yet disposed
    std::vector<std::string> violations; // unlock without lock, unknown handles, ...
};

class Host {
  public:
    // A host with no plugin loaded yet.
    explicit Host(HostConfig config = {});
    // A host with its own fresh copy of the plugin library loaded: nothing of another host's
    // plugin state is shared. Throws std::runtime_error naming the file or symbol at fault.
    Host(HostConfig config, const std::filesystem::path& pluginPath);
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    const HostConfig& config() const { return config_; }
    HostConfig& config() { return config_; }

    void loadPlugin(const std::filesystem::path& pluginPath);
    // The resolver every plugin gets; it answers for the current host.
    static REALResolver resolver();
    // Make this host the one the resolver and services answer for (done on every call into the
    // plugin; tests that drive plugin code directly call it).
    void makeCurrent();
    static Host* current();

    // Registered surface.
    const std::vector<std::unique_ptr<ClassInfo>>& classes() const; // built-in and plugin
    const ClassInfo* findClass(std::string_view name) const;        // case-insensitive
    const std::vector<MethodInfo>& globalMethods() const;
    std::vector<const MethodInfo*> overloads(std::string_view className,
                                             std::string_view methodName) const;
    std::vector<const MethodInfo*> globalOverloads(std::string_view name) const;
    // Class records and method records in the order the plugin registered them (for listings):
    // "class Name", "extension Name" and "method Declaration".
    std::vector<std::string> registrationLog() const;
    // Faults found in registration records (malformed declarations, unknown types, ...), in the
    // order they were found. A plugin load with any of these fails after REALPluginMain returns.
    const std::vector<std::string>& registrationErrors() const;
    // How often a service name has been asked of the resolver while this host was current.
    size_t resolveCount(std::string_view name) const;
    // Every service name asked of the resolver while this host was current, in name order.
    std::vector<std::string> resolvedNames() const;
    // The plugin interface version announced through "RegisterPluginVersion" (0 before).
    int32_t pluginVersion() const;

    // Objects.
    Ref newPicture(int width, int height, bool hasAlpha); // in this host's form and layouts
    Ref pictureFromImage(const Image& img);
    Ref newMemoryBlock(std::span<const uint8_t> bytes);
    Ref newString(std::string_view bytes, uint32_t encoding = kREALTextEncodingUTF8);
    Ref newInstance(std::string_view className);  // runs the constructor; throws CallError
    Object* fromHandle(const void* handle) const; // null for an unknown handle

    // Calls. Overloads are chosen by the number and types of the arguments, defaults fill the
    // rest. self is the picture or instance for methods; byref arguments are passed as their
    // current values and come back in CallResult::byRef.
    CallResult call(const Ref& self, std::string_view methodName, std::vector<Value> args);
    CallResult callGlobal(std::string_view name, std::vector<Value> args);
    // One specific overload (self ignored for globals).
    CallResult invoke(const MethodInfo& method, const Ref& self, std::vector<Value> args);
    // Assignment to an assignable method: Name(args) = value.
    CallResult assign(const Ref& self, std::string_view methodName, std::vector<Value> args,
                      Value value);
    Value getProperty(const Ref& obj, std::string_view name);
    void setProperty(const Ref& obj, std::string_view name, const Value& value);

    Audit audit() const;
    // Reports a fault in how the plugin used the host (also written to stderr at once).
    void violation(std::string message);

    // Internal: object bookkeeping used by Ref and the services.
    void addRef(Object* obj);
    void releaseRef(Object* obj);
    // References held by the host's own values (Ref) are counted apart from the plugin's, so a
    // release through a service that would drop one of the host's is caught, not carried out.
    void retainHostRef(Object* obj);
    void adoptHostRef(Object* obj);
    void releaseHostRef(Object* obj);
    void handOverHostRef(Object* obj); // the reference stays, now the plugin's
    // A release the plugin asks for through `service`: refused, as a violation, when the plugin
    // holds no reference of its own to the object.
    void releasePluginRef(Object* obj, std::string_view service);
    void track(Object* obj);
    void untrack(Object* obj);

    struct Impl;
    Impl& impl() { return *impl_; }

  private:
    HostConfig config_;
    std::unique_ptr<Impl> impl_;
};

} // namespace qrx
