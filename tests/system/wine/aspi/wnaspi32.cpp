// A test ASPI layer: WNASPI32.DLL's two entry points over emulated drives, configured from the
// environment:
//   TEST_ASPI_DEVICES   "ha:target:lun=entry;..." with each entry a drive as CDIF_DRIVES takes it;
//                       there are host adapters up to the highest one named, none without devices
//   TEST_ASPI_PENDING   milliseconds: every command is reported pending and completed that long
//                       after, from another thread; unset, commands complete at once
// Each host adapter's own SCSI id is 7.
// It is strict where a real layer may be lenient: buffers must be aligned on 16 bytes, data must
// be asked to flow in, and a command that completes at once does not signal its event. Built with
// TEST_ASPI_no_send_command or TEST_ASPI_no_support_info, it lacks that export.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

#include "emulated_drive.h"
#include "scsi_records.h"

namespace {

constexpr BYTE SS_INVALID_CMD = 0x80;
constexpr BYTE SS_INVALID_HA = 0x81;
constexpr BYTE SS_NO_DEVICE = 0x82;
constexpr BYTE SS_INVALID_SRB = 0xE0;
constexpr BYTE SRB_DIR_OUT = 0x10;

struct Unit {
    int host_adapter = 0, target = 0, lun = 0;
    std::unique_ptr<disc_image::EmulatedDrive> drive;
};

struct Config {
    int adapters = 0, pending_ms = -1;
    std::vector<Unit> units;
};

// The configuration of this process, read on first use.
Config& config() {
    static Config current = [] {
        Config read;
        std::istringstream devices(std::getenv("TEST_ASPI_DEVICES") ? std::getenv("TEST_ASPI_DEVICES") : "");
        std::string entry;
        while (std::getline(devices, entry, ';')) {
            Unit unit;
            int consumed = 0;
            std::sscanf(entry.c_str(), "%d:%d:%d=%n", &unit.host_adapter, &unit.target, &unit.lun, &consumed);
            if (consumed == 0) std::fprintf(stderr, "test ASPI layer: bad entry \"%s\"\n", entry.c_str());
            unit.drive = disc_image::EmulatedDrive::from_entry(entry.substr(consumed));
            read.adapters = std::max(read.adapters, unit.host_adapter + 1);
            read.units.push_back(std::move(unit));
        }
        if (const char* pending = std::getenv("TEST_ASPI_PENDING")) read.pending_ms = std::atoi(pending);
        return read;
    }();
    return current;
}

Unit* find_unit(const SRB_ExecSCSICmd& srb) {
    for (Unit& unit : config().units)
        if (unit.host_adapter == srb.SRB_HaId && unit.target == srb.SRB_Target && unit.lun == srb.SRB_Lun)
            return &unit;
    return nullptr;
}

// Runs the command on its unit and fills in the sense data; returns the final SRB_Status. A reply
// with more data than the buffer holds is an error, as the data overrun it is.
BYTE execute(SRB_ExecSCSICmd& srb) {
    disc_image::CommandReply reply = find_unit(srb)->drive->execute({srb.CDBByte, srb.SRB_CDBLen},
                                                                     {srb.SRB_BufPointer, srb.SRB_BufLen});
    if (reply.status == disc_image::kStatusGood && !reply.overrun) return SS_COMP;
    std::memcpy(srb.SenseArea, reply.sense.data(), std::min<std::size_t>(srb.SRB_SenseLen, sizeof srb.SenseArea));
    return SS_ERR;
}

// Completes a request reported pending after the delay, from its own thread: the outcome first,
// then the event it asked for.
DWORD WINAPI complete_later(void* request) {
    auto& srb = *static_cast<SRB_ExecSCSICmd*>(request);
    ::Sleep(static_cast<DWORD>(config().pending_ms));
    const bool notify = srb.SRB_Flags & SRB_EVENT_NOTIFY;
    HANDLE event = srb.SRB_PostProc;
    // Once the status is written the caller may reuse the record: nothing is read from it after.
    reinterpret_cast<volatile BYTE&>(srb.SRB_Status) = execute(srb);
    if (notify) ::SetEvent(event);
    return 0;
}

DWORD execute_scsi_command(SRB_ExecSCSICmd& srb) {
    if (srb.SRB_HaId >= config().adapters) return srb.SRB_Status = SS_INVALID_HA;
    if ((srb.SRB_Flags & (SRB_DIR_IN | SRB_DIR_OUT)) != SRB_DIR_IN || srb.SRB_CDBLen > sizeof srb.CDBByte ||
        reinterpret_cast<UINT_PTR>(srb.SRB_BufPointer) % 16 != 0)
        return srb.SRB_Status = SS_INVALID_SRB;
    if (!find_unit(srb)) return srb.SRB_Status = SS_NO_DEVICE;
    if (config().pending_ms < 0) return srb.SRB_Status = execute(srb);
    srb.SRB_Status = SS_PENDING;
    ::CloseHandle(::CreateThread(nullptr, 0, complete_later, &srb, 0, nullptr));
    return SS_PENDING;
}

}  // namespace

extern "C" {

#ifndef TEST_ASPI_no_support_info
__declspec(dllexport)
#endif
DWORD __cdecl GetASPI32SupportInfo() {
    const int count = config().adapters;
    return count == 0 ? SS_NO_ADAPTERS << 8 : (SS_COMP << 8) | static_cast<DWORD>(count);
}

#ifndef TEST_ASPI_no_send_command
__declspec(dllexport)
#endif
DWORD __cdecl SendASPI32Command(void* request) {
    auto* header = static_cast<SRB_HAInquiry*>(request);
    if (header->SRB_Cmd == SC_EXEC_SCSI_CMD) return execute_scsi_command(*static_cast<SRB_ExecSCSICmd*>(request));
    if (header->SRB_Cmd != SC_HA_INQUIRY) return header->SRB_Status = SS_INVALID_CMD;
    if (header->SRB_HaId >= config().adapters) return header->SRB_Status = SS_INVALID_HA;
    header->HA_Count = static_cast<BYTE>(config().adapters);
    header->HA_SCSI_ID = 7;
    return header->SRB_Status = SS_COMP;
}

}  // extern "C"
