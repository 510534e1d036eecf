#pragma once

#include <cstddef>
#include <cstdint>

namespace hopwell {

// CRC-32 of zlib and ZIP (reflected polynomial 0xEDB88320), continued from `crc` like zlib's
// crc32(): Crc32Update(0, data, n) is the checksum of data. Uses carry-less multiplication
// where the processor has it, otherwise zlib.
std::uint32_t Crc32Update(std::uint32_t crc, const void* data, std::size_t size);

}  // namespace hopwell
