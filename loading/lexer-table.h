// The tables of the lexer's state machine (generated into lexer-table.cpp by
// tools/gen-lexer-table.py).
//
// Class table: 256 entries indexed by the input byte. The low 8 bits give the character class
// (0-39); the bits above are flags that the driver ORs over the bytes of a token and hands to
// the scanners and loaders. The top two flags give the width a text needs: 1 shifted left by
// (flags >> 30), capped at 4.
//
// Working states 0-64 each have a row of 40 next states, one per class; the last column is
// taken when the input ends. States 66-101 are terminal: kind = state - 66, and the byte that
// led there is not part of the token. A byte that leaves the machine in state 0 is a leading
// blank. Each state has a datatype: for a terminal state the type of its token, for a working
// state the type named when a token fails there (0 for none).
#pragma once
#include <cstdint>

#include "runtime-core/cell.h"

namespace lexer::table {

constexpr int kClassCount = 40;
constexpr int kWorkingStates = 65;
constexpr int kStates = 102;
constexpr int kFirstTerminal = 66;

// Character classes.
enum Class : uint8_t {
    kBlank = 0,
    kNewline = 1,
    kDigit = 2,
    kZero = 3,
    kBlockOpen = 4,
    kBlockClose = 5,
    kParenOpen = 6,
    kParenClose = 7,
    kBraceOpen = 8,
    kBraceClose = 9,
    kQuote = 10,
    kHash = 11,
    kApostrophe = 12,
    kColon = 13,
    kX = 14,
    kT = 15,
    kH = 16,
    kLowerE = 17,
    kUpperE = 18,
    kHexLower = 19,
    kHexUpper = 20,
    kSlash = 21,
    kBackslash = 22,
    kLess = 23,
    kGreater = 24,
    kEqual = 25,
    kPercent = 26,
    kComma = 27,
    kSemicolon = 28,
    kAt = 29,
    kDot = 30,
    kDollar = 31,
    kPlus = 32,
    kMinus = 33,
    kCaret = 34,
    kControl = 35,
    kContinuation = 36,
    kLetter = 37,
    kInvalid = 38,
    kEnd = 39,
};

// Flag bits of the class table.
constexpr uint32_t kFlagLess = 0x00100000;
constexpr uint32_t kFlagGreater = 0x00080000;
constexpr uint32_t kFlagPercent = 0x00040000;
constexpr uint32_t kFlagSign = 0x00200000;
constexpr uint32_t kFlagNul = 0x00400000;
constexpr uint32_t kFlagHash = 0x00800000;
constexpr uint32_t kFlagExponent = 0x01000000;
constexpr uint32_t kFlagApostrophe = 0x02000000;
constexpr uint32_t kFlagColon = 0x04000000;
constexpr uint32_t kFlagComma = 0x08000000;
constexpr uint32_t kFlagDot = 0x10000000;
constexpr uint32_t kFlagCaret = 0x20000000;
constexpr uint32_t kFlagWide2 = 0x40000000; // a lead byte of a two- or three-byte sequence
constexpr uint32_t kFlagWide4 = 0x80000000; // a lead byte of a four-byte sequence

// Token kinds: terminal state - 66.
enum Kind : uint8_t {
    kEof = 0,
    kError = 1,
    kBlockOpenKind = 2,
    kBlockCloseKind = 3,
    kParenOpenKind = 4,
    kParenCloseKind = 5,
    kStringOpen = 6,
    kStringClose = 7,
    kMapOpen = 8,
    kPath = 9,
    kConstruct = 10,
    kComment = 11,
    kCommaKind = 12,
    kString = 13,
    kWord = 14,
    kIssue = 15,
    kInteger = 16,
    kPrefixedWord = 17,
    kChar = 18,
    kFile = 19,
    kBinary = 20,
    kPercentKind = 21,
    kFloat = 22,
    kFloatSpecial = 23,
    kTuple = 24,
    kDate = 25,
    kPair = 26,
    kPoint = 27,
    kTime = 28,
    kMoney = 29,
    kTag = 30,
    kUrl = 31,
    kEmail = 32,
    kHex = 33,
    kRawString = 34,
    kRef = 35,
};
constexpr int kKindCount = 36;

// Entry states.
constexpr uint8_t kStart = 0;
constexpr uint8_t kInBracedString = 4;
constexpr uint8_t kInPoint = 35;
constexpr uint8_t kInPath = 59;

extern const uint32_t kClass[256];
extern const uint8_t kNext[kWorkingStates][kClassCount];
extern const uint8_t kStateType[kStates];

inline uint8_t class_of(uint8_t byte) {
    return static_cast<uint8_t>(kClass[byte] & 0xFF);
}
// Bytes per character that a text with these flags needs: 1, 2 or 4.
inline uint32_t width_of(uint32_t flags) {
    const uint32_t w = 1u << (flags >> 30);
    return w > 4 ? 4 : w;
}

} // namespace lexer::table
