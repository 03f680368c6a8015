#include "sector_reader.h"

#include <cstring>

#include "platform.h"

ReadRequest read_request;
int request_busy = 0;
UnreadableSectors unreadable_sectors;

namespace {

constexpr int kLongestCdb = 16;

void note_unreadable(std::int32_t lba) {
    if (unreadable_sectors.count == 0) unreadable_sectors.first_lba = lba;
    unreadable_sectors.last_lba = lba;
    ++unreadable_sectors.count;
}

}  // namespace

void wait_while_set(const int& flag) {
    while (flag) platform::Sleep(1);
}

int read_sectors(const SectorCommand& command, std::uint8_t* buffer, std::int32_t first_lba, std::int32_t count) {
    wait_while_set(request_busy);
    read_request = {buffer, first_lba, first_lba + count};
    request_busy = 1;

    const AspiDevice device = selected_device;
    const int size = command.sector_size;
    std::uint8_t cdb[kLongestCdb];
    for (std::int32_t lba = read_request.first_lba; lba < read_request.end_lba; ++lba) {
        std::uint8_t* sector = read_request.destination + static_cast<std::ptrdiff_t>(lba - first_lba) * size;
        int cdb_length = command.build_cdb(cdb, lba, device);
        std::uint8_t* transfer = *command.transfer_buffer;
        if (CDIF_ExecCommand(transfer, static_cast<std::uint32_t>(size), device.host_adapter, device.target,
                             device.lun, cdb, static_cast<std::uint8_t>(cdb_length))) {
            std::memcpy(sector, transfer, static_cast<std::size_t>(size));
        } else {
            std::memset(sector, 0, static_cast<std::size_t>(size));
            note_unreadable(lba);
        }
    }

    if (command.pending_flag) *command.pending_flag = 0;
    request_busy = 0;
    return 1;
}
