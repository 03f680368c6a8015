// Linux realization of the platform operations.
//
// The drives are the entries of CDIF_DRIVES (";"-separated device nodes, disc images or the word
// "empty"), or, when it is not set, the machine's /dev/srN devices. Each gets a drive letter
// from D on. Device nodes receive their commands through the kernel's SG_IO pass-through, disc
// images through the emulated drive. There is no ASPI layer, and the platform id is that of the
// NT family, so the library uses the pass-through transport.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "../platform.h"
#include "../scsi_records.h"
#include "command_trace.h"
#include "emulated_drive.h"

namespace {

constexpr char kFirstLetter = 'D';
constexpr int kMaxLetters = 'Z' - kFirstLetter + 1;
constexpr UINT kDriveNoRootDir = 1;
constexpr unsigned char kDriverSense = 0x08;  // driver status that only says sense data came back

// One drive of the table; an emulated drive is made once and kept, so that its state (and
// injected faults that clear after some failures) survives the library's close and reopen.
struct Drive {
    std::string entry;
    std::unique_ptr<disc_image::EmulatedDrive> emulated;
    bool rights_reported = false;
};

std::vector<Drive>& drive_table() {
    static std::vector<Drive> drives = [] {
        std::vector<std::string> entries;
        if (const char* list = std::getenv("CDIF_DRIVES")) {
            std::string rest = list;
            std::size_t start = 0;
            while (start <= rest.size()) {
                std::size_t end = rest.find(';', start);
                if (end == std::string::npos) end = rest.size();
                if (end > start) entries.push_back(rest.substr(start, end - start));
                start = end + 1;
            }
        } else {
            std::vector<int> numbers;
            if (DIR* dev = opendir("/dev")) {
                while (const dirent* node = readdir(dev)) {
                    const char* name = node->d_name;
                    if (std::strncmp(name, "sr", 2) == 0 && name[2] != '\0' &&
                        std::strspn(name + 2, "0123456789") == std::strlen(name + 2) && std::strlen(name) < 8)
                        numbers.push_back(std::atoi(name + 2));
                }
                closedir(dev);
            }
            std::sort(numbers.begin(), numbers.end());
            for (int number : numbers) entries.push_back("/dev/sr" + std::to_string(number));
        }
        if (entries.size() > kMaxLetters) {
            std::fprintf(stderr, "CDIF_DRIVES: only the first %d drives get a drive letter\n", kMaxLetters);
            entries.resize(kMaxLetters);
        }
        std::vector<Drive> table;
        for (auto& entry : entries) table.push_back({entry, nullptr, false});
        return table;
    }();
    return drives;
}

Drive* drive_for_letter(char letter) {
    auto& drives = drive_table();
    if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
    int index = letter - kFirstLetter;
    if (index < 0 || index >= static_cast<int>(drives.size())) return nullptr;
    return &drives[index];
}

struct DeviceNode {
    int fd;
    char letter;
};
struct EmulatedHandle {
    disc_image::EmulatedDrive* drive;
    char letter;
};
struct Event {
    bool manual_reset;
    bool signalled;
};
using HandleObject = std::variant<DeviceNode, EmulatedHandle, Event>;

std::map<std::uintptr_t, HandleObject>& handles() {
    static std::map<std::uintptr_t, HandleObject> objects;
    return objects;
}

HANDLE new_handle(HandleObject object) {
    static std::uintptr_t next = 0x100;
    std::uintptr_t value = next;
    next += 4;
    handles().emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

HandleObject* find_handle(HANDLE handle) {
    auto found = handles().find(reinterpret_cast<std::uintptr_t>(handle));
    return found == handles().end() ? nullptr : &found->second;
}

// Sends the block's command to a device node with SG_IO and writes the outcome back into it.
BOOL send_to_device(int fd, SCSI_PASS_THROUGH_DIRECT& sptd, std::uint8_t* sense_area, command_trace::Delivery& delivery) {
    unsigned char sense[255] = {};
    sg_io_hdr_t io{};
    io.interface_id = 'S';
    io.dxfer_direction = sptd.DataTransferLength == 0 ? SG_DXFER_NONE
                         : sptd.DataIn == SCSI_IOCTL_DATA_IN ? SG_DXFER_FROM_DEV
                                                             : SG_DXFER_TO_DEV;
    io.cmd_len = sptd.CdbLength;
    io.cmdp = sptd.Cdb;
    io.dxfer_len = sptd.DataTransferLength;
    io.dxferp = sptd.DataBuffer;
    io.mx_sb_len = static_cast<unsigned char>(std::min<unsigned>(sptd.SenseInfoLength, sizeof sense));
    io.sbp = sense;
    io.timeout = sptd.TimeOutValue * 1000u;
    delivery.device = true;
    if (ioctl(fd, SG_IO, &io) < 0) {
        delivery.failure = std::strerror(errno);
        return FALSE;
    }
    delivery.adapter_status = true;
    delivery.host_status = io.host_status;
    delivery.driver_status = io.driver_status;
    if (io.host_status != 0 || (io.driver_status & ~kDriverSense) != 0) {
        delivery.failure = "host or driver error";
        return FALSE;
    }
    sptd.ScsiStatus = io.status;
    delivery.sense_length = io.sb_len_wr;
    std::memcpy(sense_area, sense, std::min<unsigned>(io.sb_len_wr, sptd.SenseInfoLength));
    if (io.resid > 0 && static_cast<unsigned>(io.resid) <= sptd.DataTransferLength)
        sptd.DataTransferLength -= static_cast<unsigned>(io.resid);
    // The ATAPI path reports no residual: a command that ended with CHECK CONDITION without one
    // counts as having moved nothing, not the whole transfer asked for.
    else if (io.status == disc_image::kStatusCheckCondition)
        sptd.DataTransferLength = 0;
    return TRUE;
}

BOOL send_to_emulated(disc_image::EmulatedDrive& drive, SCSI_PASS_THROUGH_DIRECT& sptd, std::uint8_t* sense_area,
                      command_trace::Delivery& delivery) {
    std::span<std::uint8_t> data;
    if (sptd.DataIn == SCSI_IOCTL_DATA_IN && sptd.DataTransferLength > 0) {
        if (sptd.DataBuffer == nullptr) {
            delivery.failure = "no data buffer";
            return FALSE;
        }
        data = {static_cast<std::uint8_t*>(sptd.DataBuffer), sptd.DataTransferLength};
    }
    disc_image::CommandReply reply = drive.execute({sptd.Cdb, sptd.CdbLength}, data);
    if (reply.overrun) {
        delivery.failure = "data overrun";  // a transport error, as the kernel reports one
        return FALSE;
    }
    sptd.ScsiStatus = reply.status;
    if (reply.status == disc_image::kStatusCheckCondition) {
        std::memcpy(sense_area, reply.sense.data(), std::min<std::size_t>(reply.sense.size(), sptd.SenseInfoLength));
        delivery.sense_length = reply.sense.size();
    }
    sptd.DataTransferLength = std::min(sptd.DataTransferLength, reply.data_length);
    return TRUE;
}

// Joining the node's group helps only when the group may read it; otherwise the line shows the
// node's owner, group and mode, for whoever sets up the machine.
void report_missing_rights(const std::string& node) {
    struct stat st;
    if (::stat(node.c_str(), &st) != 0) {
        std::fprintf(stderr, "%s: permission denied\n", node.c_str());
        return;
    }
    const group* owning_group = getgrgid(st.st_gid);
    const std::string group_name = owning_group != nullptr ? owning_group->gr_name : std::to_string(st.st_gid);
    if ((st.st_mode & S_IRGRP) != 0) {
        std::fprintf(stderr, "%s: permission denied; add your user to the \"%s\" group (then log in again)\n",
                     node.c_str(), group_name.c_str());
        return;
    }
    const passwd* owner = getpwuid(st.st_uid);
    std::fprintf(stderr, "%s: permission denied (owner %s, group %s, mode %04o)\n", node.c_str(),
                 owner != nullptr ? owner->pw_name : std::to_string(st.st_uid).c_str(), group_name.c_str(),
                 static_cast<unsigned>(st.st_mode & 07777));
}

}  // namespace

namespace platform {

BOOL GetVersionExA(OSVERSIONINFOA* version) {
    if (version == nullptr || version->dwOSVersionInfoSize < sizeof(OSVERSIONINFOA)) return FALSE;
    version->dwMajorVersion = 5;
    version->dwMinorVersion = 1;
    version->dwBuildNumber = 2600;
    version->dwPlatformId = VER_PLATFORM_WIN32_NT;
    version->szCSDVersion[0] = '\0';
    return TRUE;
}

DWORD GetLogicalDriveStringsA(DWORD buffer_length, char* buffer) {
    std::string roots;
    for (std::size_t i = 0; i < drive_table().size(); ++i) {
        roots += static_cast<char>(kFirstLetter + i);
        roots += ":\\";
        roots += '\0';
    }
    // As on Windows: the length without the final zero, or the size needed when it does not fit.
    if (buffer == nullptr || roots.size() + 1 > buffer_length) return static_cast<DWORD>(roots.size() + 1);
    std::memcpy(buffer, roots.data(), roots.size());
    buffer[roots.size()] = '\0';
    return static_cast<DWORD>(roots.size());
}

UINT GetDriveTypeA(const char* root) {
    if (root == nullptr || root[0] == '\0' || std::strcmp(root + 1, ":\\") != 0) return kDriveNoRootDir;
    return drive_for_letter(root[0]) != nullptr ? DRIVE_CDROM : kDriveNoRootDir;
}

HANDLE CreateFileA(const char* name, DWORD access, DWORD, void*, DWORD disposition, DWORD, HANDLE) {
    if (name == nullptr || disposition != OPEN_EXISTING || std::strncmp(name, "\\\\.\\", 4) != 0 ||
        std::strlen(name) != 6 || name[5] != ':')
        return INVALID_HANDLE_VALUE;
    char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(name[4])));
    Drive* drive = drive_for_letter(letter);
    if (drive == nullptr) return INVALID_HANDLE_VALUE;
    if (disc_image::is_emulated_entry(drive->entry)) {
        if (!drive->emulated) drive->emulated = disc_image::EmulatedDrive::from_entry(drive->entry);
        if (!drive->emulated->can_open()) {
            errno = ENODEV;  // as for a device node whose drive is not there
            return INVALID_HANDLE_VALUE;
        }
        return new_handle(EmulatedHandle{drive->emulated.get(), letter});
    }
    int fd = -1;
    if (access & GENERIC_WRITE) fd = open(drive->entry.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) fd = open(drive->entry.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        // The errno of the open is the caller's to read.
        const int error = errno;
        // Without rights the programs would otherwise just find no disc; say why, once per drive
        // (the library reopens a drive after every failed command).
        if ((error == EACCES || error == EPERM) && !drive->rights_reported) {
            drive->rights_reported = true;
            report_missing_rights(drive->entry);
        }
        errno = error;
        return INVALID_HANDLE_VALUE;
    }
    return new_handle(DeviceNode{fd, letter});
}

BOOL CloseHandle(HANDLE handle) {
    HandleObject* object = find_handle(handle);
    if (object == nullptr) return FALSE;
    if (auto* device = std::get_if<DeviceNode>(object)) close(device->fd);
    handles().erase(reinterpret_cast<std::uintptr_t>(handle));
    return TRUE;
}

BOOL DeviceIoControl(HANDLE device, DWORD control_code, void* in_buffer, DWORD in_size, void* out_buffer,
                     DWORD out_size, DWORD* bytes_returned, void*) {
    HandleObject* object = find_handle(device);
    if (object == nullptr || control_code != IOCTL_SCSI_PASS_THROUGH_DIRECT || in_buffer == nullptr ||
        in_buffer != out_buffer || in_size < sizeof(SCSI_PASS_THROUGH_DIRECT) || out_size < in_size)
        return FALSE;
    auto* block = static_cast<std::uint8_t*>(in_buffer);
    SCSI_PASS_THROUGH_DIRECT sptd;
    std::memcpy(&sptd, block, sizeof sptd);
    if (sptd.Length != sizeof(SCSI_PASS_THROUGH_DIRECT) || sptd.CdbLength == 0 || sptd.CdbLength > sizeof sptd.Cdb ||
        sptd.SenseInfoOffset < sizeof sptd || sptd.SenseInfoOffset > out_size ||
        sptd.SenseInfoLength > out_size - sptd.SenseInfoOffset)
        return FALSE;
    std::uint8_t* sense_area = block + sptd.SenseInfoOffset;
    const bool tracing = command_trace::enabled();
    const std::uint32_t requested = sptd.DataTransferLength;
    const auto started = tracing ? std::chrono::steady_clock::now() : std::chrono::steady_clock::time_point{};
    command_trace::Delivery delivery;
    BOOL sent = FALSE;
    char letter = 0;
    if (auto* node = std::get_if<DeviceNode>(object)) {
        sent = send_to_device(node->fd, sptd, sense_area, delivery);
        letter = node->letter;
    } else if (auto* emulated = std::get_if<EmulatedHandle>(object)) {
        sent = send_to_emulated(*emulated->drive, sptd, sense_area, delivery);
        letter = emulated->letter;
    }
    if (tracing && letter != 0)
        command_trace::record(letter, drive_for_letter(letter)->entry, sptd, requested, sense_area, delivery,
                              std::chrono::steady_clock::now() - started);
    if (!sent) return FALSE;
    std::memcpy(block, &sptd, sizeof sptd);
    if (bytes_returned != nullptr) *bytes_returned = in_size;
    return TRUE;
}

HMODULE LoadLibraryA(const char*) { return nullptr; }

FARPROC GetProcAddress(HMODULE, const char*) { return nullptr; }

HANDLE CreateEventA(void*, BOOL manual_reset, BOOL initial_state, const char*) {
    return new_handle(Event{manual_reset != FALSE, initial_state != FALSE});
}

// Nothing on this system signals an event from elsewhere: a wait ends at once when the event is
// signalled, and otherwise after its time limit (or at once with WAIT_FAILED when it has none).
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    HandleObject* object = find_handle(handle);
    auto* event = object != nullptr ? std::get_if<Event>(object) : nullptr;
    if (event == nullptr) return WAIT_FAILED;
    if (event->signalled) {
        if (!event->manual_reset) event->signalled = false;
        return WAIT_OBJECT_0;
    }
    if (milliseconds == INFINITE) return WAIT_FAILED;
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    return WAIT_TIMEOUT;
}

void Sleep(DWORD milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

// The drive's CDIF_DRIVES entry (or /dev/srN), as one name followed by the empty one.
DWORD QueryDosDeviceA(const char* device_name, char* target, DWORD size) {
    if (device_name == nullptr || target == nullptr || std::strlen(device_name) != 2 || device_name[1] != ':') return 0;
    const Drive* drive = drive_for_letter(device_name[0]);
    if (drive == nullptr || drive->entry.size() + 2 > size) return 0;
    std::memcpy(target, drive->entry.c_str(), drive->entry.size() + 1);
    target[drive->entry.size() + 1] = '\0';
    return static_cast<DWORD>(drive->entry.size() + 2);
}

int _stat(const char* path, FileStat* status) {
    struct stat st;
    if (path == nullptr || status == nullptr || ::stat(path, &st) != 0) return -1;
    status->st_size = st.st_size;
    return 0;
}

}  // namespace platform
