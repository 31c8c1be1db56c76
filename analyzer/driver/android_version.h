// The Android release, platform branch and build type of the crashed process: found once per run
// (from the C library's symbols and the system properties) and cached until phase 2's clean-up.
#pragma once

#include <string>

namespace coresift {

struct RunContext;

// Ordinals of the Android releases; version-dependent rules compare against these.
namespace android {
inline constexpr unsigned kUnknown = 1;
inline constexpr unsigned kGB = 2;
inline constexpr unsigned kN0 = 9;
inline constexpr unsigned kP0 = 12;
inline constexpr unsigned kV0 = 18;
}  // namespace android

namespace build_type {
inline constexpr unsigned kUnknown = 1;
inline constexpr unsigned kUser = 2;
inline constexpr unsigned kUserdebug = 3;
inline constexpr unsigned kEng = 4;
}  // namespace build_type

// The release ordinal, 1 ("??") to 18 ("V0"): the newest release whose C library exports a symbol
// that no earlier release had; 1 without a C library module.
unsigned androidVersion(RunContext& context);
// "??", "GB", "ICS", ... "V0"; "??" for values outside 1..18.
const char* androidVersionName(unsigned version);
// The property ro.quandrel.version.branch when present, else the release's name.
const std::string& platformBranch(RunContext& context);
// 2 user, 3 userdebug, 4 eng (always for GB), 1 anything else.
unsigned buildType(RunContext& context);

// Drops the cached values (phase 2's clean-up).
void forgetPlatformFacts(RunContext& context);

}  // namespace coresift
