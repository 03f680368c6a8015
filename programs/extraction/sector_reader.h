// The sector reader of the extraction programs: one SCSI command per sector, each sector copied
// to its place in the caller's buffer. A sector the drive cannot read is left zero and noted;
// the reader goes on with the next one. Once the disc or the drive is gone it stops.
#pragma once

#include <cstdint>

#include "cdif.h"

// The program's one request slot: where the sectors go and which they are.
struct ReadRequest {
    std::uint8_t* destination;
    std::int32_t first_lba;
    std::int32_t end_lba;  // exclusive
};

extern ReadRequest read_request;
extern int request_busy;  // 1 while the request slot is in use

// A tally of sectors: how many, the first and the last.
struct UnreadableSectors {
    std::int32_t count;
    std::int32_t first_lba;
    std::int32_t last_lba;
};

// The sectors that could not be read since the tally was last cleared.
extern UnreadableSectors unreadable_sectors;
// The sectors up to the last one read that the drive refused as belonging to a track of another
// mode (ILLEGAL REQUEST, 64/00): at a track's end, the next track's pregap, which is not damage.
// Once a later sector is read, they count as unreadable after all.
extern UnreadableSectors other_mode_tail;

// The sector at which the disc or the drive was found gone (drive_gone set), which the reader
// reads no further than; -1 until then.
extern std::int32_t disc_gone_lba;

// How one kind of sector is read.
struct SectorCommand {
    int sector_size;
    std::uint8_t* const* transfer_buffer;  // the library's aligned buffer the sector arrives in
    // Writes the CDB that reads the sector at lba; returns its length.
    int (*build_cdb)(std::uint8_t* cdb, std::int32_t lba, const AspiDevice& device);
    int* pending_flag;  // cleared when the transfer is over, before request_busy; may be null
};

// Sleeps 1 ms at a time while flag is set.
void wait_while_set(const int& flag);

// Reads count sectors from first_lba into buffer (count * sector_size bytes). Returns 1.
int read_sectors(const SectorCommand& command, std::uint8_t* buffer, std::int32_t first_lba, std::int32_t count);
