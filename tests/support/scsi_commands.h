// CDBs of the read commands, as tests and benchmarks send them to a drive.
#pragma once

#include <cstdint>
#include <vector>

namespace test_support {

using Bytes = std::vector<std::uint8_t>;

inline Bytes read_toc_cdb(bool msf, int format, int start, std::uint16_t allocation) {
    return {0x43, static_cast<std::uint8_t>(msf ? 0x02 : 0x00), static_cast<std::uint8_t>(format), 0, 0, 0,
            static_cast<std::uint8_t>(start), static_cast<std::uint8_t>(allocation >> 8),
            static_cast<std::uint8_t>(allocation), 0};
}

inline Bytes read10_cdb(std::uint32_t lba, std::uint16_t count) {
    return {0x28, 0, static_cast<std::uint8_t>(lba >> 24), static_cast<std::uint8_t>(lba >> 16),
            static_cast<std::uint8_t>(lba >> 8), static_cast<std::uint8_t>(lba), 0,
            static_cast<std::uint8_t>(count >> 8), static_cast<std::uint8_t>(count), 0};
}

inline Bytes read_cd_cdb(std::uint32_t lba, std::uint32_t count, int expected_type, std::uint8_t selection) {
    return {0xBE, static_cast<std::uint8_t>(expected_type << 2), static_cast<std::uint8_t>(lba >> 24),
            static_cast<std::uint8_t>(lba >> 16), static_cast<std::uint8_t>(lba >> 8), static_cast<std::uint8_t>(lba),
            static_cast<std::uint8_t>(count >> 16), static_cast<std::uint8_t>(count >> 8),
            static_cast<std::uint8_t>(count), selection, 0, 0};
}

}  // namespace test_support
