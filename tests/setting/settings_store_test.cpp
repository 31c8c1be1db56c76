// The settings store: its text form, and the real store (registry or file) of a scope of its own.
#include <gtest/gtest.h>

#include <random>

#include "platform/settings_store.h"
#include "platform/settings_text.h"

namespace {

using platform::SettingsText;
using platform::SettingType;

TEST(SettingsText, ValuesRoundTripInAFormAPersonCanRead) {
    SettingsText values;
    values.set({"GlobalOpt", SettingType::Word, 0x130, {}});
    values.set({"CheckedTime", SettingType::QuadWord, 0xFFFFFFFFFFFFFFFFull, {}});
    values.set({"InstallDir", SettingType::Text, 0, "C:\\Users\\me\\Ferrovane\nsecond\x01 line"});
    const std::string text = values.serialize();
    EXPECT_NE(text.find("\nGlobalOpt=dword:0x00000130\n"), std::string::npos);
    EXPECT_NE(text.find("\nCheckedTime=qword:18446744073709551615\n"), std::string::npos);
    EXPECT_NE(text.find("\nInstallDir=text:C:\\\\Users\\\\me\\\\Ferrovane\\nsecond\\x01 line\n"), std::string::npos);

    SettingsText back = SettingsText::parse(text);
    ASSERT_EQ(back.values().size(), 3u);
    EXPECT_EQ(back.find("globalopt")->number, 0x130u);
    EXPECT_EQ(back.find("CheckedTime")->number, 0xFFFFFFFFFFFFFFFFull);
    EXPECT_EQ(back.find("InstallDir")->text, "C:\\Users\\me\\Ferrovane\nsecond\x01 line");
}

TEST(SettingsText, LinesThatAreNotUnderstoodAreDropped) {
    SettingsText values = SettingsText::parse(
        "# comment\r\n"
        "GlobalOpt=dword:0x100000000\n"   // too large for a word
        "A=dword:12\r\n"
        "B=qword:-1\n"
        "C=text:bad\\q escape\n"
        "D=text:cut\\x4\n"
        "E=float:1.5\n"
        "=dword:1\n"
        "no equals sign\n"
        "F=dword:0x\n"
        "G=dword:0xFFFFFFFF\n"
        "a=dword:7");                     // a later line for a name replaces the earlier one
    ASSERT_EQ(values.values().size(), 2u);
    EXPECT_EQ(values.find("A")->number, 7u);
    EXPECT_EQ(values.find("G")->number, 0xFFFFFFFFu);
    EXPECT_EQ(values.find("GlobalOpt"), nullptr);
}

std::string scratchScope() {
    std::random_device rd;
    return "FerrovaneTest" + std::to_string(rd() % 1000000000);
}

TEST(SettingsStore, ValuesPersistWithTheirTypesAcrossOpenings) {
    const std::string scope = scratchScope();
    EXPECT_EQ(platform::openSettingsStore(platform::StoreAccess::OpenExisting, scope), nullptr);
    {
        std::string error;
        auto store = platform::openSettingsStore(platform::StoreAccess::CreateIfMissing, scope, &error);
        ASSERT_NE(store, nullptr) << error << " at " << platform::settingsStoreLocation(scope);
        EXPECT_FALSE(store->readWord("GlobalOpt").has_value());
        EXPECT_TRUE(store->writeWord("GlobalOpt", 0x80001130u));
        EXPECT_TRUE(store->writeText("InstallDir", "/opt/ferrovane suite"));
        EXPECT_TRUE(store->writeQuadWord("CheckedTime", 1765098000ull));
    }
    {
        auto store = platform::openSettingsStore(platform::StoreAccess::OpenExisting, scope);
        ASSERT_NE(store, nullptr);
        EXPECT_EQ(store->readWord("GlobalOpt"), 0x80001130u);
        EXPECT_EQ(store->readText("InstallDir"), "/opt/ferrovane suite");
        EXPECT_EQ(store->readQuadWord("CheckedTime"), 1765098000ull);
        // A value read with another type is missing.
        EXPECT_FALSE(store->readWord("InstallDir").has_value());
        EXPECT_FALSE(store->readText("GlobalOpt").has_value());
        EXPECT_FALSE(store->readQuadWord("GlobalOpt").has_value());
        EXPECT_TRUE(store->writeText("GlobalOpt", "now text"));
        EXPECT_FALSE(store->readWord("GlobalOpt").has_value());
    }
    EXPECT_TRUE(platform::removeSettingsStore(scope));
    EXPECT_EQ(platform::openSettingsStore(platform::StoreAccess::OpenExisting, scope), nullptr);
    EXPECT_TRUE(platform::removeSettingsStore(scope));
}

TEST(SettingsStore, TwoOpenStoresDoNotLoseEachOthersValues) {
    const std::string scope = scratchScope();
    auto first = platform::openSettingsStore(platform::StoreAccess::CreateIfMissing, scope);
    auto second = platform::openSettingsStore(platform::StoreAccess::OpenExisting, scope);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(first->writeWord("GlobalOpt", 1));
    EXPECT_TRUE(second->writeText("InstallDir", "x"));
    auto check = platform::openSettingsStore(platform::StoreAccess::OpenExisting, scope);
    EXPECT_EQ(check->readWord("GlobalOpt"), 1u);
    EXPECT_EQ(check->readText("InstallDir"), "x");
    first.reset();
    second.reset();
    check.reset();
    EXPECT_TRUE(platform::removeSettingsStore(scope));
}

}  // namespace
