#include "scripted_platform.h"

#include <algorithm>

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

Call& record(std::string function, std::string text = {}, std::vector<std::uintptr_t> args = {}) {
    state().calls.push_back({std::move(function), std::move(text), std::move(args), {}, 0});
    return state().calls.back();
}

std::uintptr_t number(const void* pointer) { return reinterpret_cast<std::uintptr_t>(pointer); }

HANDLE fresh_handle() {
    HANDLE handle = reinterpret_cast<HANDLE>(state().next_handle);
    state().next_handle += 4;
    return handle;
}

void copy_data(const std::vector<std::uint8_t>& data, void* buffer, std::size_t capacity) {
    if (buffer != nullptr && !data.empty()) std::memcpy(buffer, data.data(), std::min(data.size(), capacity));
}

void complete(SRB_ExecSCSICmd& request, const AspiReply& reply) {
    copy_data(reply.data, request.SRB_BufPointer, request.SRB_BufLen);
    if (reply.srb_status != SS_COMP) copy_data(state().script.failure_sense, request.SenseArea, request.SRB_SenseLen);
    request.SRB_Status = reply.srb_status;
}

DWORD fake_get_support_info() {
    record("GetASPI32SupportInfo");
    return state().script.support_info;
}

DWORD fake_send_command(void* request) {
    auto* bytes = static_cast<std::uint8_t*>(request);
    Call& call = record("SendASPI32Command", {}, {bytes[0], number(request)});
    Script& script = state().script;
    switch (bytes[0]) {
    case SC_HA_INQUIRY: {
        call.record.assign(bytes, bytes + sizeof(SRB_HAInquiry));
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
    case SC_EXEC_SCSI_CMD: {
        call.record.assign(bytes, bytes + sizeof(SRB_ExecSCSICmd));
        auto* exec = static_cast<SRB_ExecSCSICmd*>(request);
        const int cdb_lun = exec->CDBByte[1] >> 5;
        if (cdb_lun != 0 && cdb_lun != exec->SRB_Lun) {
            copy_data(kLogicalUnitNotSupported, exec->SenseArea, exec->SRB_SenseLen);
            exec->SRB_Status = SS_ERR;
            return SS_COMP;
        }
        AspiReply reply = script.aspi_exec ? script.aspi_exec(*exec) : AspiReply{};
        if (reply.returned == SS_PENDING) {
            exec->SRB_Status = SS_PENDING;
            state().held.push_back({exec, static_cast<HANDLE>(exec->SRB_PostProc), reply});
        } else {
            complete(*exec, reply);
        }
        return reply.returned;
    }
    case SC_ABORT_SRB:
        call.record.assign(bytes, bytes + sizeof(SRB_Abort));
        return script.abort_result;
    default:
        return kAspiInvalidCommand;
    }
}

}  // namespace

void reset() {
    State& s = state();
    s.script = Script{};
    s.calls.clear();
    s.held.clear();
    s.opened.clear();
}

Script& script() { return state().script; }

const std::vector<Call>& calls() { return state().calls; }

std::vector<Call> calls_to(std::string_view function) {
    std::vector<Call> found;
    for (const Call& call : state().calls)
        if (call.function == function) found.push_back(call);
    return found;
}

std::vector<HeldRequest>& held_requests() { return state().held; }

void add_drive(char letter, UINT type) {
    std::string& strings = state().script.drive_strings;
    strings += letter;
    strings += ":\\";
    strings += '\0';
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

using scripted::Call;
using scripted::number;
using scripted::record;
using scripted::state;

BOOL GetVersionExA(OSVERSIONINFOA* version) {
    record("GetVersionExA", {}, {version->dwOSVersionInfoSize});
    if (state().script.version_result) version->dwPlatformId = state().script.platform_id;
    return state().script.version_result;
}

DWORD GetLogicalDriveStringsA(DWORD buffer_length, char* buffer) {
    record("GetLogicalDriveStringsA", {}, {buffer_length});
    const std::string& strings = state().script.drive_strings;
    std::memcpy(buffer, strings.data(), std::min<std::size_t>(strings.size(), buffer_length));
    return static_cast<DWORD>(strings.size());
}

UINT GetDriveTypeA(const char* root) {
    record("GetDriveTypeA", root);
    auto& types = state().script.drive_types;
    auto found = types.find(root[0]);
    return found == types.end() ? scripted::kDriveFixed : found->second;
}

HANDLE CreateFileA(const char* name, DWORD access, DWORD share_mode, void* security, DWORD disposition,
                   DWORD flags, HANDLE template_file) {
    Call& call = record("CreateFileA", name,
                        {access, share_mode, number(security), disposition, flags, number(template_file)});
    auto& results = state().script.open_results;
    HANDLE handle = scripted::fresh_handle();
    if (!results.empty()) {
        handle = results.front();
        results.pop_front();
    }
    if (handle != INVALID_HANDLE_VALUE) state().opened[handle] = name;
    call.result = number(handle);
    return handle;
}

BOOL CloseHandle(HANDLE handle) {
    record("CloseHandle", {}, {number(handle)});
    return TRUE;
}

BOOL DeviceIoControl(HANDLE device, DWORD control_code, void* in_buffer, DWORD in_size, void* out_buffer,
                     DWORD out_size, DWORD* bytes_returned, void* overlapped) {
    Call& call = record("DeviceIoControl", {},
                        {number(device), control_code, in_size, out_size, number(in_buffer), number(out_buffer),
                         number(bytes_returned), number(overlapped)});
    auto* bytes = static_cast<std::uint8_t*>(in_buffer);
    call.record.assign(bytes, bytes + in_size);

    SCSI_PASS_THROUGH_DIRECT sptd;
    std::memcpy(&sptd, in_buffer, sizeof sptd);
    auto& handler = state().script.pass_through;
    scripted::PassThroughReply reply = handler ? handler(device, sptd) : scripted::PassThroughReply{};
    if (!reply.result) return FALSE;
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
    return state().script.aspi_present && std::string_view(name) == "WNASPI32.DLL" ? scripted::kAspiModule
                                                                                    : nullptr;
}

FARPROC GetProcAddress(HMODULE module, const char* name) {
    record("GetProcAddress", name, {number(module)});
    const scripted::Script& script = state().script;
    if (module != scripted::kAspiModule) return nullptr;
    std::string_view wanted = name;
    if (wanted == "GetASPI32SupportInfo" && script.has_support_info)
        return reinterpret_cast<FARPROC>(&scripted::fake_get_support_info);
    if (wanted == "SendASPI32Command" && script.has_send_command)
        return reinterpret_cast<FARPROC>(&scripted::fake_send_command);
    return nullptr;
}

HANDLE CreateEventA(void* security, BOOL manual_reset, BOOL initial_state, const char* name) {
    Call& call = record("CreateEventA", {},
                        {number(security), static_cast<std::uintptr_t>(manual_reset),
                         static_cast<std::uintptr_t>(initial_state), number(name)});
    HANDLE event = state().script.event_creation_fails ? nullptr : scripted::fresh_handle();
    call.result = number(event);
    return event;
}

// Completes the request held on this event when its event fires; otherwise the limit passes
// (and a wait without limit fails, since nothing would ever end it).
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    record("WaitForSingleObject", {}, {number(handle), milliseconds});
    auto& held = state().held;
    for (auto it = held.begin(); it != held.end(); ++it) {
        if (it->event != handle || !it->reply.event_fires) continue;
        scripted::complete(*it->request, it->reply);
        held.erase(it);
        return WAIT_OBJECT_0;
    }
    return milliseconds == INFINITE ? WAIT_FAILED : state().script.unfired_wait_result;
}

void Sleep(DWORD milliseconds) { record("Sleep", {}, {milliseconds}); }

}  // namespace platform
