// Android's offline unwind cases (a thread's registers, stack snapshots, maps and libraries) turned
// into exception dbs: an ELF core, PROCESS_MAPS and a symbols folder, as a device would have
// written them for that thread.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tools/corekit/core_builder.h"
#include "tools/fixturekit/maps_text.h"

namespace fixturekit {

struct MemorySnapshot {
    std::string file;  // e.g. stack.data
    std::uint64_t start = 0;
    std::vector<std::uint8_t> bytes;
};

struct OfflineCase {
    std::string dir;
    std::string name;  // the folder's base name
    corekit::CoreArch arch = corekit::CoreArch::Arm64;
    std::vector<MapsEntry> maps;
    std::vector<std::pair<std::string, std::uint64_t>> regs;  // as listed in regs.txt
    std::vector<MemorySnapshot> snapshots;
    std::map<std::string, std::vector<std::uint8_t>> files;  // mapped name -> unpacked contents
};

struct ConversionOptions {
    // Give each library's writable segment as a read-only region without bytes (the symbol-file
    // check then cannot compare it) instead of the file's bytes relocated as the device held them.
    bool rwWithoutBytes = false;
    // Convert even a case listed as unsupported.
    bool force = false;
};

struct OfflineDb {
    corekit::CoreBuilder core{corekit::CoreArch::Arm64};
    std::string processMaps;
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> symbols;  // device path -> file
    std::vector<std::string> log;  // decisions taken, one line each
};

// Reads a case folder: maps.txt, regs.txt, *.data, and the mapped files (plain or .gz).
bool readOfflineCase(const std::string& dir, OfflineCase& out, std::string& error);
// Why a case cannot be represented, or empty.
std::string unsupportedReason(const std::string& caseName);
// The device path the db uses for a name of maps.txt ("libc.so" -> "/system/lib64/libc.so").
std::string offlineDevicePath(const std::string& name, corekit::CoreArch arch);
bool convertOfflineCase(const OfflineCase& in, const ConversionOptions& options, OfflineDb& out, std::string& error);
// Writes PROCESS_COREDUMP, PROCESS_MAPS and symbols/ into `dir` (created when missing).
bool writeOfflineDb(const OfflineDb& db, const std::string& dir, std::string& error);

// The help text's list of unsupported cases and of the choices the conversion makes.
std::string offlineConversionNotes();

}  // namespace fixturekit
