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
    int32_t i[3] = {};
    uint32_t color = 0;
};
Seen gSeen;

void counterConstructor(REALobject self) {
    dataOf(self)->count = 100;
}
void counterDestructor(REALobject) {
    ++gSeen.destroyed;
}

int32_t addInt(REALobject self, int32_t n) {
    gSeen.calls.push_back("addInt");
    return dataOf(self)->count += n;
}
double addDouble(REALobject self, double x) {
    gSeen.calls.push_back("addDouble");
    return dataOf(self)->scale += x;
}
int32_t mix(REALobject, int32_t a, int32_t b, uint32_t c) {
    gSeen.i[0] = a, gSeen.i[1] = b, gSeen.color = c;
    return a * 10 + b;
}
void swapInts(REALobject, int32_t* a, int32_t* b) {
    std::swap(*a, *b);
}
// Puts a new picture in the slot, handing over its reference.
void replacePicture(REALobject, REALpicture* slot) {
    *slot = service<rbsvc::NewPicture>("newPicture")(3, 2, 32);
}
void keepPicture(REALobject, REALpicture* slot) {
    gSeen.calls.push_back(*slot ? "pic" : "nil");
}
// Raises a RuntimeException with the given message and returns false.
uint8_t failWith(REALobject, REALstring message) {
    REALobject ex = service<rbsvc::NewInstance>("PluginNewInstance")("RuntimeException");
    service<rbsvc::SetPropValueString>("REALSetPropValueString")(ex, "Message", message);
    service<rbsvc::RaiseException>("RuntimeRaiseException")(ex);
    service<rbsvc::LockObject>("REALUnlockObject")(ex);
    return 0;
}
int32_t getItem(REALobject self, int32_t i) {
    return dataOf(self)->items[i & 7];
}
void setItem(REALobject self, int32_t i, int32_t v) {
    dataOf(self)->items[i & 7] = v;
}
int32_t getDoubled(REALobject self, int32_t param) {
    gSeen.i[2] = param;
    return dataOf(self)->count * 2;
}
void setDoubled(REALobject self, int32_t param, int32_t v) {
    gSeen.i[2] = param;
    dataOf(self)->count = v / 2;
}
int32_t pixelCount(REALpicture pic) {
    int32_t w = 0, h = 0;
    auto get = service<rbsvc::GetPropValueInt32>("REALGetPropValueInt");
    get(reinterpret_cast<REALobject>(pic), "Width", &w);
    get(reinterpret_cast<REALobject>(pic), "Height", &h);
    return w * h;
}
int32_t twiceInt(int32_t x) {
    return 2 * x;
}
double twiceDouble(double x) {
    return 2 * x;
}

REALproperty gCounterProperties[] = {
    {nullptr, "Count", "Integer", 0, REALstandardGetter, REALstandardSetter, 0, {}},
    {nullptr, "Scale", "Double", 0, REALstandardGetter, REALstandardSetter, 8, {}},
    {nullptr, "Pic", "Picture", 0, REALstandardGetter, REALstandardSetter, 16, {}},
};
REALproperty gMoreProperties[] = {
    {nullptr,
     "Doubled",
     "Integer",
     0x40000,
     reinterpret_cast<void*>(&getDoubled),
     reinterpret_cast<void*>(&setDoubled),
     77,
     {}},
};
REALmethodDefinition gCounterMethods[] = {
    {reinterpret_cast<void*>(&addInt), nullptr, "Add(n as integer) as integer", 4},
    {reinterpret_cast<void*>(&addDouble), nullptr, "Add(x as double) as double", 0},
    {reinterpret_cast<void*>(&mix), nullptr,
     "Mix(a as integer, b as integer = 5, c as color = &c010203) as integer", 0},
    {reinterpret_cast<void*>(&swapInts), nullptr, "Swap(byref a as integer, byref b as integer)",
     0},
};
REALmethodDefinition gMoreMethods[] = {
    {reinterpret_cast<void*>(&replacePicture), nullptr, "Replace(byref p as picture)", 0},
    {reinterpret_cast<void*>(&keepPicture), nullptr, "Keep(byref p as picture)", 0},
    {reinterpret_cast<void*>(&failWith), nullptr, "Fail(message as string) as boolean", 0},
    {reinterpret_cast<void*>(&getItem), reinterpret_cast<void*>(&setItem),
     "Item(i as integer) as integer", 0},
};
REALmethodDefinition gPictureMethods[] = {
    {reinterpret_cast<void*>(&pixelCount), nullptr, "PixelCount as integer", 0x40004},
};
REALclassDefinition gPictureExtension{};
REALmethodDefinition gGlobals[] = {
    {reinterpret_cast<void*>(&twiceInt), nullptr, "Twice(x as integer) as integer", 0},
    {reinterpret_cast<void*>(&twiceDouble), nullptr, "Twice(x as double) as double", 0},
};

class Calls : public testing::Test {
  protected:
    void SetUp() override {
        gSeen = Seen{};
        gCounterClass = {};
        gCounterClass.version = kPluginRecordVersion;
        gCounterClass.name = "Counter";
        gCounterClass.dataSize = 64;
        gCounterClass.constructor = &counterConstructor;
        gCounterClass.destructor = &counterDestructor;
        gCounterClass.properties = gCounterProperties;
        gCounterClass.propertyCount = 3;
        gCounterClass.methods = gCounterMethods;
        gCounterClass.methodCount = 4;
        gCounterClass.flags = 4;
        gCounterClass.moreProperties = gMoreProperties;
        gCounterClass.morePropertyCount = 1;
        gCounterClass.moreMethods = gMoreMethods;
        gCounterClass.moreMethodCount = 4;
        gPictureExtension = {};
        gPictureExtension.name = "Picture";
        gPictureExtension.methods = gPictureMethods;
        gPictureExtension.methodCount = 1;

        host.makeCurrent();
        service<rbsvc::RegisterClass>("PluginRegisterClass")(&gCounterClass);
        service<rbsvc::RegisterClass>("PluginRegisterClassExtension")(&gPictureExtension);
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

TEST_F(Calls, RecordsAreKeptAsReceivedInOrder) {
    const qrx::ClassInfo* cls = host.findClass("counter");
    ASSERT_NE(cls, nullptr);
    EXPECT_EQ(cls->name, "Counter");
    EXPECT_EQ(cls->flags, 4u);
    EXPECT_EQ(cls->dataSize, 64u);
    EXPECT_EQ(cls->record, &gCounterClass);
    std::vector<std::string> props, decls;
    for (const auto& p : cls->properties)
        props.push_back(p.name);
    for (const auto& m : cls->methods)
        decls.push_back(m.decl.text);
    EXPECT_EQ(props, (std::vector<std::string>{"Count", "Scale", "Pic", "Doubled"}));
    ASSERT_EQ(decls.size(), 8u);
    EXPECT_EQ(decls[2], "Mix(a as integer, b as integer = 5, c as color = &c010203) as integer");
    EXPECT_EQ(decls[7], "Item(i as integer) as integer");
    EXPECT_EQ(cls->methods[0].flags, 4u);
    EXPECT_EQ(cls->properties[3].flags, 0x40000u);
    EXPECT_TRUE(cls->properties[0].direct());
    EXPECT_FALSE(cls->properties[3].direct());
    EXPECT_EQ(host.findClass("Picture")->extensions.at(0).flags, 0x40004u);
    EXPECT_EQ(host.registrationLog(),
              (std::vector<std::string>{"class Counter", "extension Picture",
                                        "method Twice(x as integer) as integer",
                                        "method Twice(x as double) as double"}));
    EXPECT_EQ(host.globalOverloads("twice").size(), 2u);
    EXPECT_EQ(host.overloads("Counter", "add").size(), 2u);
}

TEST_F(Calls, ConstructorDestructorAndInstanceData) {
    {
        Ref c = host.newInstance("Counter");
        EXPECT_EQ(std::get<int32_t>(host.getProperty(c, "Count")), 100);
        EXPECT_EQ(c->refCount(), 1);
        void* data = service<rbsvc::GetClassData>("REALGetClassData")(
            static_cast<REALobject>(c->handle()), &gCounterClass);
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(data) % 16, 0u);
        // Another record, or an object of another class, gives no data.
        REALclassDefinition other = gCounterClass;
        EXPECT_EQ(service<rbsvc::GetClassData>("REALGetClassData")(
                      static_cast<REALobject>(c->handle()), &other),
                  nullptr);
        Ref pic = host.newPicture(1, 1, false);
        EXPECT_EQ(service<rbsvc::GetClassData>("REALGetClassData")(
                      static_cast<REALobject>(pic->handle()), &gCounterClass),
                  nullptr);
        EXPECT_EQ(gSeen.destroyed, 0);
    }
    EXPECT_EQ(gSeen.destroyed, 1);
    EXPECT_EQ(host.audit().liveObjects, 0u);
    EXPECT_THROW(host.newInstance("NoSuchClass"), CallError);
    expectClean();
}

TEST_F(Calls, OverloadsAreChosenByCountAndType) {
    Ref c = host.newInstance("Counter");
    struct Case {
        std::vector<Value> args;
        const char* chosen;
        Value result;
    };
    const Case cases[] = {
        {{int32_t(5)}, "addInt", int32_t(105)},
        {{2.5}, "addDouble", 2.5},
        {{int32_t(7)}, "addInt", int32_t(112)},
        {{0.25}, "addDouble", 2.75},
    };
    for (const Case& k : cases) {
        gSeen.calls.clear();
        qrx::CallResult r = host.call(c, "ADD", k.args);
        ASSERT_EQ(gSeen.calls, std::vector<std::string>{k.chosen});
        EXPECT_EQ(qrx::describe(r.result), qrx::describe(k.result));
        EXPECT_EQ(r.method->function, k.chosen == std::string("addInt")
                                          ? reinterpret_cast<void*>(&addInt)
                                          : reinterpret_cast<void*>(&addDouble));
    }
    // Globals: an integer goes to the Integer overload, a double to the Double one.
    EXPECT_EQ(std::get<int32_t>(host.callGlobal("Twice", {int32_t(21)}).result), 42);
    EXPECT_EQ(std::get<double>(host.callGlobal("Twice", {1.25}).result), 2.5);
    expectClean();
}

TEST_F(Calls, NoFittingOverloadNamesTheMethodAndListsDeclarations) {
    Ref c = host.newInstance("Counter");
    const std::vector<Value> bad[] = {{true}, {}, {int32_t(1), int32_t(2)}, {Nil{}}};
    for (const auto& args : bad) {
        try {
            host.call(c, "Add", args);
            ADD_FAILURE() << "Add" << args.size() << " must not be called";
        } catch (const CallError& e) {
            std::string msg = e.what();
            EXPECT_NE(msg.find("Counter.Add"), std::string::npos) << msg;
            EXPECT_NE(msg.find("Add(n as integer) as integer"), std::string::npos) << msg;
            EXPECT_NE(msg.find("Add(x as double) as double"), std::string::npos) << msg;
        }
    }
    EXPECT_THROW(host.call(c, "Nothing", {}), CallError);
    EXPECT_THROW(host.callGlobal("Nothing", {}), CallError);
    // A method of Picture's extension is not a method of Counter, and vice versa.
    EXPECT_THROW(host.call(c, "PixelCount", {}), CallError);
    EXPECT_THROW(host.call(host.newPicture(2, 2, false), "Add", {int32_t(1)}), CallError);
    EXPECT_THROW(host.call(Ref(), "Add", {int32_t(1)}), CallError);
    expectClean();
}

TEST_F(Calls, DefaultsFillMissingArguments) {
    Ref c = host.newInstance("Counter");
    struct Case {
        std::vector<Value> args;
        int32_t a, b;
        uint32_t color;
    };
    const Case cases[] = {
        {{int32_t(1)}, 1, 5, 0x010203},
        {{int32_t(2), int32_t(3)}, 2, 3, 0x010203},
        {{int32_t(4), int32_t(6), Color{0xABCDEF}}, 4, 6, 0xABCDEF},
        {{int32_t(4), int32_t(6), int32_t(0x123456)}, 4, 6, 0x123456},
    };
    for (const Case& k : cases) {
        auto r = host.call(c, "Mix", k.args);
        EXPECT_EQ(gSeen.i[0], k.a);
        EXPECT_EQ(gSeen.i[1], k.b);
        EXPECT_EQ(gSeen.color, k.color);
        EXPECT_EQ(std::get<int32_t>(r.result), k.a * 10 + k.b);
    }
    EXPECT_THROW(host.call(c, "Mix", {}), CallError);
}

TEST_F(Calls, ByRefValuesComeBack) {
    Ref c = host.newInstance("Counter");
    auto r = host.call(c, "Swap", {int32_t(1), int32_t(2)});
    ASSERT_EQ(r.byRef.size(), 2u);
    EXPECT_EQ(std::get<int32_t>(r.byRef[0]), 2);
    EXPECT_EQ(std::get<int32_t>(r.byRef[1]), 1);
    auto m = host.call(c, "Mix", {int32_t(1)});
    ASSERT_EQ(m.byRef.size(), 3u);
    for (const Value& v : m.byRef)
        EXPECT_TRUE(std::holds_alternative<Nil>(v));
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

TEST_F(Calls, RaisedExceptionIsReportedAndReleased) {
    Ref c = host.newInstance("Counter");
    size_t before = host.audit().liveObjects;
    auto r = host.call(c, "Fail", {host.newString("it broke")});
    ASSERT_TRUE(r.exception);
    EXPECT_EQ(r.exception->className, "RuntimeException");
    EXPECT_EQ(r.exception->message, "it broke");
    EXPECT_EQ(std::get<bool>(r.result), false);
    EXPECT_EQ(host.audit().liveObjects, before);
    // A later call without a raise reports nothing.
    EXPECT_FALSE(host.call(c, "Add", {int32_t(1)}).exception);
    // A nil message gives an empty one.
    auto n = host.call(c, "Fail", {Nil{}});
    ASSERT_TRUE(n.exception);
    EXPECT_EQ(n.exception->message, "");
    expectClean();
}

TEST_F(Calls, AssignableMethodsTakeTheValueLast) {
    Ref c = host.newInstance("Counter");
    for (int32_t i = 0; i < 8; ++i)
        host.assign(c, "Item", {i}, int32_t(i * 11 + 1));
    for (int32_t i = 0; i < 8; ++i)
        EXPECT_EQ(std::get<int32_t>(host.call(c, "Item", {i}).result), i * 11 + 1);
    EXPECT_THROW(host.assign(c, "Add", {int32_t(1)}, int32_t(2)), CallError);
    EXPECT_THROW(host.assign(c, "Item", {int32_t(1)}, 2.5), CallError);
    EXPECT_THROW(host.assign(c, "Item", {}, int32_t(2)), CallError);
}

TEST_F(Calls, DirectAndFunctionProperties) {
    Ref c = host.newInstance("Counter");
    host.setProperty(c, "Count", int32_t(-7));
    EXPECT_EQ(std::get<int32_t>(host.getProperty(c, "count")), -7);
    host.setProperty(c, "Scale", int32_t(3)); // an Integer is accepted for a Double
    EXPECT_EQ(std::get<double>(host.getProperty(c, "Scale")), 3.0);
    EXPECT_THROW(host.setProperty(c, "Count", 1.5), CallError);
    EXPECT_THROW(host.getProperty(c, "Missing"), CallError);

    // Getter and setter functions receive the property's parameter word.
    host.setProperty(c, "Doubled", int32_t(50));
    EXPECT_EQ(gSeen.i[2], 77);
    EXPECT_EQ(std::get<int32_t>(host.getProperty(c, "Count")), 25);
    gSeen.i[2] = 0;
    EXPECT_EQ(std::get<int32_t>(host.getProperty(c, "Doubled")), 50);
    EXPECT_EQ(gSeen.i[2], 77);

    // The same through the services.
    host.makeCurrent();
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
    EXPECT_EQ(a->refCount(), 2);
    host.setProperty(c, "Pic", a); // the same picture again: still one reference held
    EXPECT_EQ(a->refCount(), 2);
    host.setProperty(c, "Pic", b);
    EXPECT_EQ(a->refCount(), 1);
    EXPECT_EQ(b->refCount(), 2);
    {
        Value got = host.getProperty(c, "Pic");
        EXPECT_EQ(std::get<Ref>(got).get(), b.get());
        EXPECT_EQ(b->refCount(), 3);
    }
    EXPECT_EQ(b->refCount(), 2);
    EXPECT_THROW(host.setProperty(c, "Pic", host.newMemoryBlock({})), CallError);
    host.setProperty(c, "Pic", Nil{});
    EXPECT_EQ(b->refCount(), 1);
    EXPECT_TRUE(std::holds_alternative<Nil>(host.getProperty(c, "Pic")));
    expectClean();
}

TEST_F(Calls, ExtensionMethodReceivesThePicture) {
    for (auto [w, h] : {std::pair{4, 3}, std::pair{1, 1}, std::pair{17, 9}}) {
        Ref p = host.newPicture(w, h, false);
        EXPECT_EQ(std::get<int32_t>(host.call(p, "pixelcount", {}).result), w * h);
    }
}

struct BadRecord {
    const char* what;
    REALclassDefinition def;
    const char* fault; // part of the message
};

TEST(Registration, MalformedRecordsAreCollectedWithTheirFault) {
    static REALmethodDefinition badDecl[] = {
        {reinterpret_cast<void*>(&twiceInt), nullptr, "Broken(x as ) as integer", 0}};
    static REALmethodDefinition noFunction[] = {{nullptr, nullptr, "Fine as integer", 0}};
    static REALmethodDefinition setterNoResult[] = {{reinterpret_cast<void*>(&twiceInt),
                                                     reinterpret_cast<void*>(&twiceInt),
                                                     "Set(x as integer)", 0}};
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
