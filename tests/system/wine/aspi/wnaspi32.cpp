// A test ASPI layer: the two entry points of WNASPI32.DLL over the units of aspi_units.h.
//
// It answers host adapter inquiry, execute SCSI command and abort as the published ASPI for
// Win32 interface describes them, and is strict where a real layer may be lenient: buffers must
// be aligned as the adapter inquiry reports, data must flow in, and a command that completes at
// once does not signal its event. Built with TEST_ASPI_WITHOUT_SUPPORT_INFO or
// TEST_ASPI_WITHOUT_SEND_COMMAND, it lacks that export.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <span>
#include <vector>

#include "aspi_units.h"
#include "scsi_records.h"

namespace {

using test_aspi::Unit;
using test_aspi::UnitKind;

constexpr BYTE SS_ABORTED = 0x02;
constexpr BYTE SS_ABORT_FAIL = 0x03;
constexpr BYTE SS_INVALID_CMD = 0x80;
constexpr BYTE SS_INVALID_HA = 0x81;
constexpr BYTE SS_NO_DEVICE = 0x82;
constexpr BYTE SS_INVALID_SRB = 0xE0;
constexpr BYTE HASTAT_OK = 0x00;
constexpr BYTE HASTAT_SEL_TO = 0x11;  // selection timeout: nothing answers at the address
constexpr BYTE HASTAT_DO_DU = 0x12;   // data overrun: more data than the buffer holds
constexpr BYTE SRB_DIR_OUT = 0x10;
constexpr BYTE kStatusCheckCondition = 0x02;

constexpr std::uint16_t kAlignmentMask = 0x000F;  // buffers on 16-byte boundaries
constexpr DWORD kMaxTransfer = 0x10000;

void copy_padded(std::uint8_t (&field)[16], const char* text) {
    std::memset(field, ' ', sizeof field);
    std::memcpy(field, text, std::min(std::strlen(text), sizeof field));
}

BYTE host_adapter_inquiry(SRB_HAInquiry& srb) {
    const auto& config = test_aspi::config();
    if (srb.SRB_HaId >= config.adapter_count) return srb.SRB_Status = SS_INVALID_HA;
    srb.HA_Count = static_cast<std::uint8_t>(config.adapter_count);
    srb.HA_SCSI_ID = static_cast<std::uint8_t>(config.host_id);
    copy_padded(srb.HA_ManagerId, "ASPI for WIN32");
    copy_padded(srb.HA_Identifier, "TEST ADAPTER");
    std::memset(srb.HA_Unique, 0, sizeof srb.HA_Unique);
    srb.HA_Unique[0] = kAlignmentMask & 0xFF;
    srb.HA_Unique[1] = kAlignmentMask >> 8;
    srb.HA_Unique[3] = 8;  // targets per adapter
    std::memcpy(&srb.HA_Unique[4], &kMaxTransfer, sizeof kMaxTransfer);
    return srb.SRB_Status = SS_COMP;
}

// A unit that reports a direct-access device and refuses everything but INQUIRY.
disc_image::CommandReply execute_on_disk(std::span<const std::uint8_t> cdb, std::span<std::uint8_t> data) {
    disc_image::CommandReply reply;
    if (cdb[0] == 0x12) {
        std::uint8_t inquiry[36] = {0x00, 0x00, 0x05, 0x02, 31};
        std::memcpy(&inquiry[8], "TEST    DISK            0001", 28);
        reply.data_length = static_cast<std::uint32_t>(std::min(data.size(), sizeof inquiry));
        std::memcpy(data.data(), inquiry, reply.data_length);
        return reply;
    }
    reply.status = kStatusCheckCondition;
    reply.sense = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 0x00};  // invalid command operation code
    return reply;
}

// Runs the command on its unit and fills the record's outcome; returns the final SRB_Status.
BYTE execute(SRB_ExecSCSICmd& srb, Unit& unit) {
    std::span<const std::uint8_t> cdb(srb.CDBByte, srb.SRB_CDBLen);
    std::span<std::uint8_t> data(srb.SRB_BufPointer, srb.SRB_BufLen);
    disc_image::CommandReply reply =
        unit.kind == UnitKind::disk ? execute_on_disk(cdb, data) : unit.drive->execute(cdb, data);
    srb.SRB_HaStat = reply.overrun ? HASTAT_DO_DU : HASTAT_OK;
    srb.SRB_TargStat = reply.status;
    if (reply.overrun) return SS_ERR;
    if (reply.status == disc_image::kStatusGood) return SS_COMP;
    std::memcpy(srb.SenseArea, reply.sense.data(),
                std::min<std::size_t>({srb.SRB_SenseLen, reply.sense.size(), sizeof srb.SenseArea}));
    return SS_ERR;
}

// Checks what a layer can check of a request before it goes to a unit; 0 when it may go.
BYTE refusal(const SRB_ExecSCSICmd& srb) {
    if (srb.SRB_HaId >= test_aspi::config().adapter_count) return SS_INVALID_HA;
    if (srb.SRB_CDBLen < 6 || srb.SRB_CDBLen > sizeof srb.CDBByte) return SS_INVALID_SRB;
    if (srb.SRB_Flags & SRB_DIR_OUT) return SS_INVALID_SRB;
    if (srb.SRB_BufLen > kMaxTransfer) return SS_INVALID_SRB;
    if (srb.SRB_BufLen > 0 && srb.SRB_BufPointer == nullptr) return SS_INVALID_SRB;
    if (reinterpret_cast<std::uintptr_t>(srb.SRB_BufPointer) & kAlignmentMask) return SS_INVALID_SRB;
    if (!test_aspi::find_unit(srb.SRB_HaId, srb.SRB_Target, srb.SRB_Lun)) return SS_NO_DEVICE;
    return 0;
}

// Ends a request reported pending: the outcome first, then the event it asked for.
void complete(SRB_ExecSCSICmd& srb, BYTE status) {
    bool notify = srb.SRB_Flags & SRB_EVENT_NOTIFY;
    HANDLE event = srb.SRB_PostProc;
    // Once the status is written the caller may reuse the record: nothing is read from it after.
    reinterpret_cast<volatile BYTE&>(srb.SRB_Status) = status;
    if (notify) ::SetEvent(event);
}

// Requests reported pending: the queue that the worker thread completes after the configured
// delay, and those of stalled units, which only an abort ends.
struct PendingRequests {
    CRITICAL_SECTION lock;
    HANDLE queued;  // semaphore, one count per queued request
    HANDLE worker = nullptr;
    std::deque<SRB_ExecSCSICmd*> queue;
    std::vector<SRB_ExecSCSICmd*> stalled;

    PendingRequests() {
        ::InitializeCriticalSection(&lock);
        queued = ::CreateSemaphoreA(nullptr, 0, 0x7FFFFFFF, nullptr);
    }
};

PendingRequests& pending() {
    static PendingRequests requests;
    return requests;
}

DWORD WINAPI complete_requests(void*) {
    auto& requests = pending();
    int delay = test_aspi::config().pending_delay_ms;
    for (;;) {
        ::WaitForSingleObject(requests.queued, INFINITE);
        ::Sleep(static_cast<DWORD>(delay));
        ::EnterCriticalSection(&requests.lock);
        SRB_ExecSCSICmd* srb = nullptr;
        if (!requests.queue.empty()) {
            srb = requests.queue.front();
            requests.queue.pop_front();
        }
        // Executed under the lock, so that an abort finds a request either queued or finished.
        if (srb) complete(*srb, execute(*srb, *test_aspi::find_unit(srb->SRB_HaId, srb->SRB_Target, srb->SRB_Lun)));
        ::LeaveCriticalSection(&requests.lock);
    }
}

DWORD report_pending(SRB_ExecSCSICmd& srb, bool stall) {
    auto& requests = pending();
    srb.SRB_Status = SS_PENDING;
    ::EnterCriticalSection(&requests.lock);
    if (stall) {
        requests.stalled.push_back(&srb);
    } else {
        if (!requests.worker) requests.worker = ::CreateThread(nullptr, 0, complete_requests, nullptr, 0, nullptr);
        requests.queue.push_back(&srb);
        ::ReleaseSemaphore(requests.queued, 1, nullptr);
    }
    ::LeaveCriticalSection(&requests.lock);
    return SS_PENDING;
}

DWORD execute_scsi_command(SRB_ExecSCSICmd& srb) {
    if (BYTE refused = refusal(srb)) {
        srb.SRB_HaStat = refused == SS_NO_DEVICE ? HASTAT_SEL_TO : HASTAT_OK;
        return srb.SRB_Status = refused;
    }
    Unit& unit = *test_aspi::find_unit(srb.SRB_HaId, srb.SRB_Target, srb.SRB_Lun);
    if (unit.kind == UnitKind::stall) return report_pending(srb, true);
    if (test_aspi::config().pending_delay_ms >= 0) return report_pending(srb, false);
    return srb.SRB_Status = execute(srb, unit);
}

DWORD abort_request(SRB_Abort& srb) {
    auto* target = static_cast<SRB_ExecSCSICmd*>(srb.SRB_ToAbort);
    auto& requests = pending();
    auto is_target = [&](SRB_ExecSCSICmd* waiting) { return waiting == target; };
    ::EnterCriticalSection(&requests.lock);
    bool found = std::erase_if(requests.stalled, is_target) + std::erase_if(requests.queue, is_target) > 0;
    if (found) complete(*target, SS_ABORTED);
    ::LeaveCriticalSection(&requests.lock);
    return srb.SRB_Status = found ? SS_COMP : SS_ABORT_FAIL;
}

}  // namespace

// A variant without an export still has the function, only not exported.
#ifdef TEST_ASPI_WITHOUT_SUPPORT_INFO
#define SUPPORT_INFO_EXPORT
#else
#define SUPPORT_INFO_EXPORT __declspec(dllexport)
#endif
#ifdef TEST_ASPI_WITHOUT_SEND_COMMAND
#define SEND_COMMAND_EXPORT
#else
#define SEND_COMMAND_EXPORT __declspec(dllexport)
#endif

extern "C" {

SUPPORT_INFO_EXPORT DWORD __cdecl GetASPI32SupportInfo() {
    int count = test_aspi::config().adapter_count;
    if (count == 0) return SS_NO_ADAPTERS << 8;
    return (SS_COMP << 8) | static_cast<DWORD>(count);
}

SEND_COMMAND_EXPORT DWORD __cdecl SendASPI32Command(void* request) {
    if (!request) return SS_INVALID_SRB;
    switch (static_cast<std::uint8_t*>(request)[0]) {
    case SC_HA_INQUIRY:
        return host_adapter_inquiry(*static_cast<SRB_HAInquiry*>(request));
    case SC_EXEC_SCSI_CMD:
        return execute_scsi_command(*static_cast<SRB_ExecSCSICmd*>(request));
    case SC_ABORT_SRB:
        return abort_request(*static_cast<SRB_Abort*>(request));
    default:
        static_cast<std::uint8_t*>(request)[1] = SS_INVALID_CMD;
        return SS_INVALID_CMD;
    }
}

}  // extern "C"
