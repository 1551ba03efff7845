// Host values: what the runtime passes to and receives from registered methods.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace qrx {

class Object;

// An owned host reference: holds one reference on a host object and drops it when destroyed.
class Ref {
  public:
    Ref() = default;
    // Takes one more reference on obj.
    static Ref retain(Object* obj);
    // Adopts a reference the caller already owns (for example one a method handed back).
    static Ref adopt(Object* obj);
    Ref(const Ref& other);
    Ref(Ref&& other) noexcept;
    Ref& operator=(Ref other) noexcept;
    ~Ref();

    Object* get() const { return obj_; }
    Object* operator->() const { return obj_; }
    explicit operator bool() const { return obj_ != nullptr; }
    // Hands the reference over (to the plugin) without dropping it.
    Object* release();
    void reset();

    template <class T> T* as() const;

    friend bool operator==(const Ref& a, const Ref& b) { return a.obj_ == b.obj_; }

  private:
    Object* obj_ = nullptr;
};

struct Nil {
    friend bool operator==(Nil, Nil) { return true; }
};

struct Color {
    uint32_t value = 0; // red in bits 16-23, green 8-15, blue 0-7
    friend bool operator==(Color a, Color b) { return a.value == b.value; }
};

// Integer, UInt32, Double, Boolean, Color, or an object (picture, string, MemoryBlock, instance).
// Nil stands for a nil object and for "no result".
using Value = std::variant<Nil, int32_t, uint32_t, double, bool, Color, Ref>;

// A readable rendering for messages and listings: 42, 1.5, true, &c88B5C4, nil, <Picture 10x20>.
std::string describe(const Value& v);

} // namespace qrx
