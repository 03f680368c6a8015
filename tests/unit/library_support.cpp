#include "library_support.h"

namespace scripted {
namespace {

const HMODULE kAspiModule = reinterpret_cast<HMODULE>(std::uintptr_t{0xA5B10000});
constexpr UINT kDriveFixed = 3;
constexpr DWORD kAspiInvalidCommand = 0x80;
constexpr DWORD kAspiInvalidAdapter = 0x81;
// Fixed-format sense: ILLEGAL REQUEST, LOGICAL UNIT NOT SUPPORTED (25/00).
const std::vector<std::uint8_t> kLogicalUnitNotSupported = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x25, 0x00};

struct State {
    Script script;
    std::vector<Call> calls;
    std::vector<HeldRequest> held;
    std::map<HANDLE, std::string> opened;
    std::uintptr_t next_handle = 0x1000;
};

State& state() {
    static State instance;
    return instance;
}

std::uintptr_t number(const void* pointer) { return reinterpret_cast<std::uintptr_t>(pointer); }

Call& record(std::string function, std::string text, std::vector<std::uintptr_t> args = {},
             const void* request = nullptr, std::size_t size = 0) {
    auto* bytes = static_cast<const std::uint8_t*>(request);
    state().calls.push_back({std::move(function), std::move(text), std::move(args), {bytes, bytes + size}});
    return state().calls.back();
}

HANDLE fresh_handle() {
    state().next_handle += 4;
    return reinterpret_cast<HANDLE>(state().next_handle);
}

void copy_data(const std::vector<std::uint8_t>& data, void* buffer, std::size_t capacity) {
    if (buffer != nullptr && !data.empty()) std::memcpy(buffer, data.data(), std::min(data.size(), capacity));
}

void complete(SRB_ExecSCSICmd& request, const AspiReply& reply) {
    if (request.SRB_Flags & SRB_DIR_IN) copy_data(reply.data, request.SRB_BufPointer, request.SRB_BufLen);
    if (reply.srb_status != SS_COMP) copy_data(state().script.failure_sense, request.SenseArea, request.SRB_SenseLen);
    request.SRB_Status = reply.srb_status;
}

DWORD fake_get_support_info() { return state().script.support_info; }

DWORD execute(SRB_ExecSCSICmd& request) {
    const int cdb_lun = request.CDBByte[1] >> 5;
    if (cdb_lun != 0 && cdb_lun != request.SRB_Lun) {
        copy_data(kLogicalUnitNotSupported, request.SenseArea, request.SRB_SenseLen);
        request.SRB_Status = SS_ERR;
        return SS_COMP;
    }
    const Script& script = state().script;
    AspiReply reply = script.aspi_exec ? script.aspi_exec(request) : AspiReply{};
    if (reply.returned != SS_PENDING) {
        complete(request, reply);
        return reply.returned;
    }
    request.SRB_Status = SS_PENDING;
    HANDLE event = request.SRB_Flags & SRB_EVENT_NOTIFY ? static_cast<HANDLE>(request.SRB_PostProc) : nullptr;
    state().held.push_back({&request, event, reply});
    return SS_PENDING;
}

DWORD fake_send_command(void* request) {
    auto* bytes = static_cast<std::uint8_t*>(request);
    const std::size_t sizes[] = {sizeof(SRB_HAInquiry), 0, sizeof(SRB_ExecSCSICmd), sizeof(SRB_Abort)};
    record("SendASPI32Command", {}, {bytes[0], number(request)}, request, bytes[0] < 4 ? sizes[bytes[0]] : 0);
    const Script& script = state().script;
    if (bytes[0] == SC_EXEC_SCSI_CMD) return execute(*static_cast<SRB_ExecSCSICmd*>(request));
    if (bytes[0] == SC_ABORT_SRB) return script.abort_result;
    if (bytes[0] != SC_HA_INQUIRY) return kAspiInvalidCommand;
    auto* inquiry = static_cast<SRB_HAInquiry*>(request);
    if (inquiry->SRB_HaId >= script.host_adapters.size()) return kAspiInvalidAdapter;
    const HostAdapter& adapter = script.host_adapters[inquiry->SRB_HaId];
    if (adapter.returned == SS_COMP) {
        inquiry->SRB_Status = SS_COMP;
        inquiry->HA_Count = static_cast<std::uint8_t>(script.host_adapters.size());
        inquiry->HA_SCSI_ID = adapter.scsi_id;
    }
    return adapter.returned;
}

}  // namespace

void reset() {
    state() = State{};
}

Script& script() { return state().script; }

const std::vector<Call>& calls() { return state().calls; }

std::vector<Call> calls_to(std::string_view function) {
    std::vector<Call> found;
    std::copy_if(state().calls.begin(), state().calls.end(), std::back_inserter(found),
                 [&](const Call& call) { return call.function == function; });
    return found;
}

std::vector<HeldRequest>& held_requests() { return state().held; }

void add_drive(char letter, UINT type) {
    state().script.drive_strings += std::string{letter, ':', '\\', '\0'};
    state().script.drive_types[letter] = type;
}

std::string opened_path(HANDLE handle) {
    auto found = state().opened.find(handle);
    return found == state().opened.end() ? std::string{} : found->second;
}

bool complete_late(SRB_ExecSCSICmd* request) {
    auto& held = state().held;
    auto found = std::find_if(held.begin(), held.end(), [&](const HeldRequest& h) { return h.request == request; });
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
    record("GetVersionExA", {});
    if (version->dwOSVersionInfoSize != sizeof *version || !state().script.version_result) return FALSE;
    version->dwPlatformId = state().script.platform_id;
    return TRUE;
}

DWORD GetLogicalDriveStringsA(DWORD buffer_length, char* buffer) {
    record("GetLogicalDriveStringsA", {}, {buffer_length});
    const std::string& strings = state().script.drive_strings;
    std::memcpy(buffer, strings.data(), std::min<std::size_t>(strings.size(), buffer_length));
    return static_cast<DWORD>(strings.size());
}

UINT GetDriveTypeA(const char* root) {
    record("GetDriveTypeA", root);
    auto found = state().script.drive_types.find(root[0]);
    return found == state().script.drive_types.end() ? scripted::kDriveFixed : found->second;
}

HANDLE CreateFileA(const char* name, DWORD access, DWORD share_mode, void* security, DWORD disposition,
                   DWORD flags, HANDLE template_file) {
    record("CreateFileA", name, {access, share_mode, number(security), disposition, flags, number(template_file)});
    auto& results = state().script.open_results;
    HANDLE handle = results.empty() ? scripted::fresh_handle() : results.front();
    if (!results.empty()) results.pop_front();
    if (handle != INVALID_HANDLE_VALUE) state().opened[handle] = name;
    return handle;
}

BOOL CloseHandle(HANDLE handle) {
    record("CloseHandle", {}, {number(handle)});
    return TRUE;
}

BOOL DeviceIoControl(HANDLE device, DWORD control_code, void* in_buffer, DWORD in_size, void* out_buffer,
                     DWORD out_size, DWORD* bytes_returned, void* overlapped) {
    record("DeviceIoControl", {}, {number(device), control_code, in_size, out_size}, in_buffer, in_size);
    SCSI_PASS_THROUGH_DIRECT sptd;
    if (control_code != IOCTL_SCSI_PASS_THROUGH_DIRECT || in_size < sizeof sptd || overlapped != nullptr) return FALSE;
    std::memcpy(&sptd, in_buffer, sizeof sptd);
    if (sptd.Length != sizeof sptd || sptd.CdbLength > sizeof sptd.Cdb ||
        sptd.SenseInfoOffset + sptd.SenseInfoLength > out_size || out_size < sizeof sptd)
        return FALSE;
    auto& handler = state().script.pass_through;
    scripted::PassThroughReply reply = handler ? handler(device, sptd) : scripted::PassThroughReply{};
    if (!reply.result) return FALSE;
    if (sptd.DataIn != SCSI_IOCTL_DATA_IN) reply.data.clear();
    sptd.ScsiStatus = reply.scsi_status;
    scripted::copy_data(reply.data, sptd.DataBuffer, sptd.DataTransferLength);
    // As the system does, the block comes back with the number of bytes actually transferred.
    sptd.DataTransferLength = static_cast<DWORD>(std::min<std::size_t>(reply.data.size(), sptd.DataTransferLength));
    std::memcpy(out_buffer, &sptd, sizeof sptd);
    if (reply.scsi_status != 0)
        scripted::copy_data(state().script.failure_sense, static_cast<std::uint8_t*>(out_buffer) + sptd.SenseInfoOffset,
                            sptd.SenseInfoLength);
    if (bytes_returned != nullptr) *bytes_returned = out_size;
    return TRUE;
}

HMODULE LoadLibraryA(const char* name) {
    record("LoadLibraryA", name);
    return state().script.aspi_present && std::string_view(name) == "WNASPI32.DLL" ? scripted::kAspiModule : nullptr;
}

FARPROC GetProcAddress(HMODULE module, const char* name) {
    record("GetProcAddress", name);
    const scripted::Script& script = state().script;
    if (module != scripted::kAspiModule) return nullptr;
    if (std::string_view(name) == "GetASPI32SupportInfo" && script.has_support_info)
        return reinterpret_cast<FARPROC>(&scripted::fake_get_support_info);
    if (std::string_view(name) == "SendASPI32Command" && script.has_send_command)
        return reinterpret_cast<FARPROC>(&scripted::fake_send_command);
    return nullptr;
}

HANDLE CreateEventA(void* security, BOOL manual_reset, BOOL initial_state, const char* name) {
    record("CreateEventA", {}, {number(security), static_cast<std::uintptr_t>(manual_reset),
                                static_cast<std::uintptr_t>(initial_state), number(name)});
    return scripted::fresh_handle();
}

// Completes the request held on this event when its event fires; otherwise the limit passes
// (and a wait without limit fails, since nothing would ever end it).
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    record("WaitForSingleObject", {}, {number(handle), milliseconds});
    auto& held = state().held;
    auto found = std::find_if(held.begin(), held.end(),
                              [&](const scripted::HeldRequest& h) { return h.event == handle && h.reply.event_fires; });
    if (found == held.end()) return milliseconds == INFINITE ? WAIT_FAILED : state().script.unfired_wait_result;
    scripted::complete(*found->request, found->reply);
    held.erase(found);
    return WAIT_OBJECT_0;
}

void Sleep(DWORD milliseconds) { record("Sleep", {}, {milliseconds}); }

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
}

std::vector<std::uint8_t> toc_reply(const std::vector<TrackSpec>& tracks, TrackSpec lead_out) {
    std::size_t count = tracks.size();
    std::size_t data_length = 2 + 8 * (count + 1);
    std::vector<std::uint8_t> reply = {static_cast<std::uint8_t>(data_length >> 8),
                                       static_cast<std::uint8_t>(data_length), 1, static_cast<std::uint8_t>(count)};
    auto add = [&](const TrackSpec& track, std::uint8_t number) {
        auto lba = static_cast<std::uint32_t>(track.lba);
        std::uint8_t adr_control = 0x10 | (track.data ? 0x04 : 0x00);
        reply.insert(reply.end(), {0, adr_control, number, 0, static_cast<std::uint8_t>(lba >> 24),
                                   static_cast<std::uint8_t>(lba >> 16), static_cast<std::uint8_t>(lba >> 8),
                                   static_cast<std::uint8_t>(lba)});
    };
    for (std::size_t i = 0; i < count; ++i) add(tracks[i], static_cast<std::uint8_t>(i + 1));
    add(lead_out, 0xAA);
    return reply;
}

void use_scripted_aspi_layer() {
    scripted::script().aspi_present = true;
    aspi_module = platform::LoadLibraryA("WNASPI32.DLL");
    send_aspi_command = reinterpret_cast<SendASPI32CommandFunction>(
        reinterpret_cast<void (*)()>(platform::GetProcAddress(aspi_module, "SendASPI32Command")));
    use_spti = 0;
    scripted::reset();
}
