// Windows realization of the platform operations: each forwards to the system call of the same
// name, and _stat to the C runtime's.
//
// The runtime's headers may define _stat as a macro for the variant matching its time_t; it
// then renames the declaration in platform.h, this definition and the runtime call alike.
#include "../platform.h"

namespace platform {

BOOL GetVersionExA(OSVERSIONINFOA* version) { return ::GetVersionExA(version); }

DWORD GetLogicalDriveStringsA(DWORD buffer_length, char* buffer) {
    return ::GetLogicalDriveStringsA(buffer_length, buffer);
}

UINT GetDriveTypeA(const char* root) { return ::GetDriveTypeA(root); }

HANDLE CreateFileA(const char* name, DWORD access, DWORD share_mode, void* security, DWORD disposition,
                   DWORD flags, HANDLE template_file) {
    return ::CreateFileA(name, access, share_mode, static_cast<LPSECURITY_ATTRIBUTES>(security), disposition,
                         flags, template_file);
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

int _stat(const char* path, FileStat* status) { return ::_stat(path, status); }

}  // namespace platform
