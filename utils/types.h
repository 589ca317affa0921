#pragma once
// Fixed-width names used throughout quor. Every on-disk value is held in one
// of these, never in long or size_t, so a 32-bit build reads the same.
#include <cstdint>

typedef std::uint8_t byte;
typedef std::uint8_t uint8;
typedef std::uint16_t uint16;
typedef std::uint32_t uint32;
typedef std::uint64_t uint64;
typedef std::int16_t int16;
typedef std::int32_t int32;
typedef std::int64_t int64;
typedef std::uint64_t ulong64;
typedef std::int64_t long64;
