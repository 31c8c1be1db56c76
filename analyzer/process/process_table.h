// SYS_PROCESSES_AND_THREADS: the device's process and thread listing (the output of `ps`), which
// gives the threads their names, states, priorities and policies, and the process its user,
// resident size and parent's name.
#pragma once

#include <cstdint>
#include <string_view>

namespace coresift {

struct RunContext;

inline constexpr const char* kProcessTableFile = "SYS_PROCESSES_AND_THREADS";

// The thread-state index of a `ps` state letter: R S D T t Z X x K W are 0-9, anything else 10.
std::uint32_t threadStateOf(char letter);

// Applies the listing's text to the process record and the thread table. The first or second
// line must be the column header (exactly nine known column names), else warning 218 and the
// listing is ignored; an empty listing is ignored silently.
void readProcessTable(RunContext& context, std::string_view text);

// Phase-1 step: reads the file when it exists. Keeps nothing of its own, so it returns 0.
std::uint32_t initProcessTable(RunContext& context);

}  // namespace coresift
