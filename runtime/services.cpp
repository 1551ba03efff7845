// The functions behind every service name, answering for the current host.
//
// Nothing may unwind through plugin frames: every service catches what the runtime throws,
// reports it as a violation and answers with its failure value.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <type_traits>

#include "bitmap_context.h"
#include "host_impl.h"
#include "sdk/services.h"

namespace qrx {

namespace {

template <class R, class F> R guarded(const char* service, R failure, F&& body) noexcept {
    try {
        return body();
    } catch (const std::exception& e) {
        if (Host* h = Host::current()) h->violation(std::string(service) + ": " + e.what());
    } catch (...) {
        if (Host* h = Host::current()) h->violation(std::string(service) + ": failed");
    }
    return failure;
}

template <class F> void guardedVoid(const char* service, F&& body) noexcept {
    guarded(service, 0, [&] {
        body();
        return 0;
    });
}

Host::Impl& impl() {
    return Host::current()->impl();
}

// The object behind a handle. Null handles give null silently; unknown handles and objects of
// the wrong class are violations.
template <class T = Object> T* lookup(const char* service, const void* handle) {
    Host* host = Host::current();
    if (!host || !handle) return nullptr;
    Object* obj = host->fromHandle(handle);
    if (!obj) {
        bool dead = host->impl().deadHandles.count(handle) != 0;
        host->violation(std::string(service) + ": " +
                        (dead ? "object already destroyed" : "unknown handle"));
        return nullptr;
    }
    T* typed = dynamic_cast<T*>(obj);
    if (!typed) host->violation(std::string(service) + ": not expected on a " + obj->className());
    return typed;
}

template <class H> H handleOf(Object* obj) {
    return obj ? static_cast<H>(obj->handle()) : nullptr;
}

// The answers, each named after its row in the list of services.
namespace answer {

// ---- version and registration ----

void RegisterPluginVersion(int32_t version) {
    guardedVoid("RegisterPluginVersion", [&] { impl().pluginVersion = version; });
}

double GetRBVersion() {
    Host* h = Host::current();
    return h && h->config().version ? *h->config().version : 0.0;
}

void RegisterClass(REALclassDefinition* def) {
    guardedVoid("PluginRegisterClass", [&] { impl().registerClass(def); });
}

void RegisterClassExtension(REALclassDefinition* def) {
    guardedVoid("PluginRegisterClassExtension", [&] { impl().registerClassExtension(def); });
}

void RegisterMethod(REALmethodDefinition* def) {
    guardedVoid("PluginRegisterMethod", [&] { impl().registerMethod(def); });
}

// ---- objects ----

void LockObject(REALobject obj) {
    guardedVoid("REALLockObject", [&] {
        if (Object* o = lookup("REALLockObject", obj)) Host::current()->addRef(o);
    });
}

void UnlockObject(REALobject obj) {
    guardedVoid("REALUnlockObject", [&] {
        if (Object* o = lookup("REALUnlockObject", obj))
            Host::current()->releasePluginRef(o, "REALUnlockObject");
    });
}

REALobject NewInstance(const char* className) {
    return guarded("PluginNewInstance", REALobject(nullptr), [&] {
        const ClassInfo* cls = className ? impl().findClass(className) : nullptr;
        return cls ? handleOf<REALobject>(impl().newInstance(*cls)) : nullptr;
    });
}

REALclassRef ObjectType(const char* className) {
    return guarded("pluginObjectType", REALclassRef(nullptr), [&] {
        const ClassInfo* cls = className ? impl().findClass(className) : nullptr;
        return reinterpret_cast<REALclassRef>(const_cast<ClassInfo*>(cls));
    });
}

const MethodInfo* findByDeclaration(const std::vector<MethodInfo>& list, const Declaration& d) {
    for (const MethodInfo& m : list)
        if (sameSignature(m.decl, d)) return &m;
    return nullptr;
}

void* LoadObjectMethod(REALobject obj, const char* declaration) {
    return guarded("REALLoadObjectMethod", static_cast<void*>(nullptr), [&]() -> void* {
        Object* o = lookup("REALLoadObjectMethod", obj);
        if (!o || !declaration || !o->cls()) return nullptr;
        Declaration wanted;
        try {
            wanted = parseDeclaration(declaration);
        } catch (const DeclarationError&) {
            return nullptr;
        }
        const MethodInfo* m = findByDeclaration(o->cls()->methods, wanted);
        if (!m) m = findByDeclaration(o->cls()->extensions, wanted);
        return m ? m->function : nullptr;
    });
}

void* LoadGlobalMethod(const char* /*module*/, const char* declaration) {
    return guarded("REALLoadGlobalMethod", static_cast<void*>(nullptr), [&]() -> void* {
        if (!declaration) return nullptr;
        Declaration wanted;
        try {
            wanted = parseDeclaration(declaration);
        } catch (const DeclarationError&) {
            return nullptr;
        }
        const MethodInfo* m = findByDeclaration(impl().builtInGlobals, wanted);
        if (!m) m = findByDeclaration(impl().globals, wanted);
        return m ? m->function : nullptr;
    });
}

void* GetClassData(REALobject obj, REALclassDefinition* def) {
    return guarded("REALGetClassData", static_cast<void*>(nullptr), [&]() -> void* {
        // Any object may be asked about; only an instance of that very class has the data.
        auto* inst = dynamic_cast<Instance*>(lookup("REALGetClassData", obj));
        if (!inst || !def || !inst->cls() || inst->cls()->record != def) return nullptr;
        return inst->data();
    });
}

// ---- properties ----

// Reads or writes a property whose declared type is one of kinds.
std::optional<Value> readAs(const char* service, REALobject obj, const char* name,
                            std::initializer_list<TypeKind> kinds) {
    Object* o = lookup(service, obj);
    if (!o || !name || !o->cls()) return std::nullopt;
    const PropertyInfo* p = impl().findProperty(*o->cls(), name);
    if (!p || std::find(kinds.begin(), kinds.end(), p->type.kind) == kinds.end())
        return std::nullopt;
    return impl().readProperty(*o, *p, nullptr);
}

bool writeAs(const char* service, REALobject obj, const char* name,
             std::initializer_list<TypeKind> kinds, const Value& v) {
    Object* o = lookup(service, obj);
    if (!o || !name || !o->cls()) return false;
    const PropertyInfo* p = impl().findProperty(*o->cls(), name);
    if (!p || std::find(kinds.begin(), kinds.end(), p->type.kind) == kinds.end()) return false;
    return impl().writeProperty(*o, *p, v, nullptr);
}

bool GetPropValueInt32(REALobject obj, const char* name, int32_t* out) {
    return guarded("REALGetPropValueInt", false, [&] {
        auto v = readAs("REALGetPropValueInt", obj, name, {TypeKind::Integer});
        if (!v || !out) return false;
        *out = std::get<int32_t>(*v);
        return true;
    });
}

bool SetPropValueInt32(REALobject obj, const char* name, int32_t value) {
    return guarded("REALSetPropValueInt", false, [&] {
        return writeAs("REALSetPropValueInt", obj, name, {TypeKind::Integer}, Value(value));
    });
}

bool SetPropValueUInt32(REALobject obj, const char* name, uint32_t value) {
    return guarded("REALSetPropValueUInt32", false, [&] {
        return writeAs("REALSetPropValueUInt32", obj, name, {TypeKind::UInt32, TypeKind::Color},
                       Value(value));
    });
}

bool GetPropValueUInt8(REALobject obj, const char* name, uint8_t* out) {
    return guarded("REALGetPropValueBool", false, [&] {
        auto v = readAs("REALGetPropValueBool", obj, name, {TypeKind::Boolean});
        if (!v || !out) return false;
        *out = std::get<bool>(*v) ? 1 : 0;
        return true;
    });
}

bool SetPropValueString(REALobject obj, const char* name, REALstring value) {
    return guarded("REALSetPropValueString", false, [&] {
        Value v = Nil{};
        if (value) {
            String* s = lookup<String>("REALSetPropValueString", value);
            if (!s) return false;
            v = Ref::retain(s);
        }
        return writeAs("REALSetPropValueString", obj, name, {TypeKind::String}, v);
    });
}

// ---- exceptions ----

// The host takes its own reference to the exception; it is reported when the call returns.
void RaiseException(REALobject exception) {
    guardedVoid("RuntimeRaiseException", [&] {
        if (Object* o = lookup("RuntimeRaiseException", exception))
            impl().pendingException = Ref::retain(o);
    });
}

// ---- pictures ----

REALpicture NewPicture(int32_t width, int32_t height, int32_t depth) {
    return guarded("newPicture", REALpicture(nullptr), [&]() -> REALpicture {
        // Only 32-bit pictures exist here; sizes beyond 32767 are refused as a host would.
        if (depth != 32 || width < 1 || height < 1 || width > 32767 || height > 32767)
            return nullptr;
        return handleOf<REALpicture>(impl().createPicture(width, height, false));
    });
}

REALgraphics PictureGraphics(REALpicture pic) {
    return guarded("pluginPictureGraphicsGetter", REALgraphics(nullptr), [&]() -> REALgraphics {
        Picture* p = lookup<Picture>("pluginPictureGraphicsGetter", pic);
        if (!p) return nullptr;
        return handleOf<REALgraphics>(impl().create<Graphics>(Ref::retain(p)));
    });
}

REALpicture GetPictureMask(REALpicture pic, int32_t /*create*/) {
    return guarded("REALGetPictureMask", REALpicture(nullptr), [&]() -> REALpicture {
        Picture* p = lookup<Picture>("REALGetPictureMask", pic);
        if (!p || !p->mask) return nullptr;
        Object* m = p->mask.get();
        Host::current()->addRef(m);
        return handleOf<REALpicture>(m);
    });
}

bool olderThan2012() {
    const auto& v = Host::current()->config().version;
    return !v || *v < 2012.0;
}

bool LockPictureDescription3(REALpicture pic, REALpictureDescription* desc, uint32_t type) {
    return guarded("REALLockPictureDescription", false, [&] {
        Picture* p = lookup<Picture>("REALLockPictureDescription", pic);
        if (!p || !desc) return false;
        bool ok = false;
        if (type == kPictureTypeBitmapContext && p->form() == PictureForm::Bitmap &&
            !p->bitmapLockFails) {
            *desc = {kPictureTypeBitmapContext, p->bitmapContext(), p->width(), p->height(), {}};
            ok = true;
        } else if (type == kPictureTypeTrueColorImage && p->form() == PictureForm::Record) {
            *desc = {kPictureTypeTrueColorImage, p->trueColorImage(), p->width(), p->height(), {}};
            ok = true;
        }
        // Hosts before 2012.0 count a refused lock as held until it is unlocked.
        if (ok || olderThan2012()) ++p->descriptionLocks;
        return ok;
    });
}

bool LockPictureDescription2(REALpicture pic, REALpictureDescription* desc) {
    return guarded("lockPictureDescription", false, [&] {
        Picture* p = lookup<Picture>("lockPictureDescription", pic);
        if (!p || !desc) return false;
        if (p->form() == PictureForm::Bitmap) {
            if (p->bitmapLockFails) return false;
            if (Host::current()->config().legacyPictures)
                *desc = legacyDescription(*p);
            else
                *desc = {
                    kPictureTypeBitmapContext, p->bitmapContext(), p->width(), p->height(), {}};
        } else {
            *desc = {kPictureTypeTrueColorImage, p->trueColorImage(), p->width(), p->height(), {}};
        }
        ++p->descriptionLocks;
        return true;
    });
}

void UnlockPictureDescription(REALpicture pic) {
    guardedVoid("unlockPictureDescription", [&] {
        Picture* p = lookup<Picture>("unlockPictureDescription", pic);
        if (!p) return;
        if (p->descriptionLocks <= 0) {
            Host::current()->violation("unlockPictureDescription: no description lock held on " +
                                       describe(Ref::retain(p)));
            return;
        }
        --p->descriptionLocks;
    });
}

void PictureClearCache(REALpicture pic) {
    guardedVoid("REALPictureClearCache", [&] {
        if (Picture* p = lookup<Picture>("REALPictureClearCache", pic)) ++p->cacheClears;
    });
}

// Lines are drawn into the Graphics' picture with its pen, and recorded as asked for.
void GraphicsDrawLine(REALgraphics g, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    guardedVoid("RuntimeGraphicsDrawLine", [&] {
        Graphics* gr = lookup<Graphics>("RuntimeGraphicsDrawLine", g);
        if (!gr) return;
        gr->lines.push_back({x1, y1, x2, y2});
        if (Picture* p = gr->picture())
            drawLine(*p, gr->foreColor, gr->penWidth, gr->penHeight, x1, y1, x2, y2);
    });
}

// ---- strings ----

// A new string is tagged raw (no encoding) until the plugin sets one.
REALstring BuildString(const void* bytes, int32_t length) {
    return guarded("REALBuildString", REALstring(nullptr), [&]() -> REALstring {
        if (length < 0 || (!bytes && length > 0)) return nullptr;
        auto span = std::span<const uint8_t>(static_cast<const uint8_t*>(bytes), size_t(length));
        return handleOf<REALstring>(impl().create<String>(span, kREALTextEncodingRaw));
    });
}

void SetStringEncoding(REALstring s, uint32_t encoding) {
    guardedVoid("REALSetStringEncoding", [&] {
        if (String* str = lookup<String>("REALSetStringEncoding", s)) str->encoding = encoding;
    });
}

uint32_t GetStringEncoding(REALstring s) {
    return guarded("REALGetStringEncoding", uint32_t(kREALTextEncodingRaw), [&] {
        String* str = lookup<String>("REALGetStringEncoding", s);
        return str ? str->encoding : uint32_t(kREALTextEncodingRaw);
    });
}

REALstring ConvertString(REALstring s, uint32_t encoding) {
    return guarded("REALConvertString", REALstring(nullptr), [&]() -> REALstring {
        String* str = lookup<String>("REALConvertString", s);
        if (!str) return nullptr;
        auto text = convertText(str->bytes(), str->encoding, encoding);
        if (!text) return nullptr;
        auto span =
            std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text->data()), text->size());
        return handleOf<REALstring>(impl().create<String>(span, encoding));
    });
}

void LockString(REALstring s) {
    guardedVoid("REALLockString", [&] {
        if (String* str = lookup<String>("REALLockString", s)) Host::current()->addRef(str);
    });
}

void UnlockString(REALstring s) {
    guardedVoid("REALUnlockString", [&] {
        if (String* str = lookup<String>("REALUnlockString", s))
            Host::current()->releasePluginRef(str, "REALUnlockString");
    });
}

// The bytes in the requested encoding (0xFFFF: as stored), in a block of their own followed by
// four zero bytes; the block lives until PluginDisposeStringData. A host that does not offer
// "PluginDisposeStringData" hands the block over: it is the caller's to free().
// String-data blocks from this size on live on pooled storage.
constexpr size_t kPooledStringDataBytes = size_t(1) << 20;

bool GetStringData(REALstring s, uint32_t encoding, REALstringData* out) {
    return guarded("PluginGetStringData", false, [&] {
        String* str = lookup<String>("PluginGetStringData", s);
        if (!str || !out) return false;
        // The string's own bytes are copied straight into the block; a converted text first.
        std::span<const uint8_t> bytes = str->bytes();
        std::string converted;
        if (encoding != kREALTextEncodingRaw && encoding != str->encoding) {
            auto text = convertText(str->bytes(), str->encoding, encoding);
            if (!text) return false;
            converted = std::move(*text);
            bytes = {reinterpret_cast<const uint8_t*>(converted.data()), converted.size()};
        }
        // A block the plugin gives back through PluginDisposeStringData may be pooled storage,
        // whose pages a large block of the same size reuses; without that service the plugin
        // frees the block itself, so it comes from malloc.
        const bool disposed = !Host::current()->config().withheld.count("PluginDisposeStringData");
        PixelBuffer storage;
        if (disposed && bytes.size() >= kPooledStringDataBytes)
            storage = PixelBuffer(bytes.size() + 4);
        auto* block = storage.empty() ? static_cast<char*>(std::malloc(bytes.size() + 4))
                                      : reinterpret_cast<char*>(storage.data());
        if (!block) return false;
        std::memcpy(block, bytes.data(), bytes.size());
        std::memset(block + bytes.size(), 0, 4);
        if (disposed) impl().stringData.emplace(block, std::move(storage));
        *out = {block, uint32_t(bytes.size()), encoding, {0, 0}};
        return true;
    });
}

void DisposeStringData(REALstringData* data) {
    guardedVoid("PluginDisposeStringData", [&] {
        if (!data) return;
        auto& outstanding = impl().stringData;
        auto it = outstanding.find(data->data);
        if (it == outstanding.end()) {
            Host::current()->violation(
                "PluginDisposeStringData: record not handed out or already disposed");
            return;
        }
        if (it->second.empty()) std::free(const_cast<void*>(data->data));
        outstanding.erase(it);
        data->data = nullptr;
        data->length = 0;
    });
}

const char* StringGetCString(REALstring s) {
    return guarded("StringGetCString", static_cast<const char*>(nullptr), [&]() -> const char* {
        String* str = lookup<String>("StringGetCString", s);
        return str ? reinterpret_cast<const char*>(str->bytes().data()) : nullptr;
    });
}

// ---- MemoryBlocks ----

REALmemoryBlock NewMemoryBlock(int32_t size) {
    return guarded("newMemoryBlock", REALmemoryBlock(nullptr), [&]() -> REALmemoryBlock {
        if (size < 0) return nullptr;
        return handleOf<REALmemoryBlock>(impl().create<MemoryBlock>(size_t(size)));
    });
}

void* MemoryBlockGetPtr(REALmemoryBlock m) {
    return guarded("memoryBlockGetPtr", static_cast<void*>(nullptr), [&]() -> void* {
        MemoryBlock* mb = lookup<MemoryBlock>("memoryBlockGetPtr", m);
        return mb ? mb->bytes.data() : nullptr;
    });
}

int32_t MemoryBlockGetSize(REALmemoryBlock m) {
    return guarded("memoryBlockGetSize", int32_t(0), [&] {
        MemoryBlock* mb = lookup<MemoryBlock>("memoryBlockGetSize", m);
        return mb ? int32_t(mb->bytes.size()) : 0;
    });
}

} // namespace answer

// Every service of the list, answered by the function of its name here, of exactly its declared
// type, and in the list's order.
#define QRX_ANSWER_CHECK(Service, Name, Signature)                                                 \
    static_assert(std::is_same_v<decltype(answer::Service), Signature>,                            \
                  Name " is answered with another type");
QRX_HOST_SERVICES(QRX_ANSWER_CHECK)
#undef QRX_ANSWER_CHECK

void* const kAnswers[] = {
#define QRX_ANSWER(Service, Name, Signature) reinterpret_cast<void*>(&answer::Service),
    QRX_HOST_SERVICES(QRX_ANSWER)
#undef QRX_ANSWER
};

} // namespace

void* serviceFunction(std::string_view name) {
    for (std::size_t i = 0; i < std::size(kAnswers); ++i)
        if (name == kHostServiceNames[i]) return kAnswers[i];
    return nullptr;
}

// ---- built-in methods ----

void builtInPictureConstructor(REALobject pic, int32_t width, int32_t height) {
    guardedVoid("Picture.Constructor", [&] {
        if (Picture* p = lookup<Picture>("Picture.Constructor", pic))
            p->construct(width, height, true);
    });
}

void builtInDrawPicture(REALgraphics g, REALpicture src, int32_t x, int32_t y, int32_t w, int32_t h,
                        int32_t sx, int32_t sy, int32_t sw, int32_t sh) {
    guardedVoid("Graphics.DrawPicture", [&] {
        Graphics* gr = lookup<Graphics>("Graphics.DrawPicture", g);
        Picture* s = lookup<Picture>("Graphics.DrawPicture", src);
        if (!gr || !s || !gr->picture()) return;
        drawPicture(*gr->picture(), *s, x, y, w, h, sx, sy, sw, sh);
    });
}

int32_t builtInLenB(REALstring s) {
    return guarded("LenB", int32_t(0), [&] {
        String* str = lookup<String>("LenB", s);
        return str ? int32_t(str->bytes().size()) : 0;
    });
}

} // namespace qrx
