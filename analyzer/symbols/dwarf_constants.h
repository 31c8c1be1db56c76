// The DWARF codes the readers understand: tags, attributes, forms, unit types, range and location
// list entries, line-program opcodes and the expression operations of location descriptions.
#pragma once

#include <cstdint>

namespace coresift::dw {

// Tags.
inline constexpr std::uint32_t kTagArrayType = 0x01, kTagClassType = 0x02, kTagEnumerationType = 0x04,
                               kTagFormalParameter = 0x05, kTagLexicalBlock = 0x0b, kTagMember = 0x0d,
                               kTagPointerType = 0x0f, kTagReferenceType = 0x10, kTagCompileUnit = 0x11,
                               kTagStructureType = 0x13, kTagSubroutineType = 0x15, kTagTypedef = 0x16,
                               kTagUnionType = 0x17, kTagUnspecifiedParameters = 0x18, kTagInheritance = 0x1c,
                               kTagInlinedSubroutine = 0x1d, kTagPtrToMemberType = 0x1f, kTagSubrangeType = 0x21,
                               kTagBaseType = 0x24, kTagConstType = 0x26, kTagEnumerator = 0x28,
                               kTagSubprogram = 0x2e, kTagTemplateTypeParameter = 0x2f,
                               kTagTemplateValueParameter = 0x30, kTagVariable = 0x34, kTagVolatileType = 0x35,
                               kTagRestrictType = 0x37, kTagNamespace = 0x39, kTagPartialUnit = 0x3c,
                               kTagUnspecifiedType = 0x3b, kTagTypeUnit = 0x41, kTagRvalueReferenceType = 0x42,
                               kTagAtomicType = 0x47, kTagSkeletonUnit = 0x4a;

// Attributes.
inline constexpr std::uint32_t kAtSibling = 0x01, kAtLocation = 0x02, kAtName = 0x03, kAtByteSize = 0x0b,
                               kAtStmtList = 0x10, kAtLowPc = 0x11, kAtHighPc = 0x12, kAtCompDir = 0x1b,
                               kAtConstValue = 0x1c, kAtLowerBound = 0x22, kAtUpperBound = 0x2f, kAtAbstractOrigin = 0x31,
                               kAtAccessibility = 0x32, kAtCount = 0x37, kAtDataMemberLocation = 0x38,
                               kAtDeclaration = 0x3c, kAtEncoding = 0x3e, kAtExternal = 0x3f,
                               kAtFrameBase = 0x40, kAtSpecification = 0x47, kAtType = 0x49,
                               kAtVirtuality = 0x4c, kAtVtableElemLocation = 0x4d, kAtRanges = 0x55,
                               kAtArtificial = 0x34, kAtCallFile = 0x58, kAtCallLine = 0x59,
                               kAtExplicit = 0x63, kAtLinkageName = 0x6e, kAtStrOffsetsBase = 0x72,
                               kAtAddrBase = 0x73, kAtRnglistsBase = 0x74, kAtDwoName = 0x76,
                               kAtInline = 0x20, kAtDataBitOffset = 0x6b, kAtLoclistsBase = 0x8c,
                               kAtMipsLinkageName = 0x2007, kAtGnuAddrBase = 0x2133, kAtGnuRangesBase = 0x2132;

// Forms.
inline constexpr std::uint32_t kFormAddr = 0x01, kFormBlock2 = 0x03, kFormBlock4 = 0x04, kFormData2 = 0x05,
                               kFormData4 = 0x06, kFormData8 = 0x07, kFormString = 0x08, kFormBlock = 0x09,
                               kFormBlock1 = 0x0a, kFormData1 = 0x0b, kFormFlag = 0x0c, kFormSdata = 0x0d,
                               kFormStrp = 0x0e, kFormUdata = 0x0f, kFormRefAddr = 0x10, kFormRef1 = 0x11,
                               kFormRef2 = 0x12, kFormRef4 = 0x13, kFormRef8 = 0x14, kFormRefUdata = 0x15,
                               kFormIndirect = 0x16, kFormSecOffset = 0x17, kFormExprloc = 0x18,
                               kFormFlagPresent = 0x19, kFormStrx = 0x1a, kFormAddrx = 0x1b, kFormRefSup4 = 0x1c,
                               kFormStrpSup = 0x1d, kFormData16 = 0x1e, kFormLineStrp = 0x1f,
                               kFormRefSig8 = 0x20, kFormImplicitConst = 0x21, kFormLoclistx = 0x22,
                               kFormRnglistx = 0x23, kFormRefSup8 = 0x24, kFormStrx1 = 0x25, kFormStrx2 = 0x26,
                               kFormStrx3 = 0x27, kFormStrx4 = 0x28, kFormAddrx1 = 0x29, kFormAddrx2 = 0x2a,
                               kFormAddrx3 = 0x2b, kFormAddrx4 = 0x2c, kFormGnuAddrIndex = 0x1f01,
                               kFormGnuStrIndex = 0x1f02, kFormGnuRefAlt = 0x1f20, kFormGnuStrpAlt = 0x1f21;

// Unit types of version 5 headers.
inline constexpr std::uint8_t kUtCompile = 1, kUtType = 2, kUtPartial = 3, kUtSkeleton = 4, kUtSplitCompile = 5,
                              kUtSplitType = 6;

// Base type encodings.
inline constexpr std::uint32_t kAteAddress = 1, kAteBoolean = 2, kAteFloat = 4, kAteSigned = 5,
                               kAteSignedChar = 6, kAteUnsigned = 7, kAteUnsignedChar = 8, kAteUtf = 0x10;

// Accessibility and virtuality.
inline constexpr std::uint32_t kAccessPublic = 1, kAccessProtected = 2, kAccessPrivate = 3;
inline constexpr std::uint32_t kVirtualityVirtual = 1, kVirtualityPureVirtual = 2;
// DW_AT_inline values that mean "declared inline".
inline constexpr std::uint32_t kInlDeclaredNotInlined = 2, kInlDeclaredInlined = 3;

// Range list entries (.debug_rnglists).
inline constexpr std::uint8_t kRleEndOfList = 0, kRleBaseAddressx = 1, kRleStartxEndx = 2, kRleStartxLength = 3,
                              kRleOffsetPair = 4, kRleBaseAddress = 5, kRleStartEnd = 6, kRleStartLength = 7;
// Location list entries (.debug_loclists).
inline constexpr std::uint8_t kLleEndOfList = 0, kLleBaseAddressx = 1, kLleStartxEndx = 2, kLleStartxLength = 3,
                              kLleOffsetPair = 4, kLleDefaultLocation = 5, kLleBaseAddress = 6, kLleStartEnd = 7,
                              kLleStartLength = 8;

// Line-program opcodes.
inline constexpr std::uint8_t kLnsCopy = 1, kLnsAdvancePc = 2, kLnsAdvanceLine = 3, kLnsSetFile = 4,
                              kLnsSetColumn = 5, kLnsNegateStmt = 6, kLnsSetBasicBlock = 7, kLnsConstAddPc = 8,
                              kLnsFixedAdvancePc = 9;
inline constexpr std::uint8_t kLneEndSequence = 1, kLneSetAddress = 2, kLneDefineFile = 3,
                              kLneSetDiscriminator = 4;
// Content types of version 5 directory and file entries.
inline constexpr std::uint32_t kLnctPath = 1, kLnctDirectoryIndex = 2;

// Expression operations.
inline constexpr std::uint8_t kOpAddr = 0x03, kOpDeref = 0x06, kOpConst1u = 0x08, kOpConst1s = 0x09,
                              kOpConst2u = 0x0a, kOpConst2s = 0x0b, kOpConst4u = 0x0c, kOpConst4s = 0x0d,
                              kOpConst8u = 0x0e, kOpConst8s = 0x0f, kOpConstu = 0x10, kOpConsts = 0x11,
                              kOpDup = 0x12, kOpDrop = 0x13, kOpOver = 0x14, kOpPick = 0x15, kOpSwap = 0x16,
                              kOpRot = 0x17, kOpXderef = 0x18, kOpAbs = 0x19, kOpAnd = 0x1a, kOpDiv = 0x1b,
                              kOpMinus = 0x1c, kOpMod = 0x1d, kOpMul = 0x1e, kOpNeg = 0x1f, kOpNot = 0x20,
                              kOpOr = 0x21, kOpPlus = 0x22, kOpPlusUconst = 0x23, kOpShl = 0x24, kOpShr = 0x25,
                              kOpShra = 0x26, kOpXor = 0x27, kOpBra = 0x28, kOpEq = 0x29, kOpGe = 0x2a,
                              kOpGt = 0x2b, kOpLe = 0x2c, kOpLt = 0x2d, kOpNe = 0x2e, kOpSkip = 0x2f,
                              kOpLit0 = 0x30, kOpLit31 = 0x4f, kOpReg0 = 0x50, kOpReg31 = 0x6f, kOpBreg0 = 0x70,
                              kOpBreg31 = 0x8f, kOpRegx = 0x90, kOpFbreg = 0x91, kOpBregx = 0x92, kOpPiece = 0x93,
                              kOpDerefSize = 0x94, kOpXderefSize = 0x95, kOpNop = 0x96,
                              kOpPushObjectAddress = 0x97, kOpCall2 = 0x98, kOpCall4 = 0x99, kOpCallRef = 0x9a,
                              kOpFormTlsAddress = 0x9b, kOpCallFrameCfa = 0x9c, kOpBitPiece = 0x9d,
                              kOpImplicitValue = 0x9e, kOpStackValue = 0x9f, kOpImplicitPointer = 0xa0,
                              kOpAddrx = 0xa1, kOpConstx = 0xa2, kOpEntryValue = 0xa3, kOpConstType = 0xa4,
                              kOpRegvalType = 0xa5, kOpDerefType = 0xa6, kOpConvert = 0xa8,
                              kOpReinterpret = 0xa9, kOpGnuPushTlsAddress = 0xe0, kOpGnuUninit = 0xf0,
                              kOpGnuEntryValue = 0xf3, kOpGnuParameterRef = 0xfa, kOpGnuAddrIndex = 0xfb,
                              kOpGnuConstIndex = 0xfc;

}  // namespace coresift::dw
