// Windows realization of the platform operations: each forwards to the system call of the same
// name, and _stat to the C runtime's. CreateFileA also says when a drive needs rights the user
// lacks, since the programs would otherwise just find no disc.
//
// The runtime's headers may define _stat as a macro for the variant matching its time_t; it
// then renames the declaration in platform.h, this definition and the runtime call alike.
#include <cstdio>
#include <cstring>
#include <set>
#include <string>

#include "../platform.h"

namespace {

// One line on standard error per drive and run: the library reopens a drive after every failed
// command. The system's last error is kept for the caller.
void report_missing_rights(const char* name) {
    static std::set<std::string> reported;
    const char* drive = std::strncmp(name, "\\\\.\\", 4) == 0 ? name + 4 : name;
    if (!reported.insert(drive).second) return;
    const DWORD error = ::GetLastError();
    std::fprintf(stderr, "%s needs administrator rights for SCSI pass-through; run the program as administrator\n",
                 drive);
    ::SetLastError(error);
}

}  // namespace

namespace platform {

BOOL GetVersionExA(OSVERSIONINFOA* version) { return ::GetVersionExA(version); }

DWORD GetLogicalDriveStringsA(DWORD buffer_length, char* buffer) {
    return ::GetLogicalDriveStringsA(buffer_length, buffer);
}

UINT GetDriveTypeA(const char* root) { return ::GetDriveTypeA(root); }

HANDLE CreateFileA(const char* name, DWORD access, DWORD share_mode, void* security, DWORD disposition,
                   DWORD flags, HANDLE template_file) {
    HANDLE handle = ::CreateFileA(name, access, share_mode, static_cast<LPSECURITY_ATTRIBUTES>(security),
                                  disposition, flags, template_file);
    if (handle == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED && name != nullptr)
        report_missing_rights(name);
    return handle;
}

BOOL CloseHandle(HANDLE handle) { return ::CloseHandle(handle); }

BOOL DeviceIoControl(HANDLE device, DWORD control_code, void* in_buffer, DWORD in_size, void* out_buffer,
                     DWORD out_size, DWORD* bytes_returned, void* overlapped) {
    return ::DeviceIoControl(device, control_code, in_buffer, in_size, out_buffer, out_size, bytes_returned,
                             static_cast<LPOVERLAPPED>(overlapped));
}

HMODULE LoadLibraryA(const char* name) { return ::LoadLibraryA(name); }

FARPROC GetProcAddress(HMODULE module, const char* name) { return ::GetProcAddress(module, name); }

HANDLE CreateEventA(void* security, BOOL manual_reset, BOOL initial_state, const char* name) {
    return ::CreateEventA(static_cast<LPSECURITY_ATTRIBUTES>(security), manual_reset, initial_state, name);
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) { return ::WaitForSingleObject(handle, milliseconds); }

void Sleep(DWORD milliseconds) { ::Sleep(milliseconds); }

DWORD QueryDosDeviceA(const char* device_name, char* target, DWORD size) {
    return ::QueryDosDeviceA(device_name, target, size);
}

int _stat(const char* path, FileStat* status) { return ::_stat(path, status); }

}  // namespace platform
