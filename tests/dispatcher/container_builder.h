// Builds packed db containers for tests, well-formed or hostile.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

struct BuilderEntry {
    std::string name;        // up to 32 bytes; exactly 32 leaves no terminator
    std::string data;
    bool scrambled = false;
    std::uint32_t present = 1;
    // Overrides of the stored offset and length (else where the data is put and its size).
    std::int64_t offset = -1;
    std::int64_t length = -1;
};

class ContainerBuilder {
public:
    explicit ContainerBuilder(std::uint32_t version = 17) : version_(version) {}

    ContainerBuilder& add(BuilderEntry entry) {
        entries_.push_back(std::move(entry));
        return *this;
    }
    ContainerBuilder& magic(std::uint32_t value) {
        magic_ = value;
        return *this;
    }
    // Overrides the stored end of the entry table.
    ContainerBuilder& tableEnd(std::uint32_t value) {
        tableEnd_ = value;
        return *this;
    }

    std::string bytes() const;

private:
    std::uint32_t version_;
    std::uint32_t magic_ = 0x7B40DEAD;
    std::int64_t tableEnd_ = -1;
    std::vector<BuilderEntry> entries_;
};

// The scrambled form of `data` (the same XOR undoes it).
std::string scramble(const std::string& data);

}  // namespace testsupport
