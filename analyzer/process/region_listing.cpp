// The region listing line of the map listing and the console.
#include "analyzer/process/address_space.h"
#include "common/text_format.h"

namespace coresift {

namespace {

namespace rk = region_kind;

const char* permissionText(std::uint32_t kind) {
    static const char* const kTexts[] = {"---", "--X", "-W-", "-WX", "R--", "R-X", "RW-", "RWX"};
    return kTexts[(kind >> 4) & 7];
}

std::string kindLabel(std::uint32_t kind) {
    switch (kind & rk::kTypeMask) {
        case rk::kElf: return " ELF  ";
        case rk::kDex: return " DEX  ";
        case rk::kFile: return " FILE ";
        case rk::kDev: return " DEV  ";
        case rk::kHeap:
            return std::string((kind & rk::kJavaHeap) ? "JHEAP" : " HEAP") + ((kind & rk::kMarked) ? "@" : " ");
        case rk::kStack: return (kind & rk::kManaged) ? "JSTACK" : " STACK";
        case rk::kIgnore: return "IGNORE";
        default: return "      ";
    }
}

}  // namespace

std::string regionListingLine(const MapEntry& region) {
    std::string format = std::string(kAddressFormat) + "-" + kAddressFormat + " %s ";
    std::string line = common::format(format.c_str(), region.start, region.end, permissionText(region.kind)).text;
    line += kindLabel(region.kind);
    if (region.hasName()) line += " " + region.name;
    line += "\n";
    return line;
}

}  // namespace coresift
