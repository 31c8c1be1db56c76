// binutils and LLVM as independent oracles for the symbol look-up: readelf's symbol tables,
// llvm-symbolizer's lines and inline chains, c++filt's names, objdump's PLT stubs. Available
// where these programs are installed (the Linux test build).
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace testsupport {

bool symbolOraclesAvailable();
std::string llvmSymbolizerProgram();
std::string cxxfiltProgram();
std::string objdumpProgram();
std::string addr2lineProgram();
std::string llvmObjdumpProgram();

// Runs `command` with `input` (one item a line) on its standard input; its output lines.
std::vector<std::string> runWithInput(const std::string& command, const std::vector<std::string>& input);

// A symbol as `readelf -sW` lists it.
struct TableSymbol {
    std::uint32_t index = 0;
    std::uint64_t value = 0, size = 0;
    unsigned type = 0;      // STT_* (99 for a name readelf prints that is not listed here)
    bool local = false;
    bool defined = false;   // Ndx is not UND
    std::string name;
};
// The entries of the file's ".symtab" as readelf shows them (index order).
std::vector<TableSymbol> readelfSymtab(const std::filesystem::path& file);
// The sh_info of ".symtab" (the first global entry) as `readelf -S` shows it; 0 without one.
std::uint32_t readelfSymtabInfo(const std::filesystem::path& file);

// The files the oracles are run on, of this build's ELF class, with the set each belongs to.
struct OracleFile {
    std::string set, label;
    std::filesystem::path path;
};
const std::vector<OracleFile>& symbolOracleFiles();

// `count` addresses spread over the executable sections of `file` (a fixed seed).
std::vector<std::uint64_t> randomCodeAddresses(const std::filesystem::path& file, std::size_t count);

// Counts of compared items and disagreements, per file set and kind; printed as the test's
// agreement figures.
class Agreement {
public:
    void check(const std::string& set, const std::string& kind, bool agrees, const std::string& what);
    void explain(const std::string& set, const std::string& kind, const std::string& why);
    std::uint64_t disagreements() const { return disagreements_; }
    std::string summary() const;
    const std::vector<std::string>& examples() const { return examples_; }

private:
    std::map<std::string, std::map<std::string, std::pair<std::uint64_t, std::uint64_t>>> counts_;
    std::map<std::string, std::map<std::string, std::uint64_t>> explained_;
    std::vector<std::string> examples_;
    std::uint64_t disagreements_ = 0;
};

}  // namespace testsupport
