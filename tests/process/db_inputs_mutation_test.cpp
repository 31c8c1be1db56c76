// Every db text reader on damaged text: mutations of real files (bytes flipped, inserted, cut and
// repeated, NULs, a lost final newline, 1 MB lines) and plain binary garbage. Nothing may crash,
// hang or read outside the text (the sanitizer build checks the last).
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "analyzer/process/db_text.h"
#include "analyzer/process/file_state.h"
#include "analyzer/process/internal_record.h"
#include "analyzer/process/page_map.h"
#include "analyzer/process/process_maps.h"
#include "analyzer/process/process_table.h"
#include "analyzer/process/property_table.h"
#include "tests/process/process_fixture.h"
#include "tests/support/temp_folder.h"

namespace {

namespace rk = coresift::region_kind;

const std::vector<std::string> kSeeds = {
    "NE,0,0,99,/data/aee_exp/db.fx,1,,/system/bin/crashfix,2026-12-07 09:35:44,1\n",
    "USER           PID   TID  PPID     VSZ    RSS NI RTPRI SCH  WCHAN            ADDR S NAME\n"
    "root         31686 31686     1   10868   3652  0     0   0  do_wait             0 S sh\n"
    "root           538   538 31686  132976   1992  0     0   0  0                   0 R crashfix\n"
    "root           538   540 31686  132976   1992 -10    0   0  futex_wait_queue    0 S fx-queue\n"
    "USER PID PPID VSIZE RSS RTPRI NI SCH WCHAN PC NAME\nroot 541 538 1 1 0 0 0 w 00000000 S poller\n",
    "00400000-004b0000 r-xp 00000000 fe:00 11075607                            /system/bin/crashfix\n"
    "004b0000-004bb000 ---p 00000000 00:00 0\n"
    "00500000-00502000 rw-p 00000000 00:00 0   [anon:libc_malloc]\n"
    "7ffe0000-7fff0000 rw-p 00000000 00:00 0   [stack]\n",
    "[ro.build.type]: [userdebug]\n[ro.build.fingerprint]: [ferrovane/fixture/arm64-v8a:14/FX14.1/1:userdebug]\n"
    "[ro.quandrel.version.branch]: [alps]\n[a]: [b]\n",
    "lrwx------ root root 2016-01-01 10:00 3 -> /dev/null\n"
    "lrwx------ 1 root root 64 2020-01-01 10:00 7 -> /dev/binder\n",
    "[      400000] : 8000000000012345,801\n[      402000] : 4000000000000203,0\n",
};

class Mutator {
public:
    explicit Mutator(unsigned seed) : rng_(seed) {}

    std::string mutate(std::string text) {
        switch (pick(9)) {
            case 0:  // flip a few bytes
                for (std::size_t n = 1 + pick(8); n-- && !text.empty();) text[pick(text.size())] ^= static_cast<char>(1 + pick(255));
                break;
            case 1:  // insert random bytes, NULs included
                text.insert(pick(text.size() + 1), randomBytes(1 + pick(16)));
                break;
            case 2:  // cut a range
                if (!text.empty()) {
                    std::size_t at = pick(text.size());
                    text.erase(at, pick(text.size() - at + 1));
                }
                break;
            case 3:  // repeat a range
                if (!text.empty()) {
                    std::size_t at = pick(text.size());
                    text.insert(at, text.substr(at, pick(64)));
                }
                break;
            case 4:  // lose the final newline, or everything after some point
                if (!text.empty()) text.resize(text.back() == '\n' ? text.size() - 1 : pick(text.size()));
                break;
            case 5:  // nothing but garbage
                text = randomBytes(pick(4096));
                break;
            case 6:  // a NUL somewhere
                text.insert(pick(text.size() + 1), 1, '\0');
                break;
            case 7:  // the separators the readers look for, in odd places
                for (std::size_t n = 1 + pick(6); n--;) text.insert(pick(text.size() + 1), 1, " ,[]:-\n"[pick(7)]);
                break;
            case 8:  // now and then a 1 MB line
                if (pick(25) == 0) text.insert(pick(text.size() + 1), std::string(1 << 20, "a ,[]-0"[pick(7)]));
                break;
        }
        return text;
    }

private:
    std::size_t pick(std::size_t bound) { return bound ? std::uniform_int_distribution<std::size_t>(0, bound - 1)(rng_) : 0; }
    std::string randomBytes(std::size_t n) {
        std::string bytes(n, '\0');
        for (char& c : bytes) c = static_cast<char>(pick(256));
        return bytes;
    }
    std::mt19937 rng_;
};

class DbInputsMutationTest : public processtest::ProcessTest {
protected:
    DbInputsMutationTest() : cwd_(folder_.path()) {
        core().pid = 538;
        core().ppid = 31686;
        addThreads({538, 540, 541});
        coresift::AddressSpace& s = space();
        s.addRegion(0x400000, 0xb0000, rk::kRead | rk::kExecute, {});
        s.addRegion(0x500000, 0x2000, rk::kRead | rk::kWrite, {});
        s.addRegion(0x7ffe0000, 0x10000, rk::kRead | rk::kWrite, {});
    }

    // Hands one text to every reader.
    void readAll(const std::string& text, bool withFiles) {
        coresift::exceptionTimeOf(text);
        for (unsigned version : {1u, 9u}) {
            coresift::FdTable table;
            coresift::readFileState(context(), text, version, table);
            table.forEach([](const coresift::FdRecord& record) { return record.path.empty() ? 1 : 0; });
        }
        coresift::readProcessTable(context(), text);
        coresift::readProcessMaps(context(), text, 4096);
        coresift::PropertyTable properties;
        coresift::readProperties(context(), text, properties);
        properties.find("ro.build.type");
        properties.find(text.substr(0, 40));
        coresift::LineReader lines(text, 4095);
        for (std::string_view line; lines.next(line);) coresift::scanMapsLine(line);
        if (withFiles) {
            folder_.write("PROCESS_PAGEMAP.SUMMARY_KPAGEFLAGS-538", text);
            folder_.write("PROCESS_PAGEMAP", text);
            for (TargetWord address : {0x400000u, 0x402000u, 0x7ffe1000u}) coresift::pageInfo(context(), address);
        }
    }

    testsupport::TempFolder folder_;
    testsupport::WorkingFolder cwd_;
};

TEST_F(DbInputsMutationTest, MutatedFilesAreReadWithoutHarm) {
    Mutator mutator(20261207);
    unsigned runs = 0;
    for (const std::string& seed : kSeeds) {
        std::string text = seed;
        for (int i = 0; i < 400; ++i, ++runs) {
            text = i % 8 == 0 ? mutator.mutate(seed) : mutator.mutate(std::move(text));
            if (text.size() > (4u << 20)) text = seed;
            readAll(text, i % 16 == 0);
        }
    }
    EXPECT_EQ(runs, kSeeds.size() * 400);
    for (std::uint32_t tid : {538u, 540u, 541u}) {
        EXPECT_LE(thread(tid).state, 10u) << "states stay in range";
        EXPECT_LE(thread(tid).policy, 6u) << "policies stay in range";
        EXPECT_LE(thread(tid).name.size(), 4095u) << "names come from lines cut to their limit";
    }
}

TEST_F(DbInputsMutationTest, EdgeShapesOfWholeFiles) {
    std::string everyByte;
    for (int c = 0; c < 256; ++c) everyByte += static_cast<char>(c);
    for (const std::string& text :
         {std::string(), std::string("\n"), std::string(1 << 20, 'x'), std::string(1 << 20, ' '), std::string(1 << 20, ','),
          std::string(1 << 20, '['), std::string(1 << 20, '\n'), std::string(1 << 20, '\0'), everyByte + everyByte}) {
        readAll(text, true);
    }
    SUCCEED();
}

}  // namespace
