#include "storage/Crc32.h"

#include <zlib.h>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define HOPWELL_CRC32_CLMUL 1
#endif

namespace hopwell {
namespace {

std::uint32_t ZlibCrc32(std::uint32_t crc, const unsigned char* data, std::size_t size) {
  uLong result = crc;
  // zlib takes 32-bit lengths.
  constexpr std::size_t kStep = std::size_t{1} << 30;
  while (size > 0) {
    const std::size_t step = size < kStep ? size : kStep;
    result = crc32(result, data, static_cast<uInt>(step));
    data += step;
    size -= step;
  }
  return static_cast<std::uint32_t>(result);
}

#ifdef HOPWELL_CRC32_CLMUL

// Folding by carry-less multiplication, four 128-bit lanes at a time, then a Barrett
// reduction (Gopal, Ozturk et al., "Fast CRC Computation for Generic Polynomials Using
// PCLMULQDQ Instruction", Intel 2009). The constants are x^(n) mod P for the bit-reflected
// polynomial: k1 = x^(4*128+32), k2 = x^(4*128-32), k3 = x^(128+32), k4 = x^(128-32),
// k5 = x^64, then floor(x^64 / P) and P itself.
__attribute__((target("sse2"))) inline __m128i Load(const unsigned char* at) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// x moved 128 bits on (by the constants' pair) and added to next.
__attribute__((target("pclmul,sse4.1"))) inline __m128i Fold(__m128i x, __m128i constants,
                                                             __m128i next) {
  const __m128i low = _mm_clmulepi64_si128(x, constants, 0x00);
  return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, constants, 0x11), next), low);
}

// Takes and returns the checksum register without zlib's pre- and post-inversion; size is a
// multiple of 16 and at least 64.
__attribute__((target("pclmul,sse4.1"))) std::uint32_t FoldCrc32(std::uint32_t crc,
                                                                 const unsigned char* data,
                                                                 std::size_t size) {
  const __m128i k1k2 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
  const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
  const __m128i k5 = _mm_set_epi64x(0, 0x0163cd6124);
  const __m128i poly = _mm_set_epi64x(0x01f7011641, 0x01db710641);
  const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);

  __m128i x1 = _mm_xor_si128(Load(data), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i x2 = Load(data + 16);
  __m128i x3 = Load(data + 32);
  __m128i x4 = Load(data + 48);
  data += 64;
  size -= 64;

  while (size >= 64) {
    const __m128i l1 = _mm_clmulepi64_si128(x1, k1k2, 0x00);
    const __m128i l2 = _mm_clmulepi64_si128(x2, k1k2, 0x00);
    const __m128i l3 = _mm_clmulepi64_si128(x3, k1k2, 0x00);
    const __m128i l4 = _mm_clmulepi64_si128(x4, k1k2, 0x00);
    x1 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x1, k1k2, 0x11), l1), Load(data));
    x2 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x2, k1k2, 0x11), l2), Load(data + 16));
    x3 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x3, k1k2, 0x11), l3), Load(data + 32));
    x4 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x4, k1k2, 0x11), l4), Load(data + 48));
    data += 64;
    size -= 64;
  }

  // Four lanes into one, then the remaining 16-byte blocks.
  x1 = Fold(x1, k3k4, x2);
  x1 = Fold(x1, k3k4, x3);
  x1 = Fold(x1, k3k4, x4);
  while (size >= 16) {
    x1 = Fold(x1, k3k4, Load(data));
    data += 16;
    size -= 16;
  }

  // 128 bits to 64, then to 32 by Barrett reduction.
  x2 = _mm_clmulepi64_si128(x1, k3k4, 0x10);
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2);
  x2 = _mm_srli_si128(x1, 4);
  x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, low32), k5, 0x00), x2);
  x2 = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), poly, 0x10);
  x2 = _mm_clmulepi64_si128(_mm_and_si128(x2, low32), poly, 0x00);
  x1 = _mm_xor_si128(x1, x2);
  return static_cast<std::uint32_t>(_mm_extract_epi32(x1, 1));
}

bool HasClmul() {
  static const bool has = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  return has;
}

#endif

}  // namespace

std::uint32_t Crc32Update(std::uint32_t crc, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
#ifdef HOPWELL_CRC32_CLMUL
  if (size >= 64 && HasClmul()) {
    const std::size_t folded = size & ~std::size_t{15};
    crc = ~FoldCrc32(~crc, bytes, folded);
    bytes += folded;
    size -= folded;
  }
#endif
  return size == 0 ? crc : ZlibCrc32(crc, bytes, size);
}

}  // namespace hopwell
