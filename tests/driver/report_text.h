// Reading a written report in the tests: the report is a text file, so its lines end in CR LF
// on Windows and LF elsewhere; tests compare it with LF line ends.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/text_encoding.h"
#include "tests/support/temp_folder.h"

namespace drivertest {

// The report's text with LF line ends, after checking that every line ends as the platform's
// text files do (an empty string when the file does not exist).
inline std::string readReport(const std::filesystem::path& path) {
    if (!std::filesystem::exists(path)) return {};
    std::string raw = testsupport::readFile(path);
    const bool crlf = platform::kGbkOutput;  // the Windows build
    std::string text;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\n') {
            EXPECT_EQ(crlf, i > 0 && raw[i - 1] == '\r') << "line end at byte " << i << " of " << path;
        }
        if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
        text += raw[i];
    }
    return text;
}

}  // namespace drivertest
