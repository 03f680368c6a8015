// Drive discovery and selection: the CD-ROM drive letters, the choice of transport, the ASPI
// host adapter scan with its INQUIRY probes, and CDIF_SelectDrive.
#include <cstdio>
#include <cstring>
#include <new>

#include "cdif_internal.h"

namespace {

constexpr DWORD kDriveStringsLength = 106;
constexpr int kRootStringStep = 4;  // "D:\" and its terminating zero
constexpr int kTargetsPerAdapter = 8;
constexpr int kLunsPerTarget = 8;
constexpr int kCdromDeviceType = 5;
constexpr DWORD kInquiryTimeoutMs = 10000;
constexpr std::uint32_t kInquiryDataLength = 128;

std::uint8_t raw_sector_area[kRawSectorSize + 15];
std::uint8_t data_sector_area[kDataSectorSize + 15];

// One INQUIRY probe: the request and the area holding its data buffer, which the ASPI layer
// writes to while the request is pending.
struct InquiryProbe {
    SRB_ExecSCSICmd request;
    std::uint8_t area[256];
    InquiryProbe* next_abandoned;
};

// Probes whose request the ASPI layer may still hold (timed out, abort not confirmed). They are
// never freed nor reused: the layer may complete them at any later time, writing the record and
// its data buffer and signalling its event. Chained here so that they stay reachable.
InquiryProbe* abandoned_probes = nullptr;

void abandon(InquiryProbe* probe) {
    probe->next_abandoned = abandoned_probes;
    abandoned_probes = probe;
}

// GetProcAddress's result as a typed entry point (through the generic function pointer type,
// which converts to any other without a warning).
template <typename Function>
Function resolve(const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(platform::GetProcAddress(aspi_module, name)));
}

void find_cdrom_drive_letters() {
    // Zero bytes beyond the length handed over end the walk even if the whole buffer is filled.
    char roots[kDriveStringsLength + kRootStringStep] = {};
    platform::GetLogicalDriveStringsA(kDriveStringsLength, roots);
    for (DWORD offset = 0; offset < kDriveStringsLength && roots[offset] != '\0'; offset += kRootStringStep) {
        if (platform::GetDriveTypeA(&roots[offset]) != DRIVE_CDROM) continue;
        drive_letters[drive_count++] = static_cast<unsigned char>(roots[offset]);
        if (drive_count == kMaxDriveLetters) break;
    }
}

// Loads the ASPI layer and, when it reports success, replaces the drive count by the devices
// its host adapters hold. Returns 0 when the layer or one of its entry points is missing.
int start_aspi() {
    aspi_module = platform::LoadLibraryA("WNASPI32.DLL");
    if (aspi_module == nullptr) {
        std::printf("CDIF_Init: \"WNASPI32.DLL\" not found.");
        return 0;
    }
    get_aspi_support_info = resolve<GetASPI32SupportInfoFunction>("GetASPI32SupportInfo");
    if (get_aspi_support_info == nullptr) {
        std::printf("CDIF_Init: DLL function \"GetASPI32SupportInfo\" not found.");
        return 0;
    }
    send_aspi_command = resolve<SendASPI32CommandFunction>("SendASPI32Command");
    if (send_aspi_command == nullptr) {
        std::printf("CDIF_Init: DLL function \"SendASPI32Command\" not found.");
        return 0;
    }
    DWORD support = get_aspi_support_info();
    if (((support >> 8) & 0xFF) == SS_COMP) {
        host_adapter_count = static_cast<int>(support & 0xFF);
        drive_count = CDIF_ScanAdapters();
    }
    return 1;
}

// The address of a scanned ASPI device; the table has a slot for the first four.
AspiDevice aspi_device(int index) { return index < kAspiDeviceSlots ? aspi_devices[index] : AspiDevice{}; }

}  // namespace

int CDIF_Init(CDIF_Callback callback) {
    if (callback == nullptr) return 0;
    client_callback = callback;
    raw_sector_buffer = align16(raw_sector_area);
    data_sector_buffer = align16(data_sector_area);

    find_cdrom_drive_letters();
    if (drive_count == 0) return 0;

    if (use_aspi()) {
        use_spti = 0;
        if (!start_aspi()) return 0;
    } else {
        use_spti = 1;
    }

    for (int index = 0; index < drive_count; ++index) {
        drives_tried = index + 1;
        if (CDIF_SelectDrive(index)) break;
    }
    return 1;
}

int CDIF_ScanAdapters() {
    int found = 0;
    for (int adapter = 0; adapter < host_adapter_count; ++adapter) {
        SRB_HAInquiry inquiry;
        std::memset(&inquiry, 0, sizeof inquiry);
        inquiry.SRB_Cmd = SC_HA_INQUIRY;
        inquiry.SRB_HaId = static_cast<std::uint8_t>(adapter);
        if (send_aspi_command(&inquiry) != SS_COMP) return 0;

        for (int target = 0; target < kTargetsPerAdapter; ++target) {
            if (target == inquiry.HA_SCSI_ID) continue;
            for (int lun = 0; lun < kLunsPerTarget; ++lun) {
                // Devices beyond the table's slots are probed but not recorded.
                if (CDIF_Inquiry(adapter, target, lun) == kCdromDeviceType && found < kAspiDeviceSlots)
                    aspi_devices[found++] = {adapter, target, lun};
            }
        }
    }
    return found;
}

int CDIF_Inquiry(int host_adapter, int target, int lun) {
    HANDLE event = platform::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (event == nullptr) return -1;
    // On the heap, not the stack: a request that times out must outlive this call.
    auto* probe = new (std::nothrow) InquiryProbe{};
    if (probe == nullptr) {
        platform::CloseHandle(event);
        return -1;
    }
    std::uint8_t* data = align16(probe->area);
    SRB_ExecSCSICmd& request = probe->request;
    const std::uint8_t cdb[6] = {0x12, 0x00, 0x00, 0x00, kInquiryDataLength, 0x00};
    fill_exec_request(request, host_adapter, target, lun, data, kInquiryDataLength, cdb, sizeof cdb, event);

    if (send_aspi_command(&request) == SS_PENDING &&
        platform::WaitForSingleObject(event, kInquiryTimeoutMs) == WAIT_TIMEOUT) {
        service_abort(host_adapter, &request);
        // The abort may not have taken effect: the layer keeps the request, its buffer and its event.
        abandon(probe);
        return -1;
    }
    int type = request.SRB_Status == SS_COMP ? data[0] & 0x1F : -1;
    // A request still pending after a failed wait belongs to the layer as well, event included.
    if (request.SRB_Status == SS_PENDING) {
        abandon(probe);
    } else {
        platform::CloseHandle(event);
        delete probe;
    }
    return type;
}

void service_abort(int host_adapter, SRB_ExecSCSICmd* request) {
    SRB_Abort abort;
    std::memset(&abort, 0, sizeof abort);
    abort.SRB_Cmd = SC_ABORT_SRB;
    abort.SRB_HaId = static_cast<std::uint8_t>(host_adapter);
    abort.SRB_ToAbort = request;
    if (send_aspi_command(&abort) != SS_COMP) std::printf("service_abort() failed.");
}

int CDIF_SelectDrive(int index) {
    if (index < 0 || index >= drive_count) return 0;
    current_drive = index;
    // Only a scanned ASPI device has an address.
    selected_device = use_spti ? AspiDevice{} : aspi_device(index);
    drive_gone = kDriveThere;
    refused_first_track = 0;
    if (use_spti) {
        if (device_handle != INVALID_HANDLE_VALUE) platform::CloseHandle(device_handle);
        device_handle = open_drive_letter(drive_letters[index]);
    }
    if (CDIF_ReadTOC()) {
        drive_outcomes[index] = {kDriveRead, 0};
        return 1;
    }
    const CommandSense& sense = last_failure_sense;
    if (use_spti && device_handle == INVALID_HANDLE_VALUE)
        drive_outcomes[index] = {kDriveCannotOpen, drive_open_error};
    else if (refused_first_track != 0)
        drive_outcomes[index] = {kDriveNotFromTrackOne, refused_first_track};
    else if (drive_becoming_ready(sense))
        drive_outcomes[index] = {kDriveNotReady, 0};
    else if (sense.asc == kAscMediumNotPresent)
        drive_outcomes[index] = {kDriveNoDisc, 0};
    else
        drive_outcomes[index] = {kDriveNoToc, 0};
    return 0;
}

int CDIF_DriveName(int index, char* name, int size) {
    if (index < 0 || index >= drive_count || size <= 0) return 0;
    // Scanned ASPI devices have an address and no drive letter.
    if (!use_spti && host_adapter_count > 0) {
        const AspiDevice device = aspi_device(index);
        std::snprintf(name, static_cast<std::size_t>(size), "host adapter %d, target %d, LUN %d", device.host_adapter,
                      device.target, device.lun);
        return 1;
    }
    char letter[3] = {static_cast<char>(drive_letters[index]), ':', '\0'};
    char device[200] = {};
    if (platform::QueryDosDeviceA(letter, device, sizeof device - 1) > 0 && device[0] != '\0')
        std::snprintf(name, static_cast<std::size_t>(size), "%s (%s)", letter, device);
    else
        std::snprintf(name, static_cast<std::size_t>(size), "%s", letter);
    return 1;
}
