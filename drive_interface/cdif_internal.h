// The library's process-wide state and its internal operations, shared by its source files
// (and read by the unit tests, which reset it between cases).
#pragma once

#include <cstdint>
#include <cstdio>

#include "cdif.h"
#include "platform.h"
#include "scsi_records.h"

inline constexpr int kMaxDriveLetters = 26;
inline constexpr int kAspiDeviceSlots = 4;
inline constexpr int kMaxTracks = 99;

extern int use_spti;
extern HANDLE device_handle;
extern int drive_letters[kMaxDriveLetters];
extern int drive_count;
extern AspiDevice aspi_devices[kAspiDeviceSlots];
extern HMODULE aspi_module;
extern int host_adapter_count;
extern CDIF_Callback client_callback;
extern GetASPI32SupportInfoFunction get_aspi_support_info;
extern SendASPI32CommandFunction send_aspi_command;

extern TocEntry toc_entries[kMaxTracks + 2];  // entry 0, tracks 1 to 99, the lead-out
extern int last_track;
extern std::FILE* toc_listing_file;

// A drive still becoming ready says so (NOT READY, becoming ready or formatting) or has a UNIT
// ATTENTION to report; CDIF_ReadTOC waits for it.
inline bool drive_becoming_ready(const CommandSense& sense) {
    return (sense.key == kSenseNotReady && sense.asc == kAscBecomingReady && (sense.ascq == 0x01 || sense.ascq == 0x04)) ||
           sense.key == kSenseUnitAttention;
}

int CDIF_ScanAdapters();
int CDIF_Inquiry(int host_adapter, int target, int lun);
void service_abort(int host_adapter, SRB_ExecSCSICmd* request);

// A zero-filled data-in SRB_ExecSCSICmd for the command, completed by signalling the event.
void fill_exec_request(SRB_ExecSCSICmd& request, int host_adapter, int target, int lun, std::uint8_t* buffer,
                       std::uint32_t buffer_length, const std::uint8_t* cdb, std::uint8_t cdb_length, HANDLE event);

// Opens "\\.\X:" for the drive letter, as the transport and the drive selection both do, and
// keeps in drive_open_error the errno a failed open left (0 when the system gave none).
HANDLE open_drive_letter(int letter);
extern int drive_open_error;
