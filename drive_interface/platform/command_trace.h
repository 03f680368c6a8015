// The command trace of the Linux realization: with CDIF_TRACE set to a file name (or "-" for
// standard error), one line per pass-through command, for a bug report. Without the variable
// nothing is opened or written.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "../scsi_records.h"

namespace command_trace {

// How a command fared below the SCSI level, as the realization's send functions report it.
struct Delivery {
    const char* failure = "";          // why the command got no SCSI status; empty when it got one
    std::size_t sense_length = 0;      // sense bytes the drive returned
    bool device = false;               // a device node: the time taken is reported
    bool adapter_status = false;       // the kernel returned the host and driver status below
    unsigned host_status = 0;
    unsigned driver_status = 0;
};

// True when CDIF_TRACE is set and its file could be opened; decided on the first call.
bool enabled();

// Writes the line of one command sent to the drive with this letter and CDIF_DRIVES entry: the
// CDB, direction and length asked for, and the block as the command left it (status, length
// transferred, sense area), or the failure; for device nodes also host and driver status and
// the time taken.
void record(char letter, const std::string& entry, const SCSI_PASS_THROUGH_DIRECT& done, std::uint32_t requested,
            const std::uint8_t* sense, const Delivery& delivery, std::chrono::steady_clock::duration took);

}  // namespace command_trace
