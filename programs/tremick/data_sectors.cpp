// User-data sectors: READ(10) of one 2048-byte block.
#include "sector_reader.h"
#include "tremick.h"

int transfer_pending = 0;

namespace {

int build_read_10(std::uint8_t* cdb, std::int32_t lba, const AspiDevice& device) {
    const auto address = static_cast<std::uint32_t>(lba);
    cdb[0] = 0x28;  // READ(10)
    cdb[1] = static_cast<std::uint8_t>(device.lun << 5);
    cdb[2] = 0x00;  // bits 24 to 31 of the address: always 0
    cdb[3] = static_cast<std::uint8_t>(address >> 16);
    cdb[4] = static_cast<std::uint8_t>(address >> 8);
    cdb[5] = static_cast<std::uint8_t>(address);
    cdb[6] = 0x00;
    cdb[7] = 0x00;  // transfer length: 1 block
    cdb[8] = 0x01;
    cdb[9] = 0x00;
    return 10;
}

const SectorCommand kRead10 = {kDataSectorSize, &data_sector_buffer, build_read_10, &transfer_pending};

}  // namespace

int read_data_sectors(std::uint8_t* buffer, std::int32_t first_lba, std::int32_t count) {
    return read_sectors(kRead10, buffer, first_lba, count);
}
