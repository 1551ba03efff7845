// Registration records and calls, with a small class made of this file's own functions and
// registered through the resolver as a plugin would: overloads, defaults, byref parameters,
// assignable methods, direct and function properties, exceptions and malformed records.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "qrx/host.h"
#include "sdk/services.h"
#include "support.h"

namespace {

using qrx::CallError;
using qrx::Color;
using qrx::Host;
using qrx::Nil;
using qrx::Picture;
using qrx::Ref;
using qrx::Value;

using qrxtest::service;

// Instance data of the test class "Counter".
struct CounterData {
    int32_t count;   // offset 0, direct "Count"
    int32_t unused;  // offset 4
    double scale;    // offset 8, direct "Scale"
    REALpicture pic; // offset 16, direct "Pic"
    int32_t items[8];
};

REALclassDefinition gCounterClass{};

CounterData* dataOf(REALobject obj) {
    return static_cast<CounterData*>(
        service<rbsvc::GetClassData>("REALGetClassData")(obj, &gCounterClass));
}

// What the test functions saw.
struct Seen {
    std::vector<std::string> calls;
    int destroyed = 0;
};
Seen gSeen;

// The functions of Counter, its Picture extension and the globals.
struct F {
    static void construct(REALobject self) { dataOf(self)->count = 100; }
    static void destroy(REALobject) { ++gSeen.destroyed; }
    static int32_t addInt(REALobject self, int32_t n) { return dataOf(self)->count += n; }
    static double addDouble(REALobject self, double x) { return dataOf(self)->scale += x; }
    static int32_t mix(REALobject, int32_t a, int32_t b, uint32_t c) {
        return a * 10 + b + int32_t(c) * 100;
    }
    static void swapInts(REALobject, int32_t* a, int32_t* b) { std::swap(*a, *b); }
    // Puts a new picture in the slot, handing over its reference.
    static void replace(REALobject, REALpicture* slot) {
        *slot = service<rbsvc::NewPicture>("newPicture")(3, 2, 32);
    }
    static void keep(REALobject, REALpicture* slot) {
        gSeen.calls.push_back(*slot ? "pic" : "nil");
    }
    // Raises a RuntimeException with the given message and returns false.
    static uint8_t fail(REALobject, REALstring message) {
        REALobject ex = service<rbsvc::NewInstance>("PluginNewInstance")("RuntimeException");
        service<rbsvc::SetPropValueString>("REALSetPropValueString")(ex, "Message", message);
        service<rbsvc::RaiseException>("RuntimeRaiseException")(ex);
        service<rbsvc::LockObject>("REALUnlockObject")(ex);
        return 0;
    }
    static int32_t getItem(REALobject self, int32_t i) { return dataOf(self)->items[i & 7]; }
    static void setItem(REALobject self, int32_t i, int32_t v) { dataOf(self)->items[i & 7] = v; }
    // Both see the property's parameter word (77); any other word gives -1.
    static int32_t getDoubled(REALobject self, int32_t param) {
        return param == 77 ? dataOf(self)->count * 2 : -1;
    }
    static void setDoubled(REALobject self, int32_t param, int32_t v) {
        dataOf(self)->count = param == 77 ? v / 2 : -1;
    }
    static int32_t pixelCount(REALpicture pic) {
        int32_t w = 0, h = 0;
        auto get = service<rbsvc::GetPropValueInt32>("REALGetPropValueInt");
        get(reinterpret_cast<REALobject>(pic), "Width", &w);
        get(reinterpret_cast<REALobject>(pic), "Height", &h);
        return w * h;
    }
    static int32_t twiceInt(int32_t x) { return 2 * x; }
    static double twiceDouble(double x) { return 2 * x; }
};

template <class Fn> void* fn(Fn* f) {
    return reinterpret_cast<void*>(f);
}

void* const kStd[] = {REALstandardGetter, REALstandardSetter};
REALproperty gCounterProperties[] = {
    {nullptr, "Count", "Integer", 0, kStd[0], kStd[1], 0, {}},
    {nullptr, "Scale", "Double", 0, kStd[0], kStd[1], 8, {}},
    {nullptr, "Pic", "Picture", 0, kStd[0], kStd[1], 16, {}},
};
REALproperty gMoreProperties[] = {
    {nullptr, "Doubled", "Integer", 0x40000, fn(F::getDoubled), fn(F::setDoubled), 77, {}},
};
REALmethodDefinition gCounterMethods[] = {
    {fn(F::addInt), nullptr, "Add(n as integer) as integer", 4},
    {fn(F::addDouble), nullptr, "Add(x as double) as double", 0},
    {fn(F::mix), nullptr, "Mix(a as integer, b as integer = 5, c as color = &c010203) as integer",
     0},
    {fn(F::swapInts), nullptr, "Swap(byref a as integer, byref b as integer)", 0},
};
REALmethodDefinition gMoreMethods[] = {
    {fn(F::replace), nullptr, "Replace(byref p as picture)", 0},
    {fn(F::keep), nullptr, "Keep(byref p as picture)", 0},
    {fn(F::fail), nullptr, "Fail(message as string) as boolean", 0},
    {fn(F::getItem), fn(F::setItem), "Item(i as integer) as integer", 0},
};
REALmethodDefinition gPictureMethods[] = {
    {fn(F::pixelCount), nullptr, "PixelCount as integer", 0x40004},
};
REALmethodDefinition gGlobals[] = {
    {fn(F::twiceInt), nullptr, "Twice(x as integer) as integer", 0},
    {fn(F::twiceDouble), nullptr, "Twice(x as double) as double", 0},
};

class Calls : public testing::Test {
  protected:
    void SetUp() override {
        gSeen = Seen{};
        REALclassDefinition& c = gCounterClass = {};
        c.version = kPluginRecordVersion, c.name = "Counter", c.dataSize = 64, c.flags = 4;
        c.constructor = F::construct, c.destructor = F::destroy;
        c.properties = gCounterProperties, c.propertyCount = 3;
        c.methods = gCounterMethods, c.methodCount = 4;
        c.moreProperties = gMoreProperties, c.morePropertyCount = 1;
        c.moreMethods = gMoreMethods, c.moreMethodCount = 4;
        static REALclassDefinition extension{};
        extension.name = "Picture", extension.methods = gPictureMethods, extension.methodCount = 1;
        host.makeCurrent();
        service<rbsvc::RegisterClass>("PluginRegisterClass")(&gCounterClass);
        service<rbsvc::RegisterClass>("PluginRegisterClassExtension")(&extension);
        for (auto& g : gGlobals)
            service<rbsvc::RegisterMethod>("PluginRegisterMethod")(&g);
        ASSERT_TRUE(host.registrationErrors().empty()) << host.registrationErrors().front();
    }

    void expectClean() {
        qrx::Audit a = host.audit();
        EXPECT_EQ(a.descriptionLocks, 0);
        EXPECT_EQ(a.stringData, 0);
        EXPECT_TRUE(a.violations.empty()) << a.violations.front();
    }

    Host host;
};

TEST_F(Calls, ConstructorDestructorAndInstanceData) {
    {
        Ref c = host.newInstance("Counter");
        EXPECT_EQ(std::get<int32_t>(host.getProperty(c, "Count")), 100);
        EXPECT_EQ(c->refCount(), 1);
        auto classData = service<rbsvc::GetClassData>("REALGetClassData");
        void* data = classData(static_cast<REALobject>(c->handle()), &gCounterClass);
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(data) % 16, 0u);
        // Another record, or an object of another class, gives no data.
        REALclassDefinition other = gCounterClass;
        EXPECT_EQ(classData(static_cast<REALobject>(c->handle()), &other), nullptr);
        Ref pic = host.newPicture(1, 1, false);
        EXPECT_EQ(classData(static_cast<REALobject>(pic->handle()), &gCounterClass), nullptr);
        EXPECT_EQ(gSeen.destroyed, 0);
    }
    EXPECT_EQ(gSeen.destroyed, 1);
    EXPECT_EQ(host.audit().liveObjects, 0u);
    EXPECT_THROW(host.newInstance("NoSuchClass"), CallError);
    expectClean();
}

// One call on a fresh Counter (or a picture, or as a global; "same": the previous row's object):
// the result as described, "error:" and a fragment of the refusal, or "raised:" and the exception;
// then the byref values. "Name=" assigns (the value last), ".Name" reads a property and ".Name="
// sets it.
struct CallCase {
    const char* on; // "counter", "same", "picture" (4x3), "nil" or "global"
    const char* method;
    std::vector<Value> args;
    const char* result;
    std::vector<std::string> byRef = {};
};

TEST_F(Calls, EveryCallAsATableRow) {
    const CallCase cases[] = {
        // Overloads chosen by count and type, names in any case.
        {"counter", "ADD", {int32_t(5)}, "105"},
        {"counter", "add", {2.5}, "2.5"},
        {"global", "Twice", {int32_t(21)}, "42"},
        {"global", "twice", {1.25}, "2.5"},
        {"picture", "pixelcount", {}, "12"},
        // Defaults fill missing arguments; an Integer is taken for a Color.
        {"counter", "Mix", {int32_t(1)}, "6605115"},
        {"counter", "Mix", {int32_t(2), int32_t(3)}, "6605123"},
        {"counter", "Mix", {int32_t(4), int32_t(6), Color{0x0BCDEF}}, "77361546"},
        {"counter", "Mix", {int32_t(4), int32_t(6), int32_t(0x123456)}, "119304646"},
        // Byref values come back; others come back nil.
        {"counter", "Swap", {int32_t(1), int32_t(2)}, "nil", {"2", "1"}},
        {"counter", "Mix", {int32_t(1), int32_t(0)}, "6605110", {"nil", "nil", "nil"}},
        // A raised exception is reported with its message; a nil message is an empty one.
        {"counter", "Fail", {}, "raised: RuntimeException it broke"},
        {"counter", "Fail", {Nil{}}, "raised: RuntimeException "},
        // No fitting overload: the method named, with every declaration of it.
        {"counter", "Add", {true}, "error: Counter.Add"},
        {"counter", "Add", {}, "error: Add(n as integer) as integer"},
        {"counter", "Add", {int32_t(1), int32_t(2)}, "error: Add(x as double) as double"},
        {"counter", "Add", {Nil{}}, "error: Counter.Add"},
        {"counter", "Mix", {}, "error: Mix"},
        {"counter", "Nothing", {}, "error: "},
        {"global", "Nothing", {}, "error: "},
        // A Picture extension is not a Counter method, and the other way round.
        {"counter", "PixelCount", {}, "error: "},
        {"picture", "Add", {int32_t(1)}, "error: "},
        {"nil", "Add", {int32_t(1)}, "error: "},
        // Assignable methods take the value last, each index its own item.
        {"counter", "Item=", {int32_t(3), int32_t(34)}, "nil"},
        {"same", "Item=", {int32_t(7), int32_t(78)}, "nil"},
        {"same", "Item", {int32_t(3)}, "34"},
        {"same", "Item", {int32_t(7)}, "78"},
        {"same", "Item", {int32_t(0)}, "0"},
        {"counter", "Add=", {int32_t(1), int32_t(2)}, "error: "},
        {"counter", "Item=", {int32_t(1), 2.5}, "error: "},
        {"counter", "Item=", {int32_t(2)}, "error: "},
        // Direct properties, any case; an Integer is taken for a Double, not the other way round.
        {"counter", ".Count=", {int32_t(-7)}, "nil"},
        {"same", ".count", {}, "-7"},
        {"counter", ".Scale=", {int32_t(3)}, "nil"},
        {"same", ".Scale", {}, "3"},
        {"counter", ".Count=", {1.5}, "error: "},
        {"counter", ".Missing", {}, "error: "},
        // Getter and setter functions receive the property's parameter word.
        {"counter", ".Doubled=", {int32_t(50)}, "nil"},
        {"same", ".Count", {}, "25"},
        {"same", ".Doubled", {}, "50"},
    };
    Ref self;
    for (const CallCase& c : cases) {
        std::string on = c.on, method = c.method;
        const std::string where = on + " " + method;
        if (on != "same")
            self = on == "counter"   ? host.newInstance("Counter")
                   : on == "picture" ? host.newPicture(4, 3, false)
                                     : Ref();
        std::vector<Value> args = c.args;
        if (method == "Fail" && args.empty()) args.push_back(host.newString("it broke"));
        const size_t before = host.audit().liveObjects;
        std::string got;
        qrx::CallResult r;
        try {
            if (method.ends_with("=")) {
                method.pop_back();
                Value value = args.empty() ? Value(Nil{}) : args.back();
                if (!args.empty()) args.pop_back();
                if (method[0] == '.')
                    host.setProperty(self, method.substr(1), value);
                else
                    r = host.assign(self, method, args, value);
            } else if (method[0] == '.') {
                r.result = host.getProperty(self, method.substr(1));
            } else {
                r = on == "global" ? host.callGlobal(method, args) : host.call(self, method, args);
            }
            got = r.exception ? "raised: " + r.exception->className + " " + r.exception->message
                              : qrx::describe(r.result);
        } catch (const CallError& e) {
            got = std::string("error: ") + e.what();
        }
        const std::string want = c.result;
        if (want.starts_with("error: ")) {
            EXPECT_TRUE(got.starts_with("error: ") && got.find(want.substr(7)) != got.npos)
                << where << ": " << got;
        } else {
            EXPECT_EQ(got, want) << where;
        }
        for (size_t i = 0; i < c.byRef.size(); ++i)
            EXPECT_EQ(i < r.byRef.size() ? qrx::describe(r.byRef[i]) : "", c.byRef[i]) << where;
        r = {};
        EXPECT_EQ(host.audit().liveObjects, before)
            << where << ": the exception or result was kept";
        expectClean();
    }
}

TEST_F(Calls, ByRefObjectSlotsKeepOneReferencePerVariable) {
    Ref c = host.newInstance("Counter");
    Ref old = host.newPicture(5, 5, false);
    // The plugin puts a new picture in the slot: the variable now holds that one (one
    // reference), and the old picture is back to the caller's own reference.
    for (Value in : {Value(Nil{}), Value(old)}) {
        auto r = host.call(c, "Replace", {in});
        ASSERT_TRUE(std::holds_alternative<Ref>(r.byRef[0]));
        const Ref& now = std::get<Ref>(r.byRef[0]);
        EXPECT_EQ(now.as<Picture>()->width(), 3);
        EXPECT_EQ(now->refCount(), 1);
    }
    EXPECT_EQ(old->refCount(), 1);
    // The plugin leaves the slot alone: the same object comes back.
    auto r = host.call(c, "Keep", {old});
    EXPECT_EQ(gSeen.calls.back(), "pic");
    ASSERT_TRUE(std::holds_alternative<Ref>(r.byRef[0]));
    EXPECT_EQ(std::get<Ref>(r.byRef[0]).get(), old.get());
    EXPECT_EQ(old->refCount(), 2); // the caller's and the returned variable's
    r = qrx::CallResult{};
    EXPECT_EQ(old->refCount(), 1);
    EXPECT_EQ(host.audit().liveObjects, 2u); // the counter and the old picture
    expectClean();
}

// The property services reach direct and function properties alike.
TEST_F(Calls, PropertiesThroughTheServices) {
    Ref c = host.newInstance("Counter");
    auto obj = static_cast<REALobject>(c->handle());
    int32_t v = 0;
    EXPECT_TRUE(service<rbsvc::SetPropValueInt32>("REALSetPropValueInt")(obj, "Count", 9));
    EXPECT_TRUE(service<rbsvc::GetPropValueInt32>("REALGetPropValueInt")(obj, "Doubled", &v));
    EXPECT_EQ(v, 18);
    EXPECT_FALSE(service<rbsvc::GetPropValueInt32>("REALGetPropValueInt")(obj, "Scale", &v));
    expectClean();
}

TEST_F(Calls, DirectPicturePropertyHoldsOneReference) {
    Ref c = host.newInstance("Counter");
    Ref a = host.newPicture(2, 2, false), b = host.newPicture(3, 3, false);
    host.setProperty(c, "Pic", a);
    host.setProperty(c, "Pic", b);
    EXPECT_EQ(std::pair(a->refCount(), b->refCount()), std::pair(1, 2));
    EXPECT_EQ(std::get<Ref>(host.getProperty(c, "Pic")).get(), b.get());
    EXPECT_EQ(b->refCount(), 2);
    EXPECT_THROW(host.setProperty(c, "Pic", host.newMemoryBlock({})), CallError);
    host.setProperty(c, "Pic", Nil{});
    EXPECT_EQ(b->refCount(), 1);
    EXPECT_TRUE(std::holds_alternative<Nil>(host.getProperty(c, "Pic")));
    expectClean();
}

struct BadRecord {
    const char* what;
    REALclassDefinition def;
    const char* fault; // part of the message
};

TEST(Registration, MalformedRecordsAreCollectedWithTheirFault) {
    static REALmethodDefinition badDecl[] = {
        {fn(F::twiceInt), nullptr, "Broken(x as ) as integer", 0}};
    static REALmethodDefinition noFunction[] = {{nullptr, nullptr, "Fine as integer", 0}};
    static REALmethodDefinition setterNoResult[] = {
        {fn(F::twiceInt), fn(F::twiceInt), "Set(x as integer)", 0}};
    static REALproperty outside[] = {
        {nullptr, "Far", "Integer", 0, REALstandardGetter, REALstandardSetter, 14, {}}};
    static REALproperty unknownType[] = {
        {nullptr, "Odd", "Banana", 0, REALstandardGetter, REALstandardSetter, 0, {}}};
    auto cls = [](const char* name) {
        REALclassDefinition d{};
        d.name = name;
        d.dataSize = 16;
        return d;
    };
    std::vector<BadRecord> cases;
    cases.push_back({"bad declaration", cls("A"), "Broken(x as ) as integer"});
    cases.back().def.methods = badDecl, cases.back().def.methodCount = 1;
    cases.push_back({"no function", cls("B"), "no function"});
    cases.back().def.moreMethods = noFunction, cases.back().def.moreMethodCount = 1;
    cases.push_back({"setter without result", cls("C"), "result type"});
    cases.back().def.methods = setterNoResult, cases.back().def.methodCount = 1;
    cases.push_back({"property outside data", cls("D"), "offset 14"});
    cases.back().def.properties = outside, cases.back().def.propertyCount = 1;
    cases.push_back({"unknown property type", cls("E"), "Banana"});
    cases.back().def.moreProperties = unknownType, cases.back().def.morePropertyCount = 1;
    cases.push_back({"no name", cls(nullptr), "without a name"});

    for (BadRecord& c : cases) {
        Host host;
        host.makeCurrent();
        service<rbsvc::RegisterClass>("PluginRegisterClass")(&c.def);
        ASSERT_EQ(host.registrationErrors().size(), 1u) << c.what;
        EXPECT_NE(host.registrationErrors()[0].find(c.fault), std::string::npos)
            << c.what << ": " << host.registrationErrors()[0];
    }

    Host host;
    host.makeCurrent();
    REALclassDefinition ext = cls("NoSuchBuiltIn");
    service<rbsvc::RegisterClass>("PluginRegisterClassExtension")(&ext);
    REALclassDefinition twice = cls("Dup");
    service<rbsvc::RegisterClass>("PluginRegisterClass")(&twice);
    service<rbsvc::RegisterClass>("PluginRegisterClass")(&twice);
    service<rbsvc::RegisterMethod>("PluginRegisterMethod")(badDecl);
    ASSERT_EQ(host.registrationErrors().size(), 3u);
    EXPECT_NE(host.registrationErrors()[0].find("NoSuchBuiltIn"), std::string::npos);
    EXPECT_NE(host.registrationErrors()[1].find("already registered"), std::string::npos);
    EXPECT_NE(host.registrationErrors()[2].find("Broken"), std::string::npos);
    EXPECT_TRUE(host.globalMethods().empty());
    EXPECT_EQ(host.registrationLog(), std::vector<std::string>{"class Dup"});
}

} // namespace
