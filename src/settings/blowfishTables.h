#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tonvert::blowfish {

inline constexpr std::size_t kPWords = 18;
inline constexpr std::size_t kSBoxWords = 256;
inline constexpr std::size_t kInitialTableWords = kPWords + 4 * kSBoxWords;

// The cipher's starting P-array and S-boxes: the fractional hexadecimal digits of pi.
extern const std::array<std::uint32_t, kInitialTableWords> kInitialTables;

} // namespace tonvert::blowfish
