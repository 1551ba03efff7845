#include <charconv>
#include <cstdio>
#include <utility>

#include "host_impl.h"
#include "qrx/objects.h"
#include "qrx/value.h"

namespace qrx {

Ref Ref::retain(Object* obj) {
    Ref r;
    if (obj) {
        obj->host().retainHostRef(obj);
        r.obj_ = obj;
    }
    return r;
}

Ref Ref::adopt(Object* obj) {
    Ref r;
    if (obj) obj->host().adoptHostRef(obj);
    r.obj_ = obj;
    return r;
}

Ref::Ref(const Ref& other) : obj_(other.obj_) {
    if (obj_) obj_->host().retainHostRef(obj_);
}

Ref::Ref(Ref&& other) noexcept : obj_(std::exchange(other.obj_, nullptr)) {}

Ref& Ref::operator=(Ref other) noexcept {
    std::swap(obj_, other.obj_);
    return *this;
}

Ref::~Ref() {
    reset();
}

Object* Ref::release() {
    Object* obj = std::exchange(obj_, nullptr);
    if (obj) obj->host().handOverHostRef(obj);
    return obj;
}

void Ref::reset() {
    Object* obj = std::exchange(obj_, nullptr);
    if (!obj || (gObjectsBeingFreed && gObjectsBeingFreed->count(obj))) return;
    obj->host().releaseHostRef(obj);
}

namespace {

std::string describeObject(Object* obj) {
    if (!obj) return "nil";
    if (auto* p = dynamic_cast<Picture*>(obj))
        return "<Picture " + std::to_string(p->width()) + "x" + std::to_string(p->height()) + ">";
    if (auto* m = dynamic_cast<MemoryBlock*>(obj))
        return "<MemoryBlock " + std::to_string(m->bytes.size()) + " bytes>";
    if (auto* s = dynamic_cast<String*>(obj))
        return "<String " + std::to_string(s->bytes().size()) + " bytes>";
    return "<" + obj->className() + ">";
}

std::string describeDouble(double d) {
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d);
    if (ec != std::errc()) return std::to_string(d);
    return std::string(buf, end);
}

} // namespace

std::string describe(const Value& v) {
    struct Visitor {
        std::string operator()(Nil) const { return "nil"; }
        std::string operator()(int32_t i) const { return std::to_string(i); }
        std::string operator()(uint32_t u) const { return std::to_string(u); }
        std::string operator()(double d) const { return describeDouble(d); }
        std::string operator()(bool b) const { return b ? "true" : "false"; }
        std::string operator()(Color c) const {
            char buf[16];
            std::snprintf(buf, sizeof buf, "&c%06X", unsigned(c.value & 0xFFFFFF));
            return buf;
        }
        std::string operator()(const Ref& r) const { return describeObject(r.get()); }
    };
    return std::visit(Visitor{}, v);
}

} // namespace qrx
