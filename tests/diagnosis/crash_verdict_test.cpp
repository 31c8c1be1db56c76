// The crash verdict on hand-made processes: the signal sender in the kernel log, the abort
// message, the library functions on the backtrace, the signal lines, and the faulting
// instruction's evaluation with the special store addresses.
#include <gtest/gtest.h>

#include "analyzer/logs/log_tables.h"
#include "tests/diagnosis/diagnosis_fixture.h"

namespace diagnosistest {
namespace {

using coresift::LogTables;

constexpr std::uint32_t kStrW1AtX0 = 0xB9000001;   // A64 STR W1, [X0]
constexpr std::uint32_t kLdrX0AtX1 = 0xF9400020;   // A64 LDR X0, [X1]
constexpr std::uint32_t kStrR1AtR0 = 0xE5801000;   // A32 STR R1, [R0]
constexpr std::uint32_t kLdrR0AtR1 = 0xE5910000;   // A32 LDR R0, [R1]
constexpr std::uint32_t kStore = kIs64 ? kStrW1AtX0 : kStrR1AtR0;
constexpr std::uint32_t kLoad = kIs64 ? kLdrX0AtX1 : kLdrR0AtR1;
constexpr std::uint32_t kUndefined = kIs64 ? 0x00000000 : 0xE7F000F0;

std::string hex(TargetWord value) {
    char text[40];
    std::snprintf(text, sizeof text, kIs64 ? "0x%016llX" : "0x%08llX", static_cast<unsigned long long>(value));
    return text;
}

class VerdictTest : public DiagnosisTest {
protected:
    void kernelLog(const std::string& text) {
        context().logs = std::make_unique<LogTables>();
        context().logs->kernel.load(text);
    }
    // A crash at the first code word of kCode with this instruction.
    void crashAt(std::uint32_t instruction, unsigned signal = 11) {
        code(kCode, {instruction});
        setPc(kCode);
        core().signal = signal;
    }
};

// ---- Rule 1: a signal from another process ----

TEST_F(VerdictTest, AnotherProcessSendingTheSignalIsNamed) {
    core().signal = 9;
    kernelLog("first line is never kept\n"
              "<6>[  100.000001] (1)[77:init]sig 9 to [999:other] sent\n"
              "<6>[  100.000002] (1)[812:ActivityManagerService]sig 9 to [1234:victim] result=0\n");
    EXPECT_EQ(verdict(), "ActivityManager (812) send sig 9 to current process and cause crashed\n");
    EXPECT_EQ(context().logs->signalDeliveryLine, 1);
}

TEST_F(VerdictTest, TheThreadSignallingItselfFallsThroughToTheSignalLine) {
    core().signal = 9;
    kernelLog("x\n<6>[  100.000002] (1)[1234:victim]sig 9 to [1234:victim] result=0\n"
              "<6>[  100.000003] (1)[812:system_server]sig 9 to [1234:victim] result=0\n");
    EXPECT_EQ(verdict(), "9:Killed\n");
    EXPECT_EQ(context().logs->signalDeliveryLine, 0);  // the first qualifying line ends the scan
}

TEST_F(VerdictTest, SignalLinesThatDoNotQualify) {
    core().signal = 9;
    kernelLog("x\n"
              "<6>[  100.000002] (1)[812:a]sig 6 to [1234:victim]\n"        // another signal
              "<6>[  100.000003] (1)[812:a]sig 9 to [12345:victim]\n"       // a longer id
              "[812:a] sig 9 to [1234:v] bracket only at the start of the line\n"
              "<6>sig 9 to [1234:x] \"sig\" before the 21st character.....\n");
    EXPECT_EQ(verdict(), "9:Killed\n");
}

// ---- Rule 2: the abort message ----

class AbortMessageTest : public VerdictTest {
protected:
    AbortMessageTest() {
        add(kSpecial, 0x1000, rk::kRead | rk::kWrite, 0x5000);
        space().nameFromMapsLine(kSpecial, kSpecial + 0x1000, "[anon:abort message]");
        core().signal = 6;
    }
    void record(std::uint64_t magic1, std::uint64_t magic2, TargetWord size, const std::string& text) {
        poke(kSpecial, &magic1, 8);
        poke(kSpecial + 8, &magic2, 8);
        poke(kSpecial + 16, &size, sizeof size);
        poke(kSpecial + (kIs64 ? 24 : 20), text.data(), text.size());
    }
    static constexpr std::uint64_t kMagic1 = 0xB18E40886AC388F0ull, kMagic2 = 0xC6DFBA755A1DE0B5ull;
};

TEST_F(AbortMessageTest, TheMessageIsTheVerdict) {
    record(kMagic1, kMagic2, 64, "assertion \"x\" failed");
    EXPECT_EQ(verdict(), "null() throw exception: assertion \"x\" failed\n");
    record(kMagic1, kMagic2, 64, "ends with a newline\n");
    EXPECT_EQ(verdict(), "null() throw exception: ends with a newline\n");
}

TEST_F(AbortMessageTest, WrongMagicFallsThroughToTheBacktrace) {
    record(kMagic1, kMagic2 ^ 1, 64, "not mine");
    addFrame("abort", "libc.so");
    addFrame("main", "app");
    EXPECT_EQ(verdict(), "main() throw exception: abort(), please check code with crashed thread's callstack\n");
}

TEST_F(AbortMessageTest, TheTextEndsAtTheRecordSizeAndTheMapping) {
    const std::size_t textOffset = kIs64 ? 24 : 20;
    record(kMagic1, kMagic2, static_cast<TargetWord>(textOffset + 5), "0123456789");
    EXPECT_EQ(verdict(), "null() throw exception: 01234\n");
    // A text without NUL that fills the mapping stops at its end; a size beyond it is ignored.
    std::string full(0x1000 - textOffset, 'A');
    record(kMagic1, kMagic2, 0x7FFFFFFF, full);
    EXPECT_EQ(verdict(), "null() throw exception: " + full + "\n");
}

// ---- Rule 3: library functions on the backtrace ----

class BacktraceRuleTest : public VerdictTest {
protected:
    BacktraceRuleTest() { core().signal = 6; }
    TargetWord text(const std::string& s) {
        poke(kData + 0x100, s.c_str(), s.size() + 1);
        return kData + 0x100;
    }
};

TEST_F(BacktraceRuleTest, AndroidLogAssertShowsItsText) {
    addFrame("abort", "libc.so");
    auto& site = addFrame("__android_log_assert", "liblog.so");
    site.argumentCount = 3;
    site.arguments[2] = text("cond failed: fd >= 0");
    site.argumentsKnown = 0x4;
    addFrame("Reader::open", "libreader.so");
    EXPECT_EQ(verdict(),
              "Reader::open() throw exception: cond failed: fd >= 0, please check code with crashed thread's callstack\n");
    frames()[1].argumentsKnown = 0x3;  // the third argument's value is not known
    EXPECT_EQ(verdict(), "Reader::open() throw exception: , please check code with crashed thread's callstack\n");
}

TEST_F(BacktraceRuleTest, StackCheckFailureNamesTheBrokenFunction) {
    addFrame("abort", "libc.so");
    addFrame("__libc_fatal", "libc.so");
    addFrame("__stack_chk_fail", "libc.so");
    addFrame("parsePacket", "libnet.so");
    EXPECT_EQ(verdict(), "parsePacket() function stack frame corruption! Please check all local variable/array has "
                         "overflow or not.\n");
}

TEST_F(BacktraceRuleTest, LibcFatalShowsItsFirstArgument) {
    addFrame("raise", "libc.so");
    addFrame("abort", "libc.so");
    auto& fatal = addFrame("__libc_fatal", "libc.so");
    fatal.argumentCount = 1;
    fatal.arguments[0] = text("FORTIFY: read: count > SSIZE_MAX");
    fatal.argumentsKnown = 1;
    addFrame("", "libapp.so", 0x4242);
    EXPECT_EQ(verdict(), hex(0x4242) + "() throw exception: FORTIFY: read: count > SSIZE_MAX, please check code with "
                                       "crashed thread's callstack\n");
}

TEST_F(BacktraceRuleTest, AbortSitesByFunction) {
    addFrame("abort", "libc.so");
    addFrame("__assert2", "libc.so");
    addFrame("", "libmedia.so", 0x1000);
    EXPECT_EQ(verdict(), "libmedia.so() throw exception: abort(), please check code with crashed thread's callstack\n");
    frames()[1].function = "fdleak_record_backtrace";
    EXPECT_EQ(verdict(), "fd leak, please refer 'File descriptor check' part\n");
    frames()[1].function = "bt_assert";
    EXPECT_EQ(verdict(), "Bluetooth module crashed at file: , line no: 0: , please check code with crashed thread's "
                         "callstack\n");
    frames()[1].function = "";
    frames()[1].module = "libcamera.so";
    EXPECT_EQ(verdict(), "libcamera.so() throw exception: abort(), please check code with crashed thread's callstack\n");
}

TEST_F(BacktraceRuleTest, AbortOutsideTheCLibraryIsTheSignalLine) {
    // glibc's abort lives in the executable in a static program: not "libc.so".
    addFrame("raise", "crashfix");
    addFrame("abort", "crashfix");
    addFrame("main", "crashfix");
    EXPECT_EQ(verdict(), "Program called abort()\n");
    // A C-library walk that leaves the library before reaching abort gives nothing either.
    frames() = {};
    addFrame("raise", "libc.so");
    addFrame("helper", "libother.so");
    addFrame("abort", "libc.so");
    EXPECT_EQ(verdict(), "Program called abort()\n");
}

TEST_F(BacktraceRuleTest, DalvikEraRules) {
    addFrame("abort", "libc.so");
    addFrame("dvmAbort", "libdvm.so");
    if (kIs64) {
        EXPECT_EQ(verdict(), "dvmAbort() throw exception: abort(), please check code with crashed thread's callstack\n");
        return;
    }
    context().platform.androidVersion = 4;
    EXPECT_EQ(verdict(), "Program called dvmAbort(), please check code with crashed thread's callstack\n");
    context().platform.androidVersion = 6;
    EXPECT_EQ(verdict(), "dvmAbort() throw exception: abort(), please check code with crashed thread's callstack\n");
}

TEST_F(BacktraceRuleTest, DivisionByZeroChain) {
    core().signal = 8;
    addFrame("kill", "libc.so");
    addFrame("__aeabi_idiv0", "libc.so");
    addFrame("average", "libstats.so");
    EXPECT_EQ(verdict(), "crashed by divided 0 at libstats.so:average(), please check code with crashed thread's callstack\n");
    frames()[2].function = "";
    EXPECT_EQ(verdict(), "crashed by divided 0, please check code with crashed thread's callstack\n");
    frames()[1].function = "other";
    EXPECT_EQ(verdict(), "8:Floating point exception\n");
}

// ---- Rule 4: other signals ----

TEST_F(VerdictTest, SignalLines) {
    core().signal = 4;
    EXPECT_EQ(verdict(), "4:Illegal instruction\n");
    core().signal = 31;
    EXPECT_EQ(verdict(), "31:Bad system call\n");
    core().signal = 6;
    EXPECT_EQ(verdict(), "Program called abort()\n");
    core().signal = 64;
    EXPECT_EQ(verdict(), "Unrecognized signal\n");
}

// ---- Rules 5 and 6: the faulting instruction ----

TEST_F(VerdictTest, NullWriteAndNullRead) {
    crashAt(kStore);
    regs().r[0] = 0;
    regs().r[1] = 0x2A;
    addFrame("Ledger::record");
    EXPECT_EQ(verdict(), "Ledger::record() write data(0x2A) to illegal address(" + hex(0) +
                             "), please check code with crashed thread's callstack\n");
    crashAt(kLoad);
    regs().r[1] = 0x10;
    EXPECT_EQ(verdict(), "Ledger::record() read data from illegal address(" + hex(0x10) +
                             "), please check code with crashed thread's callstack\n");
    // A store into a read-only mapping and a load from a mapping without read permission.
    crashAt(kStore);
    regs().r[0] = kReadOnly + 8;
    regs().r[1] = 0x2A;
    EXPECT_NE(verdict().find("write data(0x2A) to illegal address(" + hex(kReadOnly + 8) + ")"), std::string::npos);
}

TEST_F(VerdictTest, BadProgramCounter) {
    core().signal = 11;
    setPc(0);
    addFrame("", "", 0);
    EXPECT_EQ(verdict(), "Jump to illegal address(" + hex(0) +
                             ") when function return, maybe stack frame corruption, please check code with crashed "
                             "thread's callstack\n");
    addFrame("Dispatcher::run", "libapp.so", kCode);
    EXPECT_EQ(verdict(), "Dispatcher::run() calling incorrect function pointer cause program execute at illegal address(" +
                             hex(0) + "), please check code with crashed thread's callstack\n");
    setPc(kData);  // mapped but not executable
    EXPECT_NE(verdict().find("illegal address(" + hex(kData) + ")"), std::string::npos);
}

TEST_F(VerdictTest, UndefinedInstructionUnderSegv) {
    crashAt(kUndefined);
    addFrame("decodeFrame");
    char expected[120];
    std::snprintf(expected, sizeof expected, "decodeFrame() exist undef Inst.(0x%08X)", kUndefined);
    EXPECT_EQ(verdict(), std::string(expected) + ", please check code with crashed thread's callstack\n");
}

TEST_F(VerdictTest, BusErrorOnAPermittedAccess) {
    space().nameFromMapsLine(kCode, kCode + 0x1000, "/system/lib/libfoo.so");
    crashAt(kLoad, 7);
    regs().r[1] = kData;
    EXPECT_EQ(verdict(), "visited address(" + hex(kCode) +
                             ") of the file(/system/lib/libfoo.so) is not exist or file too small, please check code "
                             "with crashed thread's callstack\n");
    core().signal = 11;
    EXPECT_EQ(verdict(), "Program is normal, maybe hardware problem(please check PCB layout has do PDN or not) or signal "
                         "is triggered by external program\n");
}

TEST_F(VerdictTest, UnreadableInstruction) {
    core().signal = 11;
    ASSERT_TRUE(space().addRegion(kSpecial, 0x1000, rk::kRead | rk::kExecute, {}));  // no bytes in the dump
    setPc(kSpecial);
    addFrame("f");
    EXPECT_EQ(verdict(), "Program crashed, please check code with crashed thread's callstack\n");
}

TEST_F(VerdictTest, SpecialStoreAddresses) {
    crashAt(kStore);
    regs().r[0] = 0xDEADBAAD;
    regs().r[1] = 0x1234;
    addFrame("free", "libc.so");
    EXPECT_EQ(verdict(), "memory(" + hex(0x1234) + ") corruption, please refer 'C heap check' part\n");
    frames()[0].module = "libjemalloc.so";
    EXPECT_NE(verdict().find("free() write data(0x1234) to illegal address(" + hex(0xDEADBAAD) + ")"), std::string::npos);
    regs().r[0] = 0;
    regs().r[1] = 0xDEADFEFE;
    frames()[0].module = "libhkd.so";
    EXPECT_EQ(verdict(), "Error detected when free memory, please check mainlog and crash callstack\n");
    // Without a backtrace only the generic store message is written.
    frames().clear();
    regs().r[0] = 0xDEADBAAD;
    EXPECT_NE(verdict().find("?" "?() write data"), std::string::npos);
}

TEST_F(VerdictTest, DalvikEraStoreAddresses) {
    if (kIs64) GTEST_SKIP() << "CoreSift only";
    context().platform.androidVersion = 4;
    crashAt(kStore);
    addFrame("dvmAbort", "libdvm.so");
    addFrame("caller", "libdvm.so");
    regs().r[0] = 0xDEADD00D;
    EXPECT_EQ(verdict(), "Program called dvmAbort(), please check code with crashed thread's callstack\n");
    regs().r[0] = 0xDEAD2AED;
    regs().r[1] = 2797;
    EXPECT_EQ(verdict(), "caller() function stack frame corruption! Please check all local variable/array has overflow "
                         "or not.\n");
    regs().r[0] = 0xDEADBAAD;
    regs().r[1] = 39;
    frames()[1].function = "__assert2";
    frames()[1].module = "libc.so";
    addFrame("checkIndex", "libfoo.so");
    EXPECT_EQ(verdict(), "checkIndex() throw exception: abort(), please check code with crashed thread's callstack\n");
}

}  // namespace
}  // namespace diagnosistest
