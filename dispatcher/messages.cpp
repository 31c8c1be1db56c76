#include "dispatcher/messages.h"

namespace dispatcher {
namespace {

constexpr const char* kEnglish[kMessageCount] = {
#include "catalog_en.inc"
};

// Generated at build time from catalog_zh.inc in the output encoding of the platform.
constexpr const char* kChinese[kMessageCount] = {
#include "dispatcher_catalog_zh_native.inc"
};

}  // namespace

const char* catalogText(Language language, Msg id) {
    auto index = static_cast<unsigned>(id);
    if (index >= kMessageCount) return "";
    return (language == Language::English ? kEnglish : kChinese)[index];
}

}  // namespace dispatcher
