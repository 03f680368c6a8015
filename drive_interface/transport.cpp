// CDIF_ExecCommand: one data-in SCSI command to the selected drive, over the SCSI pass-through
// interface (retried once after reopening the drive) or the ASPI layer (no retry).
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "cdif_internal.h"

namespace {

constexpr std::uint8_t kPassThroughSenseLength = 24;
constexpr std::uint32_t kPassThroughTimeoutSeconds = 15;

// Sends the block as it stands; success means the call worked and the command ended GOOD.
bool send_pass_through(PassThroughBlock& block) {
    DWORD returned = 0;
    BOOL sent = platform::DeviceIoControl(device_handle, IOCTL_SCSI_PASS_THROUGH_DIRECT, &block, sizeof block,
                                          &block, sizeof block, &returned, nullptr);
    return sent && block.sptd.ScsiStatus == 0;
}

// What a command's sense says of the disc: removed (MEDIUM NOT PRESENT, or a UNIT ATTENTION for
// the medium's removal), changed (a UNIT ATTENTION for a medium change), or nothing.
int gone_by_sense(const CommandSense& sense) {
    if ((sense.key == kSenseNotReady || sense.key == kSenseUnitAttention) && sense.asc == kAscMediumNotPresent)
        return kDiscRemoved;
    if (sense.key == kSenseUnitAttention && sense.asc == kAscMediumChanged) return kDiscChanged;
    return kDriveThere;
}

// A reopen that failed because the device is no longer there, or for no reason the system gave.
bool reopen_shows_drive_gone() {
    return drive_open_error == 0 || drive_open_error == ENOENT || drive_open_error == ENODEV ||
           drive_open_error == ENXIO;
}

void note_gone(int gone) {
    if (gone != kDriveThere) drive_gone = gone;
}

// Both senders leave the sense of a failed command in sense, and note in drive_gone what any
// attempt's sense (or a failed reopen) says of the disc.
int exec_pass_through(std::uint8_t* buffer, std::uint32_t buffer_length, const std::uint8_t* cdb,
                      std::uint8_t cdb_length, CommandSense& sense) {
    PassThroughBlock block;
    std::memset(&block, 0, sizeof block);
    SCSI_PASS_THROUGH_DIRECT& sptd = block.sptd;
    sptd.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
    sptd.CdbLength = cdb_length;
    sptd.SenseInfoLength = kPassThroughSenseLength;
    sptd.DataIn = SCSI_IOCTL_DATA_IN;
    sptd.DataTransferLength = buffer_length;
    sptd.TimeOutValue = kPassThroughTimeoutSeconds;
    sptd.DataBuffer = buffer;
    sptd.SenseInfoOffset = offsetof(PassThroughBlock, sense);
    std::memcpy(sptd.Cdb, cdb, cdb_length);

    // The system writes the status and the bytes transferred back into the block, so the request
    // is kept as built for the resend: a failed call leaves a transfer length of 0 behind.
    const PassThroughBlock request = block;
    if (send_pass_through(block)) return 1;
    // What the first attempt said is kept: the reopen may absorb a media change, which the
    // resend then never shows.
    CommandSense first{};
    decode_sense(block.sense, kPassThroughSenseLength, first);
    int gone = gone_by_sense(first);
    // Any failure may be a stale handle (media change, bus reset): reopen and send the request once more.
    if (device_handle != INVALID_HANDLE_VALUE) platform::CloseHandle(device_handle);
    device_handle = open_drive_letter(drive_letters[current_drive]);
    if (device_handle == INVALID_HANDLE_VALUE && reopen_shows_drive_gone()) {
        gone = kDriveUnreachable;
        drive_gone_error = drive_open_error;
    }
    block = request;
    if (send_pass_through(block)) {
        // The disc was gone a moment ago, and now a disc reads: another one, or the same put back.
        note_gone(gone == kDiscRemoved ? kDiscChanged : gone);
        return 1;
    }
    decode_sense(block.sense, kPassThroughSenseLength, sense);
    if (gone == kDriveThere) gone = gone_by_sense(sense);
    note_gone(gone);
    return 0;
}

int exec_aspi(std::uint8_t* buffer, std::uint32_t buffer_length, int host_adapter, int target, int lun,
              const std::uint8_t* cdb, std::uint8_t cdb_length, CommandSense& sense) {
    // Without a loaded ASPI layer there is nothing to send to.
    if (send_aspi_command == nullptr) return 0;
    HANDLE event = platform::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) return 0;

    SRB_ExecSCSICmd request;
    fill_exec_request(request, host_adapter, target, lun, buffer, buffer_length, cdb, cdb_length, event);

    if (send_aspi_command(&request) == SS_PENDING) platform::WaitForSingleObject(event, INFINITE);
    platform::CloseHandle(event);
    if (request.SRB_Status == SS_COMP) return 1;
    decode_sense(request.SenseArea, SENSE_LEN, sense);
    note_gone(gone_by_sense(sense));
    return 0;
}

}  // namespace

void fill_exec_request(SRB_ExecSCSICmd& request, int host_adapter, int target, int lun, std::uint8_t* buffer,
                       std::uint32_t buffer_length, const std::uint8_t* cdb, std::uint8_t cdb_length, HANDLE event) {
    std::memset(&request, 0, sizeof request);
    request.SRB_Cmd = SC_EXEC_SCSI_CMD;
    request.SRB_HaId = static_cast<std::uint8_t>(host_adapter);
    request.SRB_Flags = SRB_DIR_IN | SRB_EVENT_NOTIFY;
    request.SRB_Target = static_cast<std::uint8_t>(target);
    request.SRB_Lun = static_cast<std::uint8_t>(lun);
    request.SRB_BufLen = buffer_length;
    request.SRB_BufPointer = buffer;
    request.SRB_SenseLen = SENSE_LEN;
    request.SRB_CDBLen = cdb_length;
    request.SRB_PostProc = event;
    std::memcpy(request.CDBByte, cdb, cdb_length);
}

HANDLE open_drive_letter(int letter) {
    char path[8];
    std::snprintf(path, sizeof path, "\\\\.\\%c:", static_cast<char>(letter));
    errno = 0;
    HANDLE handle = platform::CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                          0, nullptr);
    drive_open_error = handle == INVALID_HANDLE_VALUE ? errno : 0;
    return handle;
}

int CDIF_ExecCommand(std::uint8_t* buffer, std::uint32_t buffer_length, int host_adapter, int target, int lun,
                     const std::uint8_t* cdb, std::uint8_t cdb_length) {
    // Both records hold 16 CDB bytes; a longer CDB cannot be sent.
    if (cdb_length > sizeof(SCSI_PASS_THROUGH_DIRECT::Cdb)) {
        last_failure_sense = {};
        return 0;
    }
    // The number of bytes that arrive is not examined: what a short reply leaves unwritten reads
    // as zero, never as what the buffer held before (an earlier sector, an earlier attempt).
    if (buffer != nullptr) std::memset(buffer, 0, buffer_length);
    CommandSense sense{};
    int sent = use_spti ? exec_pass_through(buffer, buffer_length, cdb, cdb_length, sense)
                        : exec_aspi(buffer, buffer_length, host_adapter, target, lun, cdb, cdb_length, sense);
    if (!sent) last_failure_sense = sense;
    return sent;
}
