// Calls of registered methods with host values, and property access.
#include <cstring>

#include "host_impl.h"
#include "native_call.h"

namespace qrx {

namespace {

const char* kindWord(TypeKind k) {
    switch (k) {
    case TypeKind::Integer:
        return "Integer";
    case TypeKind::UInt32:
        return "UInt32";
    case TypeKind::Double:
        return "Double";
    case TypeKind::Boolean:
        return "Boolean";
    case TypeKind::Color:
        return "Color";
    case TypeKind::String:
        return "String";
    case TypeKind::Picture:
        return "Picture";
    case TypeKind::MemoryBlock:
        return "MemoryBlock";
    case TypeKind::Object:
        return "Object";
    }
    return "?";
}

bool isObjectKind(TypeKind k) {
    return k == TypeKind::String || k == TypeKind::Picture || k == TypeKind::MemoryBlock ||
           k == TypeKind::Object;
}

// The value in the form its type travels in, or nullopt when it does not fit the type. An
// Integer is accepted for Double, UInt32 and Color; nil for any object type.
std::optional<Value> coerce(const Value& v, const Type& t) {
    switch (t.kind) {
    case TypeKind::Integer:
        if (auto* i = std::get_if<int32_t>(&v)) return *i;
        return std::nullopt;
    case TypeKind::UInt32:
        if (auto* u = std::get_if<uint32_t>(&v)) return *u;
        if (auto* i = std::get_if<int32_t>(&v)) return uint32_t(*i);
        if (auto* c = std::get_if<Color>(&v)) return c->value;
        return std::nullopt;
    case TypeKind::Color:
        if (auto* c = std::get_if<Color>(&v)) return *c;
        if (auto* u = std::get_if<uint32_t>(&v)) return Color{*u};
        if (auto* i = std::get_if<int32_t>(&v)) return Color{uint32_t(*i)};
        return std::nullopt;
    case TypeKind::Double:
        if (auto* d = std::get_if<double>(&v)) return *d;
        if (auto* i = std::get_if<int32_t>(&v)) return double(*i);
        return std::nullopt;
    case TypeKind::Boolean:
        if (auto* b = std::get_if<bool>(&v)) return *b;
        return std::nullopt;
    default:
        break;
    }
    if (std::holds_alternative<Nil>(v)) return Value(Nil{});
    const Ref* r = std::get_if<Ref>(&v);
    if (!r) return std::nullopt;
    if (!*r) return Value(Nil{});
    bool fits = false;
    switch (t.kind) {
    case TypeKind::String:
        fits = r->as<String>() != nullptr;
        break;
    case TypeKind::Picture:
        fits = r->as<Picture>() != nullptr;
        break;
    case TypeKind::MemoryBlock:
        fits = r->as<MemoryBlock>() != nullptr;
        break;
    default:
        fits = equalsNoCase((*r)->className(), t.name);
    }
    return fits ? std::optional<Value>(v) : std::nullopt;
}

// Whether the value already has the type's own form (preferred when overloads compete).
bool exact(const Value& v, const Type& t) {
    switch (t.kind) {
    case TypeKind::Integer:
        return std::holds_alternative<int32_t>(v);
    case TypeKind::UInt32:
        return std::holds_alternative<uint32_t>(v);
    case TypeKind::Color:
        return std::holds_alternative<Color>(v);
    case TypeKind::Double:
        return std::holds_alternative<double>(v);
    case TypeKind::Boolean:
        return std::holds_alternative<bool>(v);
    default:
        return true;
    }
}

NativeValue toNative(const Value& v) {
    NativeValue n;
    n.ptr = nullptr;
    std::visit(
        [&](const auto& x) {
            using X = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<X, int32_t>)
                n.i32 = x;
            else if constexpr (std::is_same_v<X, uint32_t>)
                n.u32 = x;
            else if constexpr (std::is_same_v<X, double>)
                n.f64 = x;
            else if constexpr (std::is_same_v<X, bool>)
                n.u8 = x ? 1 : 0;
            else if constexpr (std::is_same_v<X, Color>)
                n.u32 = x.value;
            else if constexpr (std::is_same_v<X, Ref>)
                n.ptr = x ? x->handle() : nullptr;
        },
        v);
    return n;
}

// A value coming back from plugin code. An object handed back carries one reference, which the
// returned Ref adopts.
Value fromNative(Host& host, NativeValue n, const Type& t, const std::string& what) {
    switch (t.kind) {
    case TypeKind::Integer:
        return n.i32;
    case TypeKind::UInt32:
        return n.u32;
    case TypeKind::Color:
        return Color{n.u32};
    case TypeKind::Double:
        return n.f64;
    case TypeKind::Boolean:
        return n.u8 != 0;
    default:
        break;
    }
    if (!n.ptr) return Nil{};
    Object* obj = host.fromHandle(n.ptr);
    if (!obj) {
        host.violation(what + " handed back an unknown object handle");
        return Nil{};
    }
    // A plugin that could not take a reference (no lock service) hands back one it never had:
    // the host takes its own rather than adopt one that belongs to someone else.
    if (obj->refCount() <= obj->hostRefCount()) {
        host.violation(what + " handed back a " + obj->className() +
                       " without a reference of its own");
        return Ref::retain(obj);
    }
    return Ref::adopt(obj);
}

std::string signatureList(const std::vector<const MethodInfo*>& methods) {
    std::string s;
    for (const MethodInfo* m : methods)
        s += "\n  " + m->decl.text;
    return s;
}

std::string argumentList(const std::vector<Value>& args) {
    std::string s = "(";
    for (size_t i = 0; i < args.size(); ++i)
        s += (i ? ", " : "") + describe(args[i]);
    return s + ")";
}

// The overload taking these arguments: the fitting one with the most arguments already in their
// parameter's own form; among equals, the first registered.
const MethodInfo* choose(const std::vector<const MethodInfo*>& candidates,
                         const std::vector<Value>& args, bool assignable) {
    const MethodInfo* best = nullptr;
    int bestScore = -1;
    for (const MethodInfo* m : candidates) {
        if (assignable && !m->setter) continue;
        const auto& params = m->decl.params;
        if (args.size() < m->decl.requiredCount() || args.size() > params.size()) continue;
        int score = 0;
        bool fits = true;
        for (size_t i = 0; i < args.size() && fits; ++i) {
            fits = coerce(args[i], params[i].type).has_value();
            score += fits && exact(args[i], params[i].type);
        }
        if (fits && score > bestScore) best = m, bestScore = score;
    }
    return best;
}

std::string qualified(const MethodInfo& m) {
    return m.className.empty() ? m.decl.name : m.className + "." + m.decl.name;
}

} // namespace

// ---- properties -----------------------------------------------------------------------------

const PropertyInfo* Host::Impl::findProperty(const ClassInfo& cls, std::string_view name) const {
    for (const PropertyInfo& p : cls.properties)
        if (equalsNoCase(p.name, name)) return &p;
    return nullptr;
}

std::optional<Value> Host::Impl::readProperty(Object& obj, const PropertyInfo& prop,
                                              std::string* why) {
    auto fail = [&](std::string reason) -> std::optional<Value> {
        if (why) *why = std::move(reason);
        return std::nullopt;
    };
    if (auto* p = dynamic_cast<Picture*>(&obj)) {
        if (equalsNoCase(prop.name, "Width")) return int32_t(p->width());
        if (equalsNoCase(prop.name, "Height")) return int32_t(p->height());
        if (equalsNoCase(prop.name, "HasAlphaChannel")) return p->hasAlpha();
    } else if (auto* g = dynamic_cast<Graphics*>(&obj)) {
        if (equalsNoCase(prop.name, "ForeColor")) return Color{g->foreColor};
        if (equalsNoCase(prop.name, "PenWidth")) return g->penWidth;
        if (equalsNoCase(prop.name, "PenHeight")) return g->penHeight;
    } else if (auto* m = dynamic_cast<MemoryBlock*>(&obj)) {
        if (equalsNoCase(prop.name, "Size")) return int32_t(m->bytes.size());
    } else if (auto* inst = dynamic_cast<Instance*>(&obj)) {
        if (inst->cls()->builtIn) { // exceptions: "Message"
            if (equalsNoCase(prop.name, "Message"))
                return Ref::adopt(create<String>(
                    std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(inst->message.data()),
                                             inst->message.size()),
                    kREALTextEncodingUTF8));
        } else if (prop.direct()) {
            const auto* at = static_cast<const uint8_t*>(inst->data()) + prop.offset;
            switch (prop.type.kind) {
            case TypeKind::Integer: {
                int32_t v;
                std::memcpy(&v, at, 4);
                return v;
            }
            case TypeKind::Double: {
                double v;
                std::memcpy(&v, at, 8);
                return v;
            }
            default: {
                void* h;
                std::memcpy(&h, at, sizeof h);
                if (!h) return Value(Nil{});
                Object* o = host.fromHandle(h);
                if (!o) return fail("property " + prop.name + " holds an unknown object handle");
                return Ref::retain(o);
            }
            }
        } else {
            host.makeCurrent();
            NativeType types[] = {NativeType::Pointer, NativeType::Int32};
            NativeValue args[2];
            args[0].ptr = inst->handle();
            args[1].i32 = int32_t(prop.offset);
            NativeValue r = callNative(prop.getter, nativeTypeOf(prop.type), types, args);
            return fromNative(host, r, prop.type, obj.className() + "." + prop.name);
        }
    }
    return fail(obj.className() + " has no readable property " + prop.name);
}

bool Host::Impl::writeProperty(Object& obj, const PropertyInfo& prop, const Value& value,
                               std::string* why) {
    auto fail = [&](std::string reason) {
        if (why) *why = std::move(reason);
        return false;
    };
    std::optional<Value> v = coerce(value, prop.type);
    if (!v)
        return fail(describe(value) + " is not a value of " + obj.className() + "." + prop.name +
                    " (" + kindWord(prop.type.kind) + ")");
    if (auto* g = dynamic_cast<Graphics*>(&obj)) {
        if (equalsNoCase(prop.name, "ForeColor"))
            return g->foreColor = std::get<Color>(*v).value, true;
        if (equalsNoCase(prop.name, "PenWidth")) return g->penWidth = std::get<int32_t>(*v), true;
        if (equalsNoCase(prop.name, "PenHeight")) return g->penHeight = std::get<int32_t>(*v), true;
    } else if (auto* inst = dynamic_cast<Instance*>(&obj)) {
        if (inst->cls()->builtIn) {
            if (equalsNoCase(prop.name, "Message")) {
                const Ref* r = std::get_if<Ref>(&*v);
                inst->message = r && *r ? r->as<String>()->text() : std::string();
                return true;
            }
        } else if (prop.setter == REALstandardSetter) {
            auto* at = static_cast<uint8_t*>(inst->data()) + prop.offset;
            switch (prop.type.kind) {
            case TypeKind::Integer:
                std::memcpy(at, &std::get<int32_t>(*v), 4);
                return true;
            case TypeKind::Double:
                std::memcpy(at, &std::get<double>(*v), 8);
                return true;
            default: {
                // The instance holds one reference to the picture in the property: the new
                // one is locked, then the old one unlocked.
                void* old;
                std::memcpy(&old, at, sizeof old);
                const Ref* r = std::get_if<Ref>(&*v);
                void* h = r && *r ? (*r)->handle() : nullptr;
                if (r && *r) host.addRef(r->get());
                std::memcpy(at, &h, sizeof h);
                if (old) {
                    if (Object* o = host.fromHandle(old))
                        host.releaseRef(o);
                    else
                        host.violation(obj.className() + "." + prop.name +
                                       " held an unknown object handle");
                }
                return true;
            }
            }
        } else if (prop.setter) {
            host.makeCurrent();
            NativeType types[] = {NativeType::Pointer, NativeType::Int32, nativeTypeOf(prop.type)};
            NativeValue args[3];
            args[0].ptr = inst->handle();
            args[1].i32 = int32_t(prop.offset);
            args[2] = toNative(*v);
            callNative(prop.setter, NativeType::Void, types, args);
            return true;
        }
    }
    return fail(obj.className() + "." + prop.name + " cannot be set");
}

Value Host::getProperty(const Ref& obj, std::string_view name) {
    if (!obj) throw CallError("property " + std::string(name) + " of nil");
    const PropertyInfo* p = obj->cls() ? impl_->findProperty(*obj->cls(), name) : nullptr;
    if (!p) throw CallError(obj->className() + " has no property " + std::string(name));
    std::string why;
    auto v = impl_->readProperty(*obj.get(), *p, &why);
    if (!v) throw CallError(why);
    return std::move(*v);
}

void Host::setProperty(const Ref& obj, std::string_view name, const Value& value) {
    if (!obj) throw CallError("property " + std::string(name) + " of nil");
    const PropertyInfo* p = obj->cls() ? impl_->findProperty(*obj->cls(), name) : nullptr;
    if (!p) throw CallError(obj->className() + " has no property " + std::string(name));
    std::string why;
    if (!impl_->writeProperty(*obj.get(), *p, value, &why)) throw CallError(why);
}

// ---- calls ----------------------------------------------------------------------------------

namespace {

struct Prepared {
    std::vector<NativeType> types;
    std::vector<NativeValue> values;
    std::vector<Value> args;        // the arguments after defaults and conversion
    std::vector<NativeValue> slots; // byref slots, one per parameter
};

Prepared prepare(const MethodInfo& m, const Ref& self, std::vector<Value> args) {
    const auto& params = m.decl.params;
    if (args.size() < m.decl.requiredCount() || args.size() > params.size())
        throw CallError(qualified(m) + " takes " + std::to_string(m.decl.requiredCount()) +
                        (m.decl.requiredCount() == params.size()
                             ? ""
                             : " to " + std::to_string(params.size())) +
                        " arguments, not " + std::to_string(args.size()) + ": " + m.decl.text);
    Prepared p;
    if (!m.className.empty()) {
        if (!self) throw CallError(qualified(m) + " called on nil");
        const ClassInfo* cls = self->cls();
        if (!cls || !equalsNoCase(cls->name, m.className))
            throw CallError(qualified(m) + " called on a " + self->className());
        p.types.push_back(NativeType::Pointer);
        NativeValue s;
        s.ptr = self->handle();
        p.values.push_back(s);
    }
    for (size_t i = args.size(); i < params.size(); ++i)
        args.push_back(*params[i].defaultValue);
    p.slots.resize(params.size());
    for (size_t i = 0; i < params.size(); ++i) {
        auto v = coerce(args[i], params[i].type);
        if (!v)
            throw CallError(qualified(m) + ": argument " + std::to_string(i + 1) + " (" +
                            params[i].name + " as " + params[i].type.name + ") cannot take " +
                            describe(args[i]));
        p.args.push_back(std::move(*v));
    }
    // Values are taken only once every argument is in place: the slots must not move.
    for (size_t i = 0; i < params.size(); ++i) {
        NativeValue n = toNative(p.args[i]);
        if (params[i].byRef) {
            p.slots[i] = n;
            n.ptr = &p.slots[i];
        }
        p.types.push_back(nativeTypeOf(params[i].type, params[i].byRef));
        p.values.push_back(n);
    }
    return p;
}

} // namespace

CallResult Host::invoke(const MethodInfo& method, const Ref& self, std::vector<Value> args) {
    Prepared p = prepare(method, self, std::move(args));
    makeCurrent();
    impl_->pendingException.reset();
    NativeType resultType =
        method.decl.result ? nativeTypeOf(*method.decl.result) : NativeType::Void;
    NativeValue r = callNative(method.function, resultType, p.types, p.values);

    CallResult out;
    out.method = &method;
    if (method.decl.result)
        out.result = fromNative(*this, r, *method.decl.result, qualified(method));
    const auto& params = method.decl.params;
    out.byRef.resize(params.size());
    for (size_t i = 0; i < params.size(); ++i) {
        if (!params[i].byRef) continue;
        const Type& t = params[i].type;
        if (!isObjectKind(t.kind)) {
            out.byRef[i] = fromNative(*this, p.slots[i], t, qualified(method));
            continue;
        }
        // A byref object variable owns one reference before and after the call. If the plugin
        // left the same object in the slot, the variable keeps its reference; if it put another
        // object there, it handed over one reference to that object, which the variable adopts,
        // and the variable's reference to the old object is dropped (with the prepared
        // arguments, at the end of this call).
        const Ref* before = std::get_if<Ref>(&p.args[i]);
        void* oldHandle = before && *before ? (*before)->handle() : nullptr;
        if (p.slots[i].ptr == oldHandle)
            out.byRef[i] = std::move(p.args[i]);
        else
            out.byRef[i] = fromNative(*this, p.slots[i], t, qualified(method));
    }
    if (impl_->pendingException) {
        Ref ex = std::move(impl_->pendingException);
        auto* inst = ex.as<Instance>();
        out.exception = RaisedException{ex->className(), inst ? inst->message : std::string()};
    }
    return out;
}

CallResult Host::call(const Ref& self, std::string_view methodName, std::vector<Value> args) {
    if (!self) throw CallError(std::string(methodName) + " called on nil");
    std::string className = self->className();
    auto candidates = overloads(className, methodName);
    if (candidates.empty())
        throw CallError(className + " has no method " + std::string(methodName));
    const MethodInfo* m = choose(candidates, args, false);
    if (!m)
        throw CallError("no overload of " + className + "." + std::string(methodName) + " takes " +
                        argumentList(args) + "; declared:" + signatureList(candidates));
    return invoke(*m, self, std::move(args));
}

CallResult Host::callGlobal(std::string_view name, std::vector<Value> args) {
    auto candidates = globalOverloads(name);
    if (candidates.empty()) throw CallError("no global method " + std::string(name));
    const MethodInfo* m = choose(candidates, args, false);
    if (!m)
        throw CallError("no overload of " + std::string(name) + " takes " + argumentList(args) +
                        "; declared:" + signatureList(candidates));
    return invoke(*m, Ref(), std::move(args));
}

// Name(args) = value: the setter takes the object, the declared parameters, then the value.
CallResult Host::assign(const Ref& self, std::string_view methodName, std::vector<Value> args,
                        Value value) {
    if (!self) throw CallError(std::string(methodName) + " assigned on nil");
    std::string className = self->className();
    auto candidates = overloads(className, methodName);
    std::vector<const MethodInfo*> assignable;
    for (const MethodInfo* m : candidates)
        if (m->setter) assignable.push_back(m);
    if (assignable.empty())
        throw CallError(className + " has no assignable method " + std::string(methodName));
    const MethodInfo* m = nullptr;
    for (const MethodInfo* c : assignable) {
        if (!coerce(value, *c->decl.result)) continue;
        if (choose({c}, args, true)) {
            m = c;
            break;
        }
    }
    if (!m)
        throw CallError("no assignable overload of " + className + "." + std::string(methodName) +
                        " takes " + argumentList(args) + " = " + describe(value) +
                        "; declared:" + signatureList(assignable));
    Prepared p = prepare(*m, self, std::move(args));
    auto v = coerce(value, *m->decl.result);
    p.types.push_back(nativeTypeOf(*m->decl.result));
    p.values.push_back(toNative(*v));
    makeCurrent();
    impl_->pendingException.reset();
    callNative(m->setter, NativeType::Void, p.types, p.values);
    CallResult out;
    out.method = m;
    out.byRef.resize(m->decl.params.size());
    for (size_t i = 0; i < m->decl.params.size(); ++i)
        if (m->decl.params[i].byRef && !isObjectKind(m->decl.params[i].type.kind))
            out.byRef[i] = fromNative(*this, p.slots[i], m->decl.params[i].type, qualified(*m));
    if (impl_->pendingException) {
        Ref ex = std::move(impl_->pendingException);
        auto* inst = ex.as<Instance>();
        out.exception = RaisedException{ex->className(), inst ? inst->message : std::string()};
    }
    return out;
}

} // namespace qrx
