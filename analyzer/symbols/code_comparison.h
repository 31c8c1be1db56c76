// Comparing a module's code as the dump holds it with the symbol file's load window: runs of
// differing 32-bit words, and the differences that do not make the file another build (compile
// dates and times, a build-id note, trap padding).
#pragma once

#include <cstddef>
#include <vector>

#include "common/byte_reader.h"

namespace coresift {

// Differing bytes [begin, end) of the compared ranges (offsets from their start).
struct DiffRun {
    std::size_t begin = 0, end = 0;
    std::size_t size() const { return end - begin; }
};

struct CodeComparison {
    bool identical = true;
    // The first runs (at most two) that no benign pattern explains.
    std::vector<DiffRun> unexplained;
};

// Compares `dump` with `file` over the length of `dump` (bytes past the end of `file` compare as
// zeros). Differing words are grouped into runs: a run goes on while the next differing word is
// fewer than 16 words after the previous one. Runs made only of benign differences are dropped;
// the comparison stops after the second unexplained run.
CodeComparison compareCode(common::ByteView dump, common::ByteView file);

// True when every differing byte of [begin, end) is covered by a benign pattern in the dump's or
// the file's bytes: a time "hh:mm:ss", a date "Mmm dd yyyy", a 32-byte GNU build-id note or one
// to three 0xD4D4D4D4 words (the last two at 4-byte aligned offsets).
bool benignRun(common::ByteView dump, common::ByteView file, std::size_t begin, std::size_t end);

}  // namespace coresift
