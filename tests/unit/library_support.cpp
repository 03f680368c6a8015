#include "library_support.h"

#include <cerrno>

namespace scripted {
namespace {

const HMODULE kAspiModule = reinterpret_cast<HMODULE>(std::uintptr_t{0xA5B10000});
// Fixed-format sense: ILLEGAL REQUEST, LOGICAL UNIT NOT SUPPORTED (25/00).
const std::vector<std::uint8_t> kLunNotSupported = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x25, 0x00};

struct State {
    Script script;
    std::vector<Call> calls;
    std::vector<HeldRequest> held;
    std::uintptr_t last_handle = 0x1000;
} state;

std::uintptr_t number(const void* pointer) { return reinterpret_cast<std::uintptr_t>(pointer); }

HANDLE fresh_handle() { return reinterpret_cast<HANDLE>(state.last_handle += 4); }

void record(std::string function, std::string text, std::vector<std::uintptr_t> args = {},
            const void* request = nullptr, std::size_t size = 0) {
    auto* bytes = static_cast<const std::uint8_t*>(request);
    state.calls.push_back({std::move(function), std::move(text), std::move(args), {bytes, bytes + size}});
}

void copy_data(const std::vector<std::uint8_t>& data, void* buffer, std::size_t capacity) {
    if (buffer != nullptr && !data.empty()) std::memcpy(buffer, data.data(), std::min(data.size(), capacity));
}

void complete(SRB_ExecSCSICmd& request, const AspiReply& reply) {
    if (request.SRB_Flags & SRB_DIR_IN) copy_data(reply.data, request.SRB_BufPointer, request.SRB_BufLen);
    const auto& sense = state.script.failure_sense;
    if (reply.srb_status != SS_COMP) copy_data(sense, request.SenseArea, request.SRB_SenseLen);
    request.SRB_Status = reply.srb_status;
}

DWORD execute(SRB_ExecSCSICmd& request) {
    // A CDB whose LUN bits name another unit is refused at once, as a target would refuse it.
    const int cdb_lun = request.CDBByte[1] >> 5;
    if (cdb_lun != 0 && cdb_lun != request.SRB_Lun) {
        copy_data(kLunNotSupported, request.SenseArea, request.SRB_SenseLen);
        request.SRB_Status = SS_ERR;
        return SS_COMP;
    }
    AspiReply reply = state.script.aspi_exec ? state.script.aspi_exec(request) : AspiReply{};
    if (reply.returned != SS_PENDING) {
        complete(request, reply);
        return reply.returned;
    }
    request.SRB_Status = SS_PENDING;
    HANDLE event = request.SRB_Flags & SRB_EVENT_NOTIFY ? static_cast<HANDLE>(request.SRB_PostProc) : nullptr;
    state.held.push_back({&request, event, reply});
    return SS_PENDING;
}

DWORD get_support_info() { return state.script.support_info; }

}  // namespace

DWORD send_command(void* request) {
    auto* bytes = static_cast<std::uint8_t*>(request);
    const std::size_t sizes[] = {sizeof(SRB_HAInquiry), 0, sizeof(SRB_ExecSCSICmd), sizeof(SRB_Abort)};
    record("SendASPI32Command", {}, {bytes[0], number(request)}, request, bytes[0] < 4 ? sizes[bytes[0]] : 0);
    if (bytes[0] == SC_EXEC_SCSI_CMD) return execute(*static_cast<SRB_ExecSCSICmd*>(request));
    if (bytes[0] == SC_ABORT_SRB) return state.script.abort_result;
    auto* inquiry = static_cast<SRB_HAInquiry*>(request);
    const auto& adapters = state.script.host_adapters;
    if (bytes[0] != SC_HA_INQUIRY || inquiry->SRB_HaId >= adapters.size()) return SS_ERR;
    if (adapters[inquiry->SRB_HaId].returned == SS_COMP) {
        inquiry->SRB_Status = SS_COMP;
        inquiry->HA_Count = static_cast<std::uint8_t>(adapters.size());
        inquiry->HA_SCSI_ID = adapters[inquiry->SRB_HaId].scsi_id;
    }
    return adapters[inquiry->SRB_HaId].returned;
}

void reset() { state = State{}; }

Script& script() { return state.script; }

const std::vector<Call>& calls() { return state.calls; }

std::vector<Call> calls_to(std::string_view function) {
    std::vector<Call> found;
    for (const Call& call : state.calls)
        if (call.function == function) found.push_back(call);
    return found;
}

std::vector<HeldRequest>& held_requests() { return state.held; }

void add_drive(char letter, UINT type) {
    state.script.drive_strings += std::string{letter, ':', '\\', '\0'};
    state.script.drive_types[letter] = type;
}

bool complete_late(SRB_ExecSCSICmd* request) {
    auto& held = state.held;
    auto found = std::find_if(held.begin(), held.end(), [&](auto& h) { return h.request == request; });
    if (found == held.end()) return false;
    complete(*request, found->reply);
    held.erase(found);
    return true;
}

}  // namespace scripted

namespace platform {

using scripted::number;
using scripted::record;
using scripted::state;

BOOL GetVersionExA(OSVERSIONINFOA* version) {
    if (version->dwOSVersionInfoSize != sizeof *version) return FALSE;
    version->dwPlatformId = state.script.platform_id;
    return TRUE;
}

DWORD GetLogicalDriveStringsA(DWORD buffer_length, char* buffer) {
    const std::string& strings = state.script.drive_strings;
    std::memcpy(buffer, strings.data(), std::min<std::size_t>(strings.size(), buffer_length));
    return static_cast<DWORD>(strings.size());
}

UINT GetDriveTypeA(const char* root) {
    auto found = state.script.drive_types.find(root[0]);
    return found == state.script.drive_types.end() ? 3 : found->second;  // 3: a fixed disk
}

HANDLE CreateFileA(const char* name, DWORD access, DWORD share_mode, void* security, DWORD disposition,
                   DWORD flags, HANDLE template_file) {
    record("CreateFileA", name,
           {access, share_mode, number(security), disposition, flags, number(template_file)});
    const int error = state.script.open_error ? state.script.open_error(name) : 0;
    if (error == 0) return scripted::fresh_handle();
    if (error != scripted::kNoReason) errno = error;
    return INVALID_HANDLE_VALUE;
}

BOOL CloseHandle(HANDLE handle) {
    record("CloseHandle", {}, {number(handle)});
    return TRUE;
}

BOOL DeviceIoControl(HANDLE device, DWORD control_code, void* in_buffer, DWORD in_size, void* out_buffer,
                     DWORD out_size, DWORD* bytes_returned, void* overlapped) {
    record("DeviceIoControl", {}, {number(device), control_code}, in_buffer, in_size);
    SCSI_PASS_THROUGH_DIRECT sptd;
    if (control_code != IOCTL_SCSI_PASS_THROUGH_DIRECT || in_size < sizeof sptd || overlapped) return FALSE;
    std::memcpy(&sptd, in_buffer, sizeof sptd);
    if (sptd.Length != sizeof sptd || sptd.CdbLength > sizeof sptd.Cdb || out_size < sizeof sptd ||
        sptd.SenseInfoOffset + sptd.SenseInfoLength > out_size)
        return FALSE;
    auto& handler = state.script.pass_through;
    scripted::PassThroughReply reply = handler ? handler(device, sptd) : scripted::PassThroughReply{};
    if (!reply.result) return FALSE;
    if (sptd.DataIn != SCSI_IOCTL_DATA_IN) reply.data.clear();
    scripted::copy_data(reply.data, sptd.DataBuffer, sptd.DataTransferLength);
    // As the system does, the block comes back with the status and the bytes actually transferred.
    sptd.ScsiStatus = reply.scsi_status;
    sptd.DataTransferLength = std::min(static_cast<DWORD>(reply.data.size()), sptd.DataTransferLength);
    std::memcpy(out_buffer, &sptd, sizeof sptd);
    auto* sense = static_cast<std::uint8_t*>(out_buffer) + sptd.SenseInfoOffset;
    if (reply.scsi_status != 0) scripted::copy_data(state.script.failure_sense, sense, sptd.SenseInfoLength);
    if (bytes_returned != nullptr) *bytes_returned = out_size;
    return TRUE;
}

HMODULE LoadLibraryA(const char* name) {
    const bool found = state.script.aspi_present && std::string_view(name) == "WNASPI32.DLL";
    return found ? scripted::kAspiModule : nullptr;
}

FARPROC GetProcAddress(HMODULE module, const char* name) {
    const std::string_view wanted = module == scripted::kAspiModule ? name : "";
    if (wanted == "GetASPI32SupportInfo" && state.script.has_support_info)
        return reinterpret_cast<FARPROC>(&scripted::get_support_info);
    if (wanted == "SendASPI32Command" && state.script.has_send_command)
        return reinterpret_cast<FARPROC>(&scripted::send_command);
    return nullptr;
}

HANDLE CreateEventA(void*, BOOL, BOOL, const char*) { return scripted::fresh_handle(); }

// Completes the request held on this event when its event fires; otherwise the limit passes
// (and a wait without limit fails, since nothing would ever end it).
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    record("WaitForSingleObject", {}, {number(handle), milliseconds});
    for (const scripted::HeldRequest& held : state.held) {
        if (held.event != handle || !held.reply.event_fires) continue;
        scripted::complete_late(held.request);
        return WAIT_OBJECT_0;
    }
    return milliseconds == INFINITE ? WAIT_FAILED : state.script.unfired_wait_result;
}

void Sleep(DWORD milliseconds) { record("Sleep", {}, {milliseconds}); }

// Only the programs' start-up asks, for a listing, which no case here has.
int _stat(const char*, FileStat*) { return -1; }

// "/dev/D" for D:, and the empty name that ends the list.
DWORD QueryDosDeviceA(const char* device_name, char* target, DWORD) {
    std::snprintf(target, 8, "/dev/%c", device_name[0]);
    target[7] = '\0';
    return 8;
}

}  // namespace platform

void reset_library_state() {
    use_spti = 0;
    device_handle = INVALID_HANDLE_VALUE;
    current_drive = 0;
    std::fill(std::begin(drive_letters), std::end(drive_letters), 0);
    drive_count = 0;
    std::fill(std::begin(aspi_devices), std::end(aspi_devices), AspiDevice{});
    aspi_module = nullptr;
    host_adapter_count = 0;
    client_callback = nullptr;
    get_aspi_support_info = nullptr;
    send_aspi_command = nullptr;
    std::fill(std::begin(toc_entries), std::end(toc_entries), TocEntry{});
    last_track = 0;
    if (toc_listing_file != nullptr) std::fclose(toc_listing_file);
    toc_listing_file = nullptr;
    raw_sector_buffer = nullptr;
    data_sector_buffer = nullptr;
    selected_device = {};
    last_failure_sense = {};
    refused_first_track = 0;
    drive_gone = drive_gone_error = drive_open_error = drives_tried = 0;
    std::fill(std::begin(drive_outcomes), std::end(drive_outcomes), DriveOutcome{});
}
