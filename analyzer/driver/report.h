// The exception report's layout: the header, the crash verdict, then the sections in their fixed
// order, and the list of symbol files the analysis missed.
#pragma once

namespace coresift {

class ReportWriter;
struct RunContext;

// Writes the whole report into the open stream.
void writeReport(RunContext& context, ReportWriter& report);

// Header lines: title, manual pointer, crash verdict, version and build type, exception time,
// command line, pid and ppid with the parent's name.
void writeReportHeader(RunContext& context, ReportWriter& report);

// Every module whose symbol file was looked for but whose symbol tables could not be mapped,
// under one heading; nothing when there is none.
void writeMissingSymbolFiles(RunContext& context, ReportWriter& report);

}  // namespace coresift
