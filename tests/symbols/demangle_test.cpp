// Demangled names as the report shows them: without the top-level parameter list, the
// qualifiers after it and a template function's return type; with the parameter count of the
// full signature; "__dl_" names of Android's linker; the 512-character cut.
#include <gtest/gtest.h>

#include "analyzer/symbols/demangle.h"

namespace {

using coresift::demangle;

struct Case {
    const char* mangled;
    const char* shown;
    int parameters;
};

TEST(Demangle, ShownNamesDropTheSignatureButKeepWhatNamesTheFunction) {
    const Case cases[] = {
        {"_ZN7crashns6Widget4pokeEPVii", "crashns::Widget::poke", 3},
        {"_Z3foov", "foo", 2},
        {"_Z3fooiz", "foo", 3},
        {"_ZNK3Foo3getEv", "Foo::get", 2},
        {"_ZNKR3Foo3getEv", "Foo::get", 2},
        {"_ZN3FooclEi", "Foo::operator()", 2},
        {"_ZN3FooltERKS_", "Foo::operator<", 2},
        {"_ZN3FoolsEi", "Foo::operator<<", 2},
        {"_ZN3FoocviEv", "Foo::operator int", 2},
        {"_Znwj", "operator new", 2},
        {"_ZdaPv", "operator delete[]", 2},
        {"_Z1fIiEvT_", "f<int>", 2},
        {"_Z3fooIiEPFviEv", "foo<int>", 2},
        {"_ZN4absl16logging_internal10LogMessagelsILi10EEERS1_RAT__Kc", "absl::logging_internal::LogMessage::operator<< <10>", 2},
        {"_ZZ3foovENKUliE_clEi", "foo()::{lambda(int)#1}::operator()", 2},
        {"_ZN12_GLOBAL__N_13barEv", "(anonymous namespace)::bar", 2},
        {"_ZZ3foovEN1A3barEv", "foo()::A::bar", 2},
        {"_Z3foov.cold", "foo", 2},
        {"_Z3fooi.isra.0", "foo", 2},
        {"_ZL10gFunctions.0", "gFunctions", 0},
        {"_ZNSt6vectorIiSaIiEE9push_backERKi", "std::vector<int, std::allocator<int> >::push_back", 2},
        {"_Z3fooPFviEi", "foo", 3},
        {"_Z3barIiEDTcl3foofp_EET_", "bar<int>", 2},
        {"_Z6StrToIIxLx0ELx9EcEmPKT2_", "StrToI<long long, 0ll, 9ll, char>", 2},
        // Special names keep their inner signature; data names have no parameters.
        {"_ZThn8_N3Foo3barEv", "non-virtual thunk to Foo::bar()", 0},
        {"_ZTv0_n12_N3Foo3barEv", "virtual thunk to Foo::bar()", 0},
        {"_ZTch0_h4_N3Foo3barEv", "covariant return thunk to Foo::bar()", 0},
        {"_ZGVZ3foovE1x", "guard variable for foo()::x", 0},
        {"_ZTV3Foo", "vtable for Foo", 0},
        {"_ZTCN3Foo3BarE0_NS_3BazE", "construction vtable for Foo::Baz-in-Foo::Bar", 0},
        {"_ZN3Foo7counterE", "Foo::counter", 0},
        // Android's linker.
        {"__dl__ZL24debuggerd_signal_handleriP7siginfoPv", "__dl_debuggerd_signal_handler", 4},
        {"__dl__ZN6soinfo12call_destorsEv", "__dl_soinfo::call_destors", 2},
    };
    for (const Case& c : cases) {
        auto d = demangle(c.mangled);
        ASSERT_TRUE(d) << c.mangled;
        EXPECT_EQ(d->name, c.shown) << c.mangled;
        EXPECT_EQ(d->parameterCount, c.parameters) << c.mangled;
    }
}

TEST(Demangle, NamesThatAreNotManglingsOrCannotBeDemangledAreLeftAlone) {
    for (const char* name : {"", "main", "_start", "__dl_", "__dl_memcpy", "_Z", "_Zfoo", "_ZN3FoortEi", "Z3foov"})
        EXPECT_FALSE(demangle(name)) << name;
    EXPECT_EQ(coresift::displayName("memcpy"), "memcpy");
    EXPECT_EQ(coresift::displayName("_ZN3FoortEi"), "_ZN3FoortEi");
    EXPECT_EQ(coresift::displayName("_Z3barv"), "bar");
}

TEST(Demangle, LongNamesAreCutAt512Characters) {
    // A name whose arguments repeat a long class name through substitutions demangles far longer.
    std::string mangled = "_ZN9Namespace";
    for (int i = 0; i < 60; ++i) mangled += "9ClassName";
    mangled += "3runE";
    mangled += "v";
    auto d = demangle(mangled);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->name.size(), coresift::kMaxDemangledLength);
    EXPECT_TRUE(d->name.starts_with("Namespace::ClassName::ClassName::"));
    EXPECT_EQ(d->parameterCount, 2);
}

TEST(Demangle, TheShownFormComesFromTheFullTextWhateverItsShape) {
    using coresift::shortenDemangled;
    EXPECT_EQ(shortenDemangled("int (*lookup<int>(char const*))(int, int)", false).name, "lookup<int>");
    EXPECT_EQ(shortenDemangled("int (*lookup<int>(char const*))(int, int)", false).parameterCount, 2);
    EXPECT_EQ(shortenDemangled("unsigned long long StrToU<unsigned long long>(char const*, char**, int)", false).name,
              "StrToU<unsigned long long>");
    EXPECT_EQ(shortenDemangled("Foo::operator unsigned int() const", false).name, "Foo::operator unsigned int");
    EXPECT_EQ(shortenDemangled("bool operator< <Foo>(Foo const&, Foo const&)", false).name, "operator< <Foo>");
    EXPECT_EQ(shortenDemangled("f(std::pair<int, int>, void (*)(int, int), Foo<(1>2)>)", false).parameterCount, 4);
    EXPECT_EQ(shortenDemangled("Foo::bar() const::Baz<int>::run(int)", false).name, "Foo::bar() const::Baz<int>::run");
    EXPECT_EQ(shortenDemangled("x", false).name, "x");
    EXPECT_EQ(shortenDemangled("(", false).name, "(");
    EXPECT_EQ(shortenDemangled(")", false).name, ")");
}

}  // namespace
