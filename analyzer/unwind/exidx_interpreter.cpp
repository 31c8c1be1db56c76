#include "analyzer/unwind/exidx_interpreter.h"

#include "common/byte_reader.h"

namespace coresift::unwind {
namespace {

// Registers whose known bits survive into the caller unless popped: r4-r11, SP, LR.
constexpr std::uint32_t kKeptMask = 0x6FF0;

class ExidxMachine {
public:
    ExidxMachine(const decode::TargetMemory& stack, const ArmRegisters& frame) : stack_(stack), work_(frame) {
        work_.valid &= kKeptMask;
        vsp_ = frame.r[ArmRegisters::kSp];
    }

    ExidxRun run(const ExidxProgram& program) {
        common::ByteReader reader(common::ByteView(program.bytes.data(), program.size));
        // Every instruction consumes its bytes, so the program's length bounds the loop.
        while (!reader.atEnd()) {
            const std::uint8_t byte = reader.u8();
            if (byte == 0xB0) break;  // finish
            const ExidxRun step = execute(byte, reader);
            if (step != ExidxRun::Done) return step;
            if (!reader.ok()) return ExidxRun::Failed;
        }
        return finish();
    }

    const ArmRegisters& result() const { return work_; }

private:
    ExidxRun execute(std::uint8_t byte, common::ByteReader& reader) {
        if ((byte & 0xC0) == 0x00) {
            vsp_ += (static_cast<std::uint32_t>(byte & 0x3F) << 2) + 4;
            return ExidxRun::Done;
        }
        if ((byte & 0xC0) == 0x40) {
            vsp_ -= (static_cast<std::uint32_t>(byte & 0x3F) << 2) + 4;
            return ExidxRun::Done;
        }
        if ((byte & 0xF0) == 0x80) {
            const std::uint32_t mask = (static_cast<std::uint32_t>(byte & 0x0F) << 8) | reader.u8();
            if (!reader.ok()) return ExidxRun::Failed;
            if (mask == 0) return ExidxRun::Refused;
            return pop(mask << 4);
        }
        if ((byte & 0xF0) == 0x90) {
            const unsigned reg = byte & 0x0F;
            if (reg == 13 || reg == 15 || !work_.known(reg)) return ExidxRun::Failed;
            vsp_ = work_.r[reg];
            return ExidxRun::Done;
        }
        if ((byte & 0xF0) == 0xA0) {
            // pop r4-r[4+nnn], and r14 with bit 3
            const std::uint32_t range = ((2u << (byte & 7)) - 1) << 4;
            return pop(range | ((byte & 8) ? 0x4000u : 0));
        }
        switch (byte) {
            case 0xB1: {
                const std::uint8_t mask = reader.u8();
                if (!reader.ok() || mask == 0 || (mask & 0xF0)) return ExidxRun::Failed;
                return pop(mask);
            }
            case 0xB2: {
                const std::uint64_t value = reader.uleb128();
                vsp_ += 0x204 + (static_cast<std::uint32_t>(value) << 2);
                return ExidxRun::Done;
            }
            case 0xB3:
            case 0xC8:
            case 0xC9: {
                const std::uint8_t registers = reader.u8();
                // FSTMFDX (0xB3) stores one word more than VPUSH (0xC8, 0xC9).
                vsp_ += (static_cast<std::uint32_t>(registers & 0x0F) << 3) + (byte == 0xB3 ? 12 : 8);
                return ExidxRun::Done;
            }
            default: break;
        }
        if ((byte & 0xF8) == 0xB8) {
            vsp_ += (static_cast<std::uint32_t>(byte & 7) << 3) + 12;
            return ExidxRun::Done;
        }
        if ((byte & 0xF8) == 0xD0) {
            vsp_ += (static_cast<std::uint32_t>(byte & 7) << 3) + 8;
            return ExidxRun::Done;
        }
        return ExidxRun::Failed;  // spare and reserved encodings, iWMMXt registers
    }

    // Pops the registers of `mask` (bit n = rn) from vsp upward, lowest register first. When
    // SP is among them, vsp becomes its popped value.
    ExidxRun pop(std::uint32_t mask) {
        std::uint32_t address = vsp_;
        bool spPopped = false;
        std::uint32_t poppedSp = 0;
        for (unsigned reg = 0; reg < 16; ++reg) {
            if (!(mask >> reg & 1)) continue;
            std::uint32_t value = 0;
            if (!stack_.read32(static_cast<TargetWord>(address), value)) return ExidxRun::Failed;
            address += 4;
            work_.set(reg, value);
            if (reg == ArmRegisters::kSp) {
                spPopped = true;
                poppedSp = value;
            }
            if (reg == ArmRegisters::kPc) pcPopped_ = true;
        }
        vsp_ = spPopped ? poppedSp : address;
        return ExidxRun::Done;
    }

    ExidxRun finish() {
        if (!pcPopped_) {
            if (!work_.known(ArmRegisters::kLr)) return ExidxRun::Failed;
            work_.set(ArmRegisters::kPc, work_.r[ArmRegisters::kLr]);
            work_.valid &= ~(1u << ArmRegisters::kLr);
        }
        work_.set(ArmRegisters::kSp, vsp_);
        return ExidxRun::Done;
    }

    const decode::TargetMemory& stack_;
    ArmRegisters work_;
    std::uint32_t vsp_ = 0;
    bool pcPopped_ = false;
};

}  // namespace

ExidxRun runExidxProgram(const ExidxProgram& program, const decode::TargetMemory& stack, ArmRegisters& frame) {
    ExidxMachine machine(stack, frame);
    const ExidxRun run = machine.run(program);
    if (run == ExidxRun::Done) frame = machine.result();
    return run;
}

}  // namespace coresift::unwind
