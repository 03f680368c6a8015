// What the unit tests share: a scripted platform and a fresh library for each case. The platform
// records the calls that open, close or reach a drive, the ASPI layer or an event's wait, with
// their arguments and request records, and its sleeps; its results come from the script each
// test fills. Like a real system it refuses what a port driver or an ASPI layer would refuse, so a
// malformed request fails every test rather than one that restates the record: another control
// code, a pass-through block of another length or with its sense area outside it, a CDB whose LUN
// bits name a unit other than the one addressed, a GetVersionExA record of another size. Data
// reaches only the buffer of a command marked data-in, and an ASPI request that does not ask for
// event notification never signals its event.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>

#include "cdif_internal.h"

namespace scripted {

// One recorded call: the path or name argument, the others as integers, the request record.
struct Call {
    std::string function, text;
    std::vector<std::uintptr_t> args;
    std::vector<std::uint8_t> record;
};

template <typename Record>
Record record_of(const Call& call) {
    Record record{};
    const std::size_t size = std::min(sizeof record, call.record.size());
    if (size > 0) std::memcpy(&record, call.record.data(), size);
    return record;
}

// How a pass-through call ends; the data goes to DataBuffer, at most DataTransferLength bytes.
struct PassThroughReply {
    BOOL result = TRUE;
    std::uint8_t scsi_status = 0;
    std::vector<std::uint8_t> data = {};
};
using PassThroughHandler = std::function<PassThroughReply(HANDLE device, const SCSI_PASS_THROUGH_DIRECT&)>;

// How the ASPI layer answers one SRB_ExecSCSICmd.
struct AspiReply {
    DWORD returned = SS_COMP;           // SS_PENDING: the request completes on the wait for its event
    std::uint8_t srb_status = SS_COMP;  // written at completion, with the data
    std::vector<std::uint8_t> data = {};
    bool event_fires = true;  // pending requests only: false keeps the request held forever
};
using AspiHandler = std::function<AspiReply(const SRB_ExecSCSICmd&)>;

struct HostAdapter {
    DWORD returned = SS_COMP;
    std::uint8_t scsi_id = 7;
};

// A pending request the ASPI layer still holds.
struct HeldRequest {
    SRB_ExecSCSICmd* request;
    HANDLE event;  // null when the request asked for none
    AspiReply reply;
};

struct Script {
    DWORD platform_id = VER_PLATFORM_WIN32_NT;
    std::string drive_strings;         // what GetLogicalDriveStringsA writes, zero bytes included
    std::map<char, UINT> drive_types;  // GetDriveTypeA by letter; others are fixed disks
    PassThroughHandler pass_through;   // unset: status GOOD, no data

    bool aspi_present = false;  // LoadLibraryA("WNASPI32.DLL") finds a module, with these entry points
    bool has_support_info = true;
    bool has_send_command = true;
    DWORD support_info = 0;
    std::vector<HostAdapter> host_adapters;   // SC_HA_INQUIRY by adapter; others fail
    AspiHandler aspi_exec;                    // unset: completes at once, SS_COMP, no data
    std::vector<std::uint8_t> failure_sense;  // the sense of commands that do not end well
    DWORD abort_result = SS_COMP;
    DWORD unfired_wait_result = WAIT_TIMEOUT;  // a limited wait for an event that does not fire
    // The errno of a CreateFileA of this path, which fails unless it is 0; kNoReason fails leaving
    // errno alone, as Windows does. Unset: every open succeeds.
    std::function<int(std::string_view path)> open_error;
};
inline constexpr int kNoReason = -1;

// Clears the script, the record of calls and the held requests.
void reset();
Script& script();
const std::vector<Call>& calls();
std::vector<Call> calls_to(std::string_view function);
std::vector<HeldRequest>& held_requests();
void add_drive(char letter, UINT type);  // a root "X:\" of that type
// Completes a held request late, as the layer would. False when none is held at that address.
bool complete_late(SRB_ExecSCSICmd* request);
DWORD send_command(void* request);  // the layer's SendASPI32Command

}  // namespace scripted

// Puts every process-wide variable of the library back to its value at process start.
void reset_library_state();

inline void fresh_library() {
    reset_library_state();
    scripted::reset();
}

class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override { fresh_library(); }
};

