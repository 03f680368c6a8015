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
// from 1 on), the last such reply's since the drive was selected; 0 while there was none.
extern int refused_first_track;

// How the selected drive lost its disc, once a command has shown it: MEDIUM NOT PRESENT or a
// UNIT ATTENTION for the medium's removal; a UNIT ATTENTION for a medium change, or a removal
// after which the resend read a disc; or a drive that could not be opened again (ENOENT, ENODEV,
// ENXIO, or no reason given, as on Windows). Kept even when the command's resend succeeds;
// cleared when a drive is selected and when its table of contents is read.
enum DriveGone { kDriveThere = 0, kDiscRemoved, kDiscChanged, kDriveUnreachable };
extern int drive_gone;
extern int drive_gone_error;  // with kDriveUnreachable: errno of the failed reopen, or 0

// Why a drive gave no table of contents when CDIF_Init tried it, by drive index.
enum DriveFailure { kDriveRead = 0, kDriveNoDisc, kDriveNotReady, kDriveCannotOpen, kDriveNotFromTrackOne, kDriveNoToc };
struct DriveOutcome {
    int failure;  // a DriveFailure
    // With kDriveCannotOpen: errno of the open, or 0 when the system gave none; with
    // kDriveNotFromTrackOne: the disc's first track.
    int detail;
};
extern DriveOutcome drive_outcomes[26];
extern int drives_tried;   // how many drives CDIF_Init tried, the selected one last
extern int current_drive;  // the selected drive's index

// Writes the name of drive index into name (size bytes): its letter ("D:"), with the device
// behind it where the system names one ("D: (/dev/sr0)"), or on the ASPI transport its address.
// Returns 1, or 0 for an index outside the drives.
int CDIF_DriveName(int index, char* name, int size);

// Supplied by each program.
int use_aspi();                  // non-zero: send commands through the ASPI layer
extern int toc_listing_enabled;  // 1: CDIF_ReadTOC writes the "TOC" listing
