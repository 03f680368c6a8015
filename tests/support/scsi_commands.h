// CDBs of the read commands, as tests and benchmarks send them to a drive.
#pragma once

#include <cstdint>
#include <vector>

namespace test_support {

using Bytes = std::vector<std::uint8_t>;

// Byte n of a value, counting from the least significant.
inline std::uint8_t byte_of(std::uint64_t value, int n = 0) { return std::uint8_t(value >> 8 * n); }

inline Bytes read_toc_cdb(bool msf, int format, int start, std::uint16_t allocation) {
    return {0x43, byte_of(msf ? 2 : 0), byte_of(format), 0, 0, 0, byte_of(start), byte_of(allocation, 1),
            byte_of(allocation), 0};
}

inline Bytes read10_cdb(std::uint32_t lba, std::uint16_t count) {
    return {0x28, 0, byte_of(lba, 3), byte_of(lba, 2), byte_of(lba, 1), byte_of(lba), 0, byte_of(count, 1),
            byte_of(count), 0};
}

inline Bytes read_cd_cdb(std::uint32_t lba, std::uint32_t count, int expected_type, std::uint8_t selection) {
    return {0xBE, byte_of(expected_type << 2), byte_of(lba, 3), byte_of(lba, 2), byte_of(lba, 1), byte_of(lba),
            byte_of(count, 2), byte_of(count, 1), byte_of(count), selection, 0, 0};
}

}  // namespace test_support
