#include "sector_reader.h"

#include <cstring>

#include "platform.h"

ReadRequest read_request;
int request_busy = 0;
UnreadableSectors unreadable_sectors;
UnreadableSectors other_mode_tail;
std::int32_t disc_gone_lba = -1;

namespace {

constexpr int kLongestCdb = 16;
constexpr CommandSense kIllegalModeForTrack = {0x05, 0x64, 0x00};

void note(UnreadableSectors& tally, std::int32_t lba) {
    if (tally.count == 0) tally.first_lba = lba;
    tally.last_lba = lba;
    ++tally.count;
}

// A sector after the refused ones: they were not the end of the track.
void end_other_mode_tail() {
    if (other_mode_tail.count == 0) return;
    if (unreadable_sectors.count == 0) unreadable_sectors.first_lba = other_mode_tail.first_lba;
    unreadable_sectors.last_lba = other_mode_tail.last_lba;
    unreadable_sectors.count += other_mode_tail.count;
    other_mode_tail = {};
}

bool refused_as_other_mode() {
    const CommandSense& sense = last_failure_sense;
    return sense.key == kIllegalModeForTrack.key && sense.asc == kIllegalModeForTrack.asc &&
           sense.ascq == kIllegalModeForTrack.ascq;
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
        const bool read = CDIF_ExecCommand(transfer, static_cast<std::uint32_t>(size), device.host_adapter,
                                           device.target, device.lun, cdb, static_cast<std::uint8_t>(cdb_length));
        // Not a bad sector: this one and all after it are not the disc's, or not there at all.
        if (drive_gone != kDriveThere) {
            disc_gone_lba = lba;
            break;
        }
        if (read) {
            std::memcpy(sector, transfer, static_cast<std::size_t>(size));
            end_other_mode_tail();
            continue;
        }
        std::memset(sector, 0, static_cast<std::size_t>(size));
        if (refused_as_other_mode()) {
            note(other_mode_tail, lba);
        } else {
            end_other_mode_tail();
            note(unreadable_sectors, lba);
        }
    }

    if (command.pending_flag) *command.pending_flag = 0;
    request_busy = 0;
    return 1;
}
