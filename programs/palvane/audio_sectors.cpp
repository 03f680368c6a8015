// Raw audio sectors: READ CD of one CD-DA sector, all 2352 bytes.
#include "palvane.h"
#include "sector_reader.h"

namespace {

int build_read_cd(std::uint8_t* cdb, std::int32_t lba, const AspiDevice&) {
    const auto address = static_cast<std::uint32_t>(lba);
    cdb[0] = 0xBE;  // READ CD
    cdb[1] = 0x04;  // expected sector type: CD-DA
    cdb[2] = static_cast<std::uint8_t>(address >> 24);
    cdb[3] = static_cast<std::uint8_t>(address >> 16);
    cdb[4] = static_cast<std::uint8_t>(address >> 8);
    cdb[5] = static_cast<std::uint8_t>(address);
    cdb[6] = 0x00;  // transfer length: 1 sector
    cdb[7] = 0x00;
    cdb[8] = 0x01;
    cdb[9] = 0x10;  // user data, which for CD-DA is the whole sector
    cdb[10] = 0x00;
    cdb[11] = 0x00;
    return 12;
}

const SectorCommand kReadCd = {kRawSectorSize, &raw_sector_buffer, build_read_cd, nullptr};

}  // namespace

int read_audio_sectors(std::uint8_t* buffer, std::int32_t first_lba, std::int32_t count) {
    return read_sectors(kReadCd, buffer, first_lba, count);
}
