// Decoding inside Thumb IT blocks: a forwarding visitor that applies the block's condition.
#include "analyzer/decode/it_block.h"

namespace coresift::decode {
namespace {

struct Forward {
    const Visitor* inner;
    void* context;
    ItBlock* block;
    bool inBlock;
    unsigned condition;
    bool narrow;
    bool startsBlock = false;
    std::uint64_t blockMask = 0;
};

std::uint32_t conditioned(const Forward& f, std::uint32_t op) {
    if (!f.inBlock) return op;
    return (op & ~withCondition(15)) | withCondition(f.condition);
}

unsigned onUndefined(std::uint32_t instruction, unsigned unimplemented, void* c) {
    auto& f = *static_cast<Forward*>(c);
    return f.inner->onUndefined(instruction, unimplemented, f.context);
}
unsigned onBranch(std::uint32_t op, std::int64_t offset, unsigned r, unsigned bitNumber, void* c) {
    auto& f = *static_cast<Forward*>(c);
    const bool ownCondition = isConditional(op) || has(op, op::kCompareZero);
    return f.inner->onBranch(ownCondition ? op : conditioned(f, op), offset, r, bitNumber, f.context);
}
unsigned onDataProcessing(std::uint32_t op, unsigned rd, unsigned rn, unsigned rm, std::uint64_t imm, void* c) {
    auto& f = *static_cast<Forward*>(c);
    if (f.inBlock && f.narrow && rd != kRegNone) op &= ~op::kSetFlags;
    return f.inner->onDataProcessing(conditioned(f, op), rd, rn, rm, imm, f.context);
}
unsigned onLoadStore(std::uint32_t op, const std::uint8_t* list, unsigned base, unsigned index, std::int64_t offset,
                     void* c) {
    auto& f = *static_cast<Forward*>(c);
    return f.inner->onLoadStore(conditioned(f, op), list, base, index, offset, f.context);
}
unsigned onSystem(std::uint32_t op, std::uint64_t imm, void* c) {
    auto& f = *static_cast<Forward*>(c);
    if (systemOpOf(op) == SystemOp::It) {
        f.startsBlock = true;
        f.blockMask = imm;
        return f.inner->onSystem(op, imm, f.context);
    }
    return f.inner->onSystem(conditioned(f, op), imm, f.context);
}

const Visitor kForward = {onUndefined, onBranch, onDataProcessing, onLoadStore, onSystem};

}  // namespace

unsigned decodeThumbInBlock(ItBlock& block, std::uint32_t instruction, unsigned& length, const Visitor& visitor,
                            void* context) {
    Forward f{&visitor, context, &block, block.active(), block.condition(), thumbLength(static_cast<std::uint16_t>(instruction)) == 2};
    const unsigned result = decodeInstruction(InstructionSet::Thumb, instruction, length, kForward, &f);
    block.advance();
    if (f.startsBlock) block.start(f.blockMask);
    return result;
}

}  // namespace coresift::decode
