// Built-in classes, and the classes and methods a plugin registers, kept as received.
#include <cstring>

#include "host_impl.h"

namespace qrx {

namespace {

Type typeNamed(std::string_view name) {
    Type t;
    t.name = std::string(name);
    t.kind = typeKindFromName(name).value_or(TypeKind::Object);
    return t;
}

PropertyInfo builtInProperty(const char* name, const char* type) {
    PropertyInfo p;
    p.name = name;
    p.type = typeNamed(type);
    return p;
}

MethodInfo builtInMethod(const std::string& className, const char* declaration, void* fn) {
    MethodInfo m;
    m.className = className;
    m.decl = parseDeclaration(declaration);
    m.function = fn;
    m.builtIn = true;
    return m;
}

std::string quoted(const char* s) {
    if (!s) return "(null)";
    // Built by appending: GCC 12 at -O3 warns falsely (-Wrestrict) about "\"" + std::string(s).
    std::string out;
    out.reserve(std::strlen(s) + 2);
    out += '"';
    out += s;
    out += '"';
    return out;
}

size_t nativeSize(const Type& t) {
    switch (t.kind) {
    case TypeKind::Integer:
    case TypeKind::UInt32:
    case TypeKind::Color:
        return 4;
    case TypeKind::Double:
        return 8;
    case TypeKind::Boolean:
        return 1;
    default:
        return sizeof(void*);
    }
}

} // namespace

bool PropertyInfo::direct() const {
    return getter == REALstandardGetter;
}

ClassInfo* Host::Impl::findClass(std::string_view name) const {
    for (const auto& c : classes)
        if (equalsNoCase(c->name, name)) return c.get();
    return nullptr;
}

void Host::Impl::registerBuiltIns() {
    auto add = [&](const char* name) {
        auto cls = std::make_unique<ClassInfo>();
        cls->name = name;
        cls->builtIn = true;
        classes.push_back(std::move(cls));
        return classes.back().get();
    };
    pictureClass = add("Picture");
    pictureClass->properties = {builtInProperty("Width", "Integer"),
                                builtInProperty("Height", "Integer"),
                                builtInProperty("HasAlphaChannel", "Boolean")};
    pictureClass->methods.push_back(
        builtInMethod("Picture", "Constructor(width as integer, height as integer)",
                      reinterpret_cast<void*>(&builtInPictureConstructor)));

    graphicsClass = add("Graphics");
    graphicsClass->properties = {builtInProperty("ForeColor", "Color"),
                                 builtInProperty("PenWidth", "Integer"),
                                 builtInProperty("PenHeight", "Integer")};
    graphicsClass->methods.push_back(builtInMethod(
        "Graphics",
        "DrawPicture(Image as Picture, x as Integer, y as Integer, w as Integer, h as Integer, "
        "sx as Integer = 0, sy as Integer = 0, sw as Integer = -10000, sh as Integer = -10000)",
        reinterpret_cast<void*>(&builtInDrawPicture)));

    memoryBlockClass = add("MemoryBlock");
    memoryBlockClass->properties = {builtInProperty("Size", "Integer")};
    stringClass = add("String");
    for (const char* name : {"NilObjectException", "RuntimeException"})
        add(name)->properties = {builtInProperty("Message", "String")};
    switch (host.config().kind) {
    case HostKind::Desktop:
        add("Application");
        break;
    case HostKind::Console:
        add("ConsoleApplication");
        break;
    case HostKind::Web:
        add("WebApplication");
        break;
    }
    builtInGlobals.push_back(
        builtInMethod("", "LenB( s as string ) as integer", reinterpret_cast<void*>(&builtInLenB)));
}

namespace {

// Reads the methods of one array into out; faults go to errors.
void readMethods(const std::string& className, const REALmethodDefinition* defs, int32_t count,
                 std::vector<MethodInfo>& out, std::vector<std::string>& errors) {
    if (!defs || count <= 0) return;
    for (int32_t i = 0; i < count; ++i) {
        const REALmethodDefinition& d = defs[i];
        std::string where =
            (className.empty() ? "" : className + ": ") + "method " + quoted(d.declaration);
        if (!d.declaration) {
            errors.push_back(where + ": no declaration");
            continue;
        }
        MethodInfo m;
        m.className = className;
        try {
            m.decl = parseDeclaration(d.declaration);
        } catch (const DeclarationError& e) {
            errors.push_back(where + ": " + e.what());
            continue;
        }
        if (!d.function) {
            errors.push_back(where + ": no function");
            continue;
        }
        if (d.setterFunction && !m.decl.result) {
            errors.push_back(where + ": an assignable method needs a result type");
            continue;
        }
        m.function = d.function;
        m.setter = d.setterFunction;
        m.flags = d.flags;
        out.push_back(std::move(m));
    }
}

void readProperties(const std::string& className, uint32_t dataSize, const REALproperty* defs,
                    int32_t count, std::vector<PropertyInfo>& out,
                    std::vector<std::string>& errors) {
    if (!defs || count <= 0) return;
    for (int32_t i = 0; i < count; ++i) {
        const REALproperty& d = defs[i];
        std::string where = className + ": property " + quoted(d.name);
        if (!d.name || !d.type) {
            errors.push_back(where + ": no name or no type");
            continue;
        }
        PropertyInfo p;
        p.name = d.name;
        p.type = typeNamed(d.type);
        p.flags = d.flags;
        p.getter = d.getter;
        p.setter = d.setter;
        p.offset = d.param;
        bool directGet = d.getter == REALstandardGetter, directSet = d.setter == REALstandardSetter;
        if (directGet || directSet) {
            if (p.type.kind != TypeKind::Integer && p.type.kind != TypeKind::Double &&
                p.type.kind != TypeKind::Picture) {
                errors.push_back(where + ": type " + quoted(d.type) +
                                 " cannot be kept in the instance data");
                continue;
            }
            if (uint64_t(d.param) + nativeSize(p.type) > dataSize) {
                errors.push_back(where + ": offset " + std::to_string(d.param) +
                                 " lies outside the instance data of " + std::to_string(dataSize) +
                                 " bytes");
                continue;
            }
        }
        if (!d.getter) {
            errors.push_back(where + ": no getter");
            continue;
        }
        if (p.type.kind == TypeKind::Object) {
            errors.push_back(where + ": unknown type " + quoted(d.type));
            continue;
        }
        out.push_back(std::move(p));
    }
}

} // namespace

void Host::Impl::registerClass(const REALclassDefinition* def) {
    if (!def) {
        host.violation("PluginRegisterClass with a null record");
        return;
    }
    if (!def->name) {
        registrationErrors.push_back("class record without a name");
        return;
    }
    if (findClass(def->name)) {
        registrationErrors.push_back("class " + quoted(def->name) + " is already registered");
        return;
    }
    auto cls = std::make_unique<ClassInfo>();
    cls->name = def->name;
    cls->dataSize = def->dataSize;
    cls->flags = def->flags;
    cls->constructor = def->constructor;
    cls->destructor = def->destructor;
    cls->record = def;
    readProperties(cls->name, def->dataSize, def->properties, def->propertyCount, cls->properties,
                   registrationErrors);
    readProperties(cls->name, def->dataSize, def->moreProperties, def->morePropertyCount,
                   cls->properties, registrationErrors);
    readMethods(cls->name, def->methods, def->methodCount, cls->methods, registrationErrors);
    readMethods(cls->name, def->moreMethods, def->moreMethodCount, cls->methods,
                registrationErrors);
    log.push_back("class " + cls->name);
    classes.push_back(std::move(cls));
}

void Host::Impl::registerClassExtension(const REALclassDefinition* def) {
    if (!def) {
        host.violation("PluginRegisterClassExtension with a null record");
        return;
    }
    ClassInfo* cls = def->name ? findClass(def->name) : nullptr;
    if (!cls || !cls->builtIn) {
        registrationErrors.push_back("extension of " + quoted(def->name) +
                                     ": no such built-in class");
        return;
    }
    if ((def->properties && def->propertyCount > 0) ||
        (def->moreProperties && def->morePropertyCount > 0)) {
        registrationErrors.push_back("extension of " + cls->name +
                                     ": a class extension cannot add properties");
    }
    readMethods(cls->name, def->methods, def->methodCount, cls->extensions, registrationErrors);
    readMethods(cls->name, def->moreMethods, def->moreMethodCount, cls->extensions,
                registrationErrors);
    log.push_back("extension " + cls->name);
}

void Host::Impl::registerMethod(const REALmethodDefinition* def) {
    if (!def) {
        host.violation("PluginRegisterMethod with a null record");
        return;
    }
    size_t before = globals.size();
    readMethods("", def, 1, globals, registrationErrors);
    if (globals.size() > before) log.push_back("method " + globals.back().decl.text);
}

Object* Host::Impl::newInstance(const ClassInfo& cls) {
    if (&cls == pictureClass) {
        // Made by "Constructor(width, height)" afterwards, with an alpha channel.
        return createPicture(0, 0, true);
    }
    if (&cls == graphicsClass) return nullptr; // a Graphics belongs to a picture
    if (&cls == memoryBlockClass) return create<MemoryBlock>(0);
    if (&cls == stringClass)
        return create<String>(std::span<const uint8_t>(), kREALTextEncodingUTF8);
    Instance* obj = create<Instance>(&cls, cls.dataSize);
    if (cls.constructor) {
        void* handle = obj->handle();
        callPlugin(reinterpret_cast<void*>(cls.constructor), std::span<void* const>(&handle, 1));
    }
    return obj;
}

void Host::Impl::destroy(Object* obj) {
    if (auto* inst = dynamic_cast<Instance*>(obj)) {
        const ClassInfo* cls = inst->cls();
        if (cls && cls->destructor) {
            void* handle = inst->handle();
            Host* previous = Host::current();
            callPlugin(reinterpret_cast<void*>(cls->destructor),
                       std::span<void* const>(&handle, 1));
            if (previous) previous->makeCurrent();
        }
    }
    if (auto* pic = dynamic_cast<Picture*>(obj); pic && pic->descriptionLocks > 0) {
        orphanLocks += pic->descriptionLocks;
        host.violation("Picture " + std::to_string(pic->width()) + "x" +
                       std::to_string(pic->height()) + " destroyed with " +
                       std::to_string(pic->descriptionLocks) + " description lock(s) held");
    }
    host.untrack(obj);
    delete obj;
}

} // namespace qrx
