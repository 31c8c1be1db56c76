// Matching a DEX file the Java runtime had open with its copy in the symbols folder, so that the
// Java walker may read the DEX's tables from the file where the dump lacks them.
//
// The Java walker fills a `DexRecord` from the runtime's DEX object: where the DEX file's bytes
// were mapped, how large the file was, and the thirteen words the object holds (in the order of
// `dex_word`). The file found under the DEX's device path must be the same size, and the words
// computed from its header, placed at `mapAddress`, must equal the record's.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "analyzer/symbols/elf_image.h"
#include "common/target_word.h"

namespace coresift {

struct RunContext;

namespace dex_word {
inline constexpr unsigned kBegin = 0;      // the DEX header's address
inline constexpr unsigned kSize = 1;       // the header's file_size
inline constexpr unsigned kHeader = 2;     // the header (begin again, as the runtime keeps it)
inline constexpr unsigned kStringIds = 3;  // begin + string_ids_off; likewise the next five
inline constexpr unsigned kTypeIds = 4;
inline constexpr unsigned kFieldIds = 5;
inline constexpr unsigned kMethodIds = 6;
inline constexpr unsigned kProtoIds = 7;
inline constexpr unsigned kClassDefs = 8;
inline constexpr unsigned kMapList = 9;    // begin + map_off
inline constexpr unsigned kData = 10;      // begin + data_off
inline constexpr unsigned kContainerA = 11;  // a "dey" container's section of tag 0x434C4B50, else 0
inline constexpr unsigned kContainerB = 12;  // its section of tag 0x524D4150, else 0
inline constexpr unsigned kCount = 13;
}  // namespace dex_word

struct DexRecord {
    std::string path;             // the DEX file's path on the device
    TargetWord mapAddress = 0;    // where the file's first byte lay in the dead process
    std::uint64_t fileSize = 0;   // the size the runtime mapped
    std::array<TargetWord, dex_word::kCount> words{};

    bool tried = false;           // matching runs once per record
    bool matched = false;
    std::shared_ptr<const MappedFile> file;  // the matched file, kept for the walker
};

// The words a DEX file (a bare DEX or a "dey" container holding one) gives when its first byte
// lies at `mapAddress`; nothing, with the reason in `unsupported` set, when the file is not a
// DEX this analyzer reads or its header does not fit.
struct DexWords {
    std::array<TargetWord, dex_word::kCount> words{};
};
std::optional<DexWords> dexWordsOf(common::ByteView file, TargetWord mapAddress, bool& unsupported);

// Finds the record's file in the symbols folder (the first candidate is taken) and checks it;
// true when it matches. Messages: "Don't support this DEX format" for a file that is no DEX of
// a known version, the not-matched message for any other difference.
bool matchDexFile(RunContext& context, DexRecord& record);

}  // namespace coresift
