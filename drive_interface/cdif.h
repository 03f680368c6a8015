// The CD drive interface library: SCSI command transport, drive discovery and selection,
// and the table of contents. All state is process-wide and lives until the process ends.
#pragma once

#include <cstdint>

#include "sense_data.h"

// The ASPI address of one CD-ROM device.
struct AspiDevice {
    int host_adapter;
    int target;
    int lun;
};

// Start address and kind of one track, or of the lead-out.
struct TocEntry {
    std::int32_t lba;
    int is_audio;
};

// The client callback handed to CDIF_Init; kept, never called.
using CDIF_Callback = void (*)();

int CDIF_Init(CDIF_Callback callback);
int CDIF_SelectDrive(int index);
int CDIF_ExecCommand(std::uint8_t* buffer, std::uint32_t buffer_length, int host_adapter, int target, int lun,
                     const std::uint8_t* cdb, std::uint8_t cdb_length);
int CDIF_ReadTOC();
int CDIF_GetLastTrack();
std::int32_t CDIF_GetTrackLBA(int index);
std::uint32_t CDIF_GetTrackMSF(int index);

// The last address a table of contents may hold: the lead-out of a disc whose last sector is at
// 99:59:74 (LBA 0 is 00:02:00).
inline constexpr std::int32_t kMaxLeadOutLba = 100 * 60 * 75 - 150;

inline constexpr int kRawSectorSize = 2352;   // a raw CD sector (all of a CD-DA sector)
inline constexpr int kDataSectorSize = 2048;  // a data sector's user data

// Buffers handed to CDIF_ExecCommand start on a 16-byte boundary: the first one at or after
// area, which is declared 15 bytes larger than used.
inline std::uint8_t* align16(std::uint8_t* area) {
    return area + ((16 - reinterpret_cast<std::uintptr_t>(area) % 16) % 16);
}

// Read by the programs' sector readers; written only by the library.
extern std::uint8_t* raw_sector_buffer;   // kRawSectorSize bytes, 16-byte aligned
extern std::uint8_t* data_sector_buffer;  // kDataSectorSize bytes, 16-byte aligned
extern AspiDevice selected_device;        // host adapter, target and LUN of the selected drive
// The sense of the last command that failed; all zero when it brought none back (the call
// itself failed). Commands that succeed leave it alone.
extern CommandSense last_failure_sense;
// The first track number of a READ TOC reply refused because it is not 1 (the table holds tracks
// from 1 on), the last such reply's; 0 while there was none.
extern int refused_first_track;

// Supplied by each program.
int use_aspi();                  // non-zero: send commands through the ASPI layer
extern int toc_listing_enabled;  // 1: CDIF_ReadTOC writes the "TOC" listing
