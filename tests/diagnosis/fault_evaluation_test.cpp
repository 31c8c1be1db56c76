// The faulting-instruction evaluation: the addresses of multi-register transfers as the
// architecture computes them, which misaligned accesses fault, wide loads, and bad program
// counters.
#include <gtest/gtest.h>

#include "analyzer/diagnosis/fault_evaluation.h"
#include "analyzer/unwind/process_adapters.h"
#include "tests/diagnosis/diagnosis_fixture.h"

namespace diagnosistest {
namespace {

using coresift::FaultCode;
using coresift::FaultEvaluation;

class FaultTest : public DiagnosisTest {
protected:
    FaultEvaluation run(std::uint32_t instruction) {
        code(kCode, {instruction});
        setPc(kCode);
        return evaluateFault(space(), coresift::unwind::threadRegisters(regs()));
    }
    FaultEvaluation runThumb(std::uint16_t first, std::uint16_t second = 0xBF00) {
        thumb(kCode, {first, second});
        setPc(kCode | 1);
        regs().r[coresift::RegisterSet::kStatus] |= coresift::RegisterSet::kThumbBit;
        return evaluateFault(space(), coresift::unwind::threadRegisters(regs()));
    }
};

void expectFault(const FaultEvaluation& f, FaultCode code, TargetWord address) {
    EXPECT_EQ(static_cast<int>(f.code), static_cast<int>(code));
    EXPECT_EQ(f.address, address);
}

#if CORESIFT_TARGET_BITS == 32

TEST_F(FaultTest, MultipleTransfersStartWhereTheArchitectureStarts) {
    regs().r[13] = kStack;  // PUSH {R4, LR} writes the two words below SP
    regs().r[4] = 0x44;
    FaultEvaluation f = run(0xE92D4010);
    expectFault(f, FaultCode::BadStore, kStack - 8);
    EXPECT_EQ(f.value, 0x44u);
    regs().r[0] = kData;  // STMDA R0, {R1, R2}: R0 - 4 and R0
    expectFault(run(0xE8000006), FaultCode::BadStore, kData - 4);
    regs().r[0] = kData + 0xFF8;  // LDMIB R0, {R1, R2}: R0 + 4 and R0 + 8
    expectFault(run(0xE9900006), FaultCode::BadLoad, kData + 0x1000);
    regs().r[0] = kData + 0xFF8;  // LDM R0, {R1, R2} stays inside
    expectFault(run(0xE8900006), FaultCode::Runs, kCode);
    regs().r[13] = kStack + 0x100;
    regs().r[4] = 0x44;
    expectFault(runThumb(0xB510), FaultCode::Runs, kCode);
    regs().r[13] = kStack;
    f = runThumb(0xB510);  // Thumb PUSH {R4, LR}
    expectFault(f, FaultCode::BadStore, kStack - 8);
    EXPECT_EQ(f.value, 0x44u);
}

TEST_F(FaultTest, OnlyAccessesThatMustBeAlignedAreUnaligned) {
    regs().r[1] = kData + 1;
    expectFault(run(0xE5910000), FaultCode::Runs, kCode);  // LDR R0, [R1]
    expectFault(run(0xE1910F9F), FaultCode::Unaligned, kData + 1);  // LDREX R0, [R1]
    regs().r[0] = kData + 2;
    expectFault(run(0xE1C020D0), FaultCode::Unaligned, kData + 2);  // LDRD R2, R3, [R0]
    expectFault(run(0xE8900006), FaultCode::Unaligned, kData + 2);  // LDM R0, {R1, R2}
    regs().r[0] = kData + 4;
    expectFault(run(0xE1C020D0), FaultCode::Runs, kCode);  // LDRD needs word alignment only
    expectFault(run(0xED900B00), FaultCode::Runs, kCode);  // VLDR D0, [R0]: an 8-byte load
}

TEST_F(FaultTest, ArmProgramCounterWithBitOneSet) {
    regs().r[15] = kCode + 2;
    const FaultEvaluation f = evaluateFault(space(), coresift::unwind::threadRegisters(regs()));
    expectFault(f, FaultCode::BadPc, kCode + 2);
}

TEST_F(FaultTest, ThumbUndefinedWordIsTheHalfword) {
    const FaultEvaluation f = runThumb(0xDE00);
    expectFault(f, FaultCode::Undefined, kCode);
    EXPECT_EQ(f.value, 0xDE00u);
}

TEST_F(FaultTest, LiteralLoadsUseTheAlignedPc) {
    thumb(kCode, {0xBF00, 0x4801});  // NOP; LDR R0, [PC, #4] at kCode + 2 reads Align(kCode + 6, 4) + 4
    setPc(kCode + 3);
    regs().r[16] |= coresift::RegisterSet::kThumbBit;
    EXPECT_EQ(static_cast<int>(evaluateFault(space(), coresift::unwind::threadRegisters(regs())).code),
              static_cast<int>(FaultCode::Runs));
}

#else

TEST_F(FaultTest, PairsAndPreIndexedStoresAddressEachRegister) {
    regs().r[31] = kStack + 8;  // STP X29, X30, [SP, #-16]!
    regs().r[29] = 0x2929;
    FaultEvaluation f = run(0xA9BF7BFD);
    expectFault(f, FaultCode::BadStore, kStack - 8);
    EXPECT_EQ(f.value, 0x2929u);
    regs().r[2] = kData + 0xFF8;  // LDP X0, X1, [X2]: the second register leaves the region
    expectFault(run(0xA9400440), FaultCode::BadLoad, kData + 0x1000);
}

TEST_F(FaultTest, OnlyAccessesThatMustBeAlignedAreUnaligned) {
    regs().r[1] = kData + 4;
    expectFault(run(0xF9400020), FaultCode::Runs, kCode);  // LDR X0, [X1]: unaligned is allowed
    expectFault(run(0xC85F7C20), FaultCode::Unaligned, kData + 4);  // LDXR X0, [X1]
    regs().r[1] = kData + 2;
    expectFault(run(0x885FFC20), FaultCode::Unaligned, kData + 2);  // LDAXR W0, [X1]
    regs().r[2] = kData + 2;
    expectFault(run(0xB8200041), FaultCode::Unaligned, kData + 2);  // LDADD W0, W1, [X2]
    regs().r[2] = kReadOnly;
    expectFault(run(0xB8200041), FaultCode::BadStore, kReadOnly);   // an atomic also writes
}

TEST_F(FaultTest, EightByteLoadsThatArePermittedRun) {
    regs().r[1] = kData + 8;
    expectFault(run(0xF9400020), FaultCode::Runs, kCode);
    regs().r[1] = kReadOnly;
    expectFault(run(0xF9400020), FaultCode::Runs, kCode);
}

#endif

TEST_F(FaultTest, ProgramCounterOutsideCode) {
    setPc(0);
    expectFault(evaluateFault(space(), coresift::unwind::threadRegisters(regs())), FaultCode::BadPc, 0);
    setPc(kData + 0x10);
    expectFault(evaluateFault(space(), coresift::unwind::threadRegisters(regs())), FaultCode::BadPc, kData + 0x10);
}

}  // namespace
}  // namespace diagnosistest
