// The library's process-wide state. It lives until the process ends; nothing is released.
#include "cdif_internal.h"

int use_spti = 0;
HANDLE device_handle = INVALID_HANDLE_VALUE;
int current_drive = 0;
int drive_letters[kMaxDriveLetters] = {};
int drive_count = 0;
AspiDevice aspi_devices[kAspiDeviceSlots] = {};
HMODULE aspi_module = nullptr;
int host_adapter_count = 0;
CDIF_Callback client_callback = nullptr;
GetASPI32SupportInfoFunction get_aspi_support_info = nullptr;
SendASPI32CommandFunction send_aspi_command = nullptr;

TocEntry toc_entries[kMaxTracks + 2] = {};
int last_track = 0;
std::FILE* toc_listing_file = nullptr;

std::uint8_t* raw_sector_buffer = nullptr;
std::uint8_t* data_sector_buffer = nullptr;
AspiDevice selected_device = {};
CommandSense last_failure_sense = {};
int refused_first_track = 0;
int drive_gone = kDriveThere;
int drive_gone_error = 0;
int drive_open_error = 0;
DriveOutcome drive_outcomes[kMaxDriveLetters] = {};
int drives_tried = 0;
