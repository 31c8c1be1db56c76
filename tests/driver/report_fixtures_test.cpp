// Reports of the exception dbs made from real crashes under qemu-user: golden headers and thread
// sections, the values every report shows checked against the core and the files the fixture
// script wrote, and the Chinese report's name and structure.
//
// FERROVANE_UPDATE_GOLDEN=1 rewrites the golden files in tests/data/golden/ (review the diff).
#include <gtest/gtest.h>

#include <algorithm>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "analyzer/driver/messages.h"
#include "common/text_format.h"
#include "platform/text_encoding.h"
#include "tests/driver/report_text.h"
#include "tests/support/run_capture.h"
#include "tests/support/temp_folder.h"
#include "tools/corekit/core_reader.h"

namespace {

namespace fs = std::filesystem;
using testsupport::readFile;

const fs::path kData(FERROVANE_TEST_DATA_DIR);
const fs::path kGolden = fs::path(FERROVANE_SOURCE_DIR) / "tests" / "data" / "golden";

std::vector<std::string> split(const std::string& text, char delimiter) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, delimiter);) parts.push_back(part);
    return parts;
}

// The manifest's db names of this build's width whose core was completed like a device's.
std::vector<std::string> completedDbs() {
    std::vector<std::string> names;
    for (const std::string& line : split(readFile(kData / "manifest.tsv"), '\n')) {
        if (line.empty() || line[0] == '#' || line.rfind("name\t", 0) == 0) continue;
        auto field = split(line, '\t');
        if (field.size() > 8 && (field[1] == "arm64") == kIs64 && field[8] == "completed") names.push_back(field[0]);
    }
    return names;
}

// A copy of one db in a temporary folder, analysed there.
class DbRun {
public:
    explicit DbRun(const std::string& name) {
        fs::copy(kData / name / "db", folder_.path(), fs::copy_options::recursive);
    }
    // Runs the analyzer in the copy; returns the report's text (empty when there is none).
    std::string analyze(const std::vector<std::string>& args, const std::string& reportName = "AnalysisReport.txt") {
        testsupport::WorkingFolder cwd(folder_.path());
        run_.run(args);
        return drivertest::readReport(folder_.path() / reportName);
    }
    const fs::path& path() const { return folder_.path(); }
    testsupport::RunCapture& run() { return run_; }

private:
    testsupport::TempFolder folder_;
    testsupport::RunCapture run_;
};

class ReportFixtures : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(kData / "manifest.tsv")) GTEST_SKIP() << "no unpacked test data in " << kData;
    }

    void expectGolden(const std::string& db, const std::string& ext) {
        SCOPED_TRACE(db + " -ext " + ext);
        DbRun run(db);
        std::string report = run.analyze({"-ext", ext});
        ASSERT_FALSE(report.empty()) << run.run().out() << run.run().err();
        fs::path golden = kGolden / (db + ".ext" + ext + ".txt");
        if (std::getenv("FERROVANE_UPDATE_GOLDEN")) {
            fs::create_directories(kGolden);
            std::ofstream(golden, std::ios::binary) << report;
        }
        ASSERT_TRUE(fs::exists(golden)) << golden;
        EXPECT_EQ(report, readFile(golden));
    }
};

TEST_F(ReportFixtures, HeaderAndThreadSectionMatchTheGoldens) {
    if (kIs64) {
        expectGolden("arm64-static-nullwrite", "259");
        expectGolden("arm64-pie-nullread", "387");
    } else {
        expectGolden("arm-static-thumb-inhandler", "259");
        expectGolden("arm-nopie-arm-badcall", "387");
    }
}

// The fixture script's record of each crash: the core's notes and the text files it wrote.
struct Recorded {
    std::uint32_t pid = 0, ppid = 0;
    std::string commandLine, time, parent;
    std::vector<std::uint32_t> tids;
    std::map<std::uint32_t, std::string> names, states;
};

Recorded recordOf(const fs::path& db) {
    Recorded r;
    std::string error;
    auto core = corekit::CoreFile::load((db / "PROCESS_COREDUMP").string(), &error);
    EXPECT_TRUE(core) << error;
    if (!core) return r;
    auto info = core->processInfo();
    auto threads = core->threads();
    r.pid = info->pid;
    r.ppid = info->ppid ? info->ppid : threads.at(0).ppid;
    r.commandLine = info->psargs.substr(0, info->psargs.find_last_not_of(' ') + 1);
    for (const auto& t : threads) r.tids.push_back(t.pid);
    r.time = split(split(readFile(db / "ZZ_INTERNAL"), '\n').at(0), ',').at(8);

    static const std::map<std::string, std::string> kStateNames{
        {"R", "running"}, {"S", "interruptable sleep"}, {"D", "uninterruptable sleep"}, {"T", "stop"}, {"Z", "zombie"}};
    auto rows = split(readFile(db / "SYS_PROCESSES_AND_THREADS"), '\n');
    std::map<std::string, std::size_t> column;
    std::istringstream header(rows.at(0));
    std::size_t index = 0;
    for (std::string name; header >> name;) column[name] = index++;
    for (std::size_t i = 1; i < rows.size(); ++i) {
        std::vector<std::string> cells;
        std::istringstream row(rows[i]);
        for (std::string cell; row >> cell;) cells.push_back(cell);
        if (cells.size() < column.size()) continue;
        auto tid = static_cast<std::uint32_t>(std::stoul(cells[column.at("TID")]));
        if (tid == r.ppid) r.parent = cells[column.at("NAME")];
        r.names[tid] = cells[column.at("NAME")];
        r.states[tid] = kStateNames.at(cells[column.at("S")]);
    }
    return r;
}

TEST_F(ReportFixtures, EveryReportShowsWhatTheFixtureScriptRecorded) {
    unsigned checked = 0;
    for (const std::string& db : completedDbs()) {
        SCOPED_TRACE(db);
        DbRun run(db);
        Recorded r = recordOf(run.path());
        std::string report = run.analyze({"-ext", "387"});
        auto has = [&](const std::string& text) {
            EXPECT_NE(report.find(text), std::string::npos) << "missing: " << text << "\n" << report;
        };
        has("\nExp time: " + r.time + "\n");
        has("\nCmd line: " + r.commandLine + "\n");
        has("\npid     : " + std::to_string(r.pid) + ", ppid: " + std::to_string(r.ppid) + " (" + r.parent + ")\n\n");
        has("\n== Thread info(total " + std::to_string(r.tids.size()) + " threads) ==\nCurrent thread info:\n   Name: " +
            r.names[r.tids[0]] + ", ");
        for (std::uint32_t tid : r.tids) {
            has("   Name: " + r.names[tid] + ", " + r.states[tid] + ", tid: " + std::to_string(tid) +
                (tid == r.pid ? " (main thread)\n" : "\n"));
        }
        ++checked;
    }
    EXPECT_GE(checked, 7u);
}

// The "0x..." numbers of a line, in order.
std::vector<std::string> hexNumbers(const std::string& line) {
    std::vector<std::string> numbers;
    for (std::size_t at = line.find("0x"); at != std::string::npos; at = line.find("0x", at + 2)) {
        std::size_t end = at + 2;
        while (end < line.size() && std::isxdigit(static_cast<unsigned char>(line[end]))) ++end;
        numbers.push_back(line.substr(at, end - at));
    }
    return numbers;
}

std::string chinese(coresift::Msg id) { return coresift::catalogText(coresift::Language::Chinese, id); }
std::string english(coresift::Msg id) { return coresift::catalogText(coresift::Language::English, id); }

// The pieces of a catalog text between its line breaks, tabs and "%*c" paddings.
std::vector<std::string> textPieces(const std::string& text) {
    std::vector<std::string> pieces(1);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' || text[i] == '\t' || text.compare(i, 3, "%*c") == 0) {
            if (text[i] == '%') i += 2;
            pieces.emplace_back();
        } else {
            pieces.back() += text[i];
        }
    }
    return pieces;
}

// A Chinese report line with the words of the messages that appear inside lines put back into
// English, longest first so that no word is replaced inside a longer one.
std::string inEnglishWords(std::string line) {
    using coresift::Msg;
    std::vector<std::pair<std::string, std::string>> words;
    for (Msg id : {Msg::WordPara, Msg::AssemblyListingTitle, Msg::CurrentRegisterValues, Msg::ThreadStopHere,
                   Msg::MaybeHaveProblem, Msg::TipGlobalVariable, Msg::TipLocalVariable, Msg::TipReturnValue,
                   Msg::TipExecuteError}) {
        const std::vector<std::string> zh = textPieces(chinese(id)), en = textPieces(english(id));
        for (std::size_t i = 0; i < zh.size() && i < en.size(); ++i)
            if (!zh[i].empty() && zh[i] != en[i]) words.emplace_back(zh[i], en[i]);
    }
    std::sort(words.begin(), words.end(), [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
    for (const auto& [zh, en] : words)
        for (std::size_t at = line.find(zh); at != std::string::npos; at = line.find(zh, at + en.size()))
            line.replace(at, zh.size(), en);
    return line;
}

TEST_F(ReportFixtures, ChineseReportHasTheChineseNameAndTheEnglishStructure) {
    using coresift::Msg;
    std::string db = kIs64 ? "arm64-pie-nullread" : "arm-nopie-arm-badcall";
    DbRun englishRun(db), chineseRun(db);
    auto englishLines = split(englishRun.analyze({"-ext", "387"}), '\n');
    std::string chineseReport = chineseRun.analyze({"-ext", "131"}, chinese(Msg::ReportFileName));
    ASSERT_FALSE(chineseReport.empty()) << "no report named by the Chinese catalog";
    EXPECT_FALSE(fs::exists(chineseRun.path() / "AnalysisReport.txt"));
    auto chineseLines = split(chineseReport, '\n');
    ASSERT_EQ(chineseLines.size(), englishLines.size());

    // Each line starts with the Chinese text of the message the English line starts with; the
    // rest (values, literals) is the same.
    const std::vector<Msg> leading{Msg::ReportTitle, Msg::ExceptionTime, Msg::CommandLine,
                                   Msg::CurrentThreadInfo, Msg::OtherThreadInfo, Msg::NativeCallstack,
                                   Msg::EndOfFrame};
    unsigned translated = 0;
    for (std::size_t i = 0; i < englishLines.size(); ++i) {
        const std::string& en = englishLines[i];
        const std::string& zh = chineseLines[i];
        bool matched = false;
        for (Msg id : leading) {
            std::string prefix = english(id);
            prefix = prefix.substr(0, std::min(prefix.find('%'), prefix.find('\n')));
            if (en.rfind(prefix, 0) != 0) continue;
            std::string zhPrefix = chinese(id);
            zhPrefix = zhPrefix.substr(0, std::min(zhPrefix.find('%'), zhPrefix.find('\n')));
            EXPECT_EQ(zh.substr(0, zhPrefix.size()), zhPrefix) << "line " << i + 1;
            EXPECT_EQ(zh.substr(zhPrefix.size()), en.substr(prefix.size())) << "line " << i + 1;
            matched = true;
            ++translated;
            break;
        }
        if (matched) continue;
        if (en.rfind(english(Msg::Detail), 0) == 0) {
            // The verdict is a message of its own: the same addresses and values in Chinese words.
            EXPECT_EQ(zh.rfind(chinese(Msg::Detail), 0), 0u) << "line " << i + 1;
            EXPECT_EQ(hexNumbers(zh), hexNumbers(en)) << "line " << i + 1;
            EXPECT_FALSE(hexNumbers(en).empty()) << en;
            ++translated;
            continue;
        }
        if (en.rfind(english(Msg::Manual), 0) == 0) {
            const char* manualPath = " Quandrel On-Line> Quick Start> ";
            EXPECT_EQ(zh + "\n", chinese(Msg::Manual) + common::format(chinese(Msg::ReportExplanations).c_str(), manualPath).text);
        } else if (en.rfind("== Thread info", 0) == 0) {
            int count = std::stoi(en.substr(en.find("total ") + 6));
            EXPECT_EQ(zh + "\n", common::format(chinese(Msg::ThreadInfoTitle).c_str(), count).text);
        } else if (en.rfind("   Name: ", 0) == 0) {
            std::string name = en.substr(9, en.find(',') - 9);
            EXPECT_EQ(zh.rfind("   " + common::format(chinese(Msg::ThreadName).c_str(), name).text, 0), 0u) << zh;
            EXPECT_NE(zh.find(", tid: "), std::string::npos) << zh;
        } else if (en.rfind("Version : ", 0) != 0) {
            // Frame arguments without a name and the instruction listing's headings and tips
            // carry catalog words inside the line.
            EXPECT_EQ(inEnglishWords(zh), en) << "line " << i + 1;
        }
    }
    EXPECT_GE(translated, 6u);
}

}  // namespace
