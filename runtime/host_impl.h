// The inside of a Host: registered classes, object bookkeeping, the loaded library, and the
// helpers the service, registry, call and drawing units share.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "qrx/host.h"
#include "qrx/objects.h"
#include "qrx/pixel_buffer.h"

namespace qrx {

bool equalsNoCase(std::string_view a, std::string_view b);

// While a host frees all its remaining objects at once: those objects (a Ref to one of them is
// dropped without touching it).
extern const std::unordered_set<const Object*>* gObjectsBeingFreed;

struct Host::Impl {
    explicit Impl(Host& h) : host(h) {}

    Host& host;

    // The loaded copy of the plugin library.
    void* library = nullptr;
    std::filesystem::path pluginPath;
    int32_t pluginVersion = 0;

    // Registered surface: built-in classes first, then plugin classes in registration order.
    std::vector<std::unique_ptr<ClassInfo>> classes;
    std::vector<MethodInfo> globals;
    std::vector<std::string> log;
    std::vector<std::string> registrationErrors;
    ClassInfo* pictureClass = nullptr;
    ClassInfo* graphicsClass = nullptr;
    ClassInfo* memoryBlockClass = nullptr;
    ClassInfo* stringClass = nullptr;
    // Host-language globals that plugins find by declaration ("LenB"); not listed as plugin
    // methods.
    std::vector<MethodInfo> builtInGlobals;

    // Objects by the handle the plugin sees, and handles of objects already destroyed (to tell
    // a second unlock from a handle that never existed).
    std::unordered_map<const void*, Object*> handles;
    std::unordered_set<const void*> deadHandles;
    bool tearingDown = false;

    // Exception raised by the plugin during the current call.
    Ref pendingException;

    // Data blocks of string-data records handed out and not yet disposed: a large block's pooled
    // storage, or an empty buffer for a block from malloc.
    std::unordered_map<const void*, PixelBuffer> stringData;

    // Description locks that were still held when their picture was destroyed.
    int orphanLocks = 0;

    std::map<std::string, size_t, std::less<>> resolveCounts;
    std::vector<std::string> violations;

    // Creates a tracked object carrying one reference, owned by whoever receives it.
    template <class T, class... A> T* create(A&&... args) {
        T* obj = new T(host, std::forward<A>(args)...);
        host.track(obj);
        host.addRef(obj);
        return obj;
    }

    // Pictures in this host's form.
    PictureForm pictureForm() const;
    // A picture as a service or the Picture constructor makes it (never refuses its bitmap).
    Picture* createPicture(int width, int height, bool hasAlpha);

    // Registry (registry.cpp).
    void registerBuiltIns();
    ClassInfo* findClass(std::string_view name) const;
    void registerClass(const REALclassDefinition* def);
    void registerClassExtension(const REALclassDefinition* def);
    void registerMethod(const REALmethodDefinition* def);
    Object* newInstance(const ClassInfo& cls); // one reference for the receiver, or null
    void destroy(Object* obj);

    // Properties (calls.cpp). Each returns nullopt / false with a reason in *why.
    const PropertyInfo* findProperty(const ClassInfo& cls, std::string_view name) const;
    std::optional<Value> readProperty(Object& obj, const PropertyInfo& prop, std::string* why);
    bool writeProperty(Object& obj, const PropertyInfo& prop, const Value& value, std::string* why);

    // Calls into plugin code: the host becomes current first.
    void callPlugin(void* fn, std::span<void* const> pointerArgs);
};

// Pixel words of the layouts a picture can be kept in: alpha info 1 to 6 of a bitmap, and 8 for
// a true-colour image record (B G R and a 7-bit transparency, 0 meaning opaque).
uint32_t encodeWord(uint32_t layout, const uint8_t rgba[4]);
void decodeWord(uint32_t layout, uint32_t word, uint8_t rgba[4]);

// Text conversion between host string encodings (encoding.cpp). nullopt for an encoding the host
// does not know.
std::optional<std::string> convertText(std::span<const uint8_t> bytes, uint32_t from, uint32_t to);
bool knownEncoding(uint32_t encoding);

// Draws src (rectangle sx, sy, sw, sh; -10000 means the full width or height) scaled
// nearest-neighbour into dest's rectangle x, y, w, h, clipped to dest (drawing.cpp).
void drawPicture(Picture& dest, const Picture& src, int32_t x, int32_t y, int32_t w, int32_t h,
                 int32_t sx, int32_t sy, int32_t sw, int32_t sh);
// Draws the line (x1, y1)-(x2, y2) with a penWidth by penHeight pen whose top-left corner follows
// the line, in foreColor (host colour value), clipped to dest (drawing.cpp).
void drawLine(Picture& dest, uint32_t foreColor, int32_t penWidth, int32_t penHeight, int32_t x1,
              int32_t y1, int32_t x2, int32_t y2);

// The description of a desktop picture on a legacy host: an offscreen world over its rows
// (legacy.cpp).
REALpictureDescription legacyDescription(Picture& p);

// The C functions behind the service names (services.cpp): null for a name the host does not
// know.
void* serviceFunction(std::string_view name);

// Built-in methods with their native signatures (services.cpp).
void builtInPictureConstructor(REALobject pic, int32_t width, int32_t height);
void builtInDrawPicture(REALgraphics g, REALpicture src, int32_t x, int32_t y, int32_t w, int32_t h,
                        int32_t sx, int32_t sy, int32_t sw, int32_t sh);
int32_t builtInLenB(REALstring s);

} // namespace qrx
