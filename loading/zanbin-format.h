// What the ZANBIN decoder (zanbin-decode.cpp) and encoder (zanbin-encode.cpp) share: the
// constants of the format that zanbin.h describes, and the reads of cells both make.
#pragma once
#include <cstdint>

#include "runtime-core/cell.h"
#include "runtime-core/memory.h"

namespace zanbin::format {

constexpr uint8_t kMagic[6] = {'Z', 'A', 'N', 'B', 'I', 'N'};

// The flag byte after the version byte.
constexpr uint8_t kFlagCompact = 1;
constexpr uint8_t kFlagCompressed = 2;
constexpr uint8_t kFlagSymbols = 4;

// Lead and prefix bytes of the compact encoding.
constexpr uint8_t kPrefixNewLine = 0xC0;
constexpr uint8_t kPrefixReference = 0xC1;
constexpr uint8_t kPrefixWordValue = 0xC4;
constexpr uint8_t kTrue = 0xC2;
constexpr uint8_t kFalse = 0xC3;
constexpr uint8_t kReferenceValue = 0xFF;
constexpr uint8_t kSmallInteger = 0x80;
constexpr uint8_t kTypeFlag = 0x40;
constexpr uint8_t kLongType = 63;

// The most elements a reference path may have.
constexpr uint32_t kMaxPath = 65536;

// Header bits of fixed-width records.
constexpr uint32_t kFixedReference = 1u << 19;
constexpr uint32_t kFixedNegative = 1u << 22;
constexpr uint32_t kFixedComplement = 1u << 23;
constexpr uint32_t kFixedHandlers = 1u << 24;
constexpr uint32_t kFixedGlobal = 1u << 25;
constexpr uint32_t kFixedNewLine = 1u << 31;

// Context flag byte of a context! record.
constexpr uint8_t kContextOnStack = 4;
constexpr uint8_t kContextOption = 8;
constexpr uint8_t kContextValues = 16;

using memory::cells_of;
using memory::length_of;

} // namespace zanbin::format
