// A scripted realization of the platform operations for the unit tests. Every call is recorded
// with its arguments; results come from the script that each test fills. It can also play the
// ASPI layer: the module and its two entry points, host adapter inquiries, executed commands that
// complete at once or on the wait, events that never fire, and aborts that fail.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform.h"
#include "scsi_records.h"

namespace scripted {

// One recorded call. Handles and pointers are kept as integers.
struct Call {
    std::string function;
    std::string text;                  // the name, root or path argument
    std::vector<std::uintptr_t> args;  // the other arguments, in order
    std::vector<std::uint8_t> record;  // the request record as it was at the call
    std::uintptr_t result = 0;         // CreateFileA and CreateEventA: the handle returned
};

// The recorded request record as a struct.
template <typename Record>
Record record_of(const Call& call) {
    Record record;
    std::memset(&record, 0, sizeof record);
    if (!call.record.empty()) std::memcpy(&record, call.record.data(), std::min(sizeof record, call.record.size()));
    return record;
}

// How a pass-through DeviceIoControl call ends: its result, and what it writes back.
struct PassThroughReply {
    BOOL result = TRUE;
    std::uint8_t scsi_status = 0;
    std::vector<std::uint8_t> data;  // copied to DataBuffer, at most DataTransferLength bytes
};
using PassThroughHandler = std::function<PassThroughReply(HANDLE device, const SCSI_PASS_THROUGH_DIRECT&)>;

// How the ASPI layer answers one SRB_ExecSCSICmd.
struct AspiReply {
    DWORD returned = SS_COMP;            // SS_PENDING: the request completes on the wait for its event
    std::uint8_t srb_status = SS_COMP;   // written at completion
    std::vector<std::uint8_t> data;      // written to the request's buffer at completion
    bool event_fires = true;             // pending requests only: false keeps the request held forever
};
using AspiHandler = std::function<AspiReply(const SRB_ExecSCSICmd&)>;

struct HostAdapter {
    DWORD returned = SS_COMP;
    std::uint8_t scsi_id = 7;
};

// A pending request the scripted ASPI layer still holds.
struct HeldRequest {
    SRB_ExecSCSICmd* request;
    HANDLE event;
    AspiReply reply;
};

struct Script {
    BOOL version_result = TRUE;
    DWORD platform_id = VER_PLATFORM_WIN32_NT;

    std::string drive_strings;           // what GetLogicalDriveStringsA writes, zero bytes included
    std::map<char, UINT> drive_types;    // GetDriveTypeA by letter; others are fixed disks (3)
    std::deque<HANDLE> open_results;     // CreateFileA results in order; then fresh handles
    PassThroughHandler pass_through;     // unset: success, status GOOD, no data

    bool aspi_present = false;           // LoadLibraryA("WNASPI32.DLL") finds a module
    bool has_support_info = true;        // GetProcAddress finds GetASPI32SupportInfo
    bool has_send_command = true;        // GetProcAddress finds SendASPI32Command
    DWORD support_info = 0;
    std::vector<HostAdapter> host_adapters;  // SC_HA_INQUIRY by adapter; others fail
    // Unset: immediate completion, status SS_COMP, no data. A command whose CDB names in its LUN
    // bits (byte 1, bits 5 to 7) a unit other than SRB_Lun never reaches it: the layer refuses it
    // as a target would, ILLEGAL REQUEST, LOGICAL UNIT NOT SUPPORTED.
    AspiHandler aspi_exec;
    std::vector<std::uint8_t> failure_sense;  // the sense area of commands that do not end well
    DWORD abort_result = SS_COMP;

    bool event_creation_fails = false;
    DWORD unfired_wait_result = WAIT_TIMEOUT;  // a limited wait for an event that does not fire
};

// Clears the script, the record of calls and the held requests.
void reset();
Script& script();
const std::vector<Call>& calls();
std::vector<Call> calls_to(std::string_view function);
std::vector<HeldRequest>& held_requests();

// Adds a drive root "X:\" of the given type to the drive strings.
void add_drive(char letter, UINT type);

// The path CreateFileA opened to give this handle; empty for any other handle.
std::string opened_path(HANDLE handle);

// Completes a held request as the ASPI layer would, late: writes its reply into the record and
// its buffer. Returns false when no request is held at that address.
bool complete_late(SRB_ExecSCSICmd* request);

}  // namespace scripted
