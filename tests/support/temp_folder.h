// A fresh temporary folder for one test, removed afterwards; optionally the working folder
// while the test runs.
#pragma once

#include <filesystem>
#include <string>

namespace testsupport {

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }
    // Writes a file (creating parent folders) relative to the folder.
    void write(const std::string& relative, const std::string& contents) const;

private:
    std::filesystem::path path_;
};

// Changes the working folder for the lifetime of the object.
class WorkingFolder {
public:
    explicit WorkingFolder(const std::filesystem::path& folder);
    ~WorkingFolder();
    WorkingFolder(const WorkingFolder&) = delete;
    WorkingFolder& operator=(const WorkingFolder&) = delete;

private:
    std::filesystem::path saved_;
};

std::string readFile(const std::filesystem::path& path);

}  // namespace testsupport
