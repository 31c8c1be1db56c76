// A frame list as report text: the heading, one line per frame with the module, function and
// source columns aligned, and the end line.
//
//   <tab><module, padded><mark><blank><function(arguments) + offset, padded> <file:line>
//
// The mark is ">" for a signal frame. A marker frame (where the stack scan resumed) prints
// "......" in place of the function.
#pragma once

#include <functional>
#include <string>

#include "analyzer/driver/messages.h"
#include "analyzer/unwind/frame.h"

namespace coresift {
class ReportWriter;
}

namespace coresift::unwind {

// Renders an argument value symbolically (a name and offset, a function, hexadecimal); null:
// hexadecimal.
using ValueText = std::function<std::string(TargetWord)>;

std::string formatFrames(const FrameList& frames, const char* heading, const MessageCatalog& catalog,
                         const ValueText& valueText = {});

void printFrames(ReportWriter& report, const FrameList& frames, Msg heading, const ValueText& valueText = {});

}  // namespace coresift::unwind
