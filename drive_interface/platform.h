// The operating-system calls the library makes, with their Win32 names and argument lists. The
// programs call a few of them too: GetVersionExA (whether to use the ASPI layer), Sleep (the
// extraction programs' waits) and _stat (whether a track's file is complete or a listing exists).
//
// Exactly one realization is linked into each binary: platform/win32.cpp forwards to Windows,
// platform/posix.cpp serves Linux devices and disc images, and the unit tests link a scripted one.
// On Windows the SDK supplies the types and constants; elsewhere this header defines the few
// the library uses, with the same names and values.
#pragma once

#include <cstdint>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <sys/stat.h>
#else
using BOOL = int;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = unsigned int;
using HANDLE = void*;
using HMODULE = void*;
using FARPROC = void (*)();

struct OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    char szCSDVersion[128];
};

inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));
inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;
inline constexpr DWORD GENERIC_READ = 0x80000000u;
inline constexpr DWORD GENERIC_WRITE = 0x40000000u;
inline constexpr DWORD FILE_SHARE_READ = 0x00000001u;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr UINT DRIVE_CDROM = 5;
inline constexpr DWORD VER_PLATFORM_WIN32_WINDOWS = 1;
inline constexpr DWORD VER_PLATFORM_WIN32_NT = 2;
inline constexpr DWORD INFINITE = 0xFFFFFFFFu;
inline constexpr DWORD WAIT_OBJECT_0 = 0x00000000u;
inline constexpr DWORD WAIT_TIMEOUT = 0x00000102u;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;
#endif

static_assert(sizeof(OSVERSIONINFOA) == 148);

namespace platform {

#ifdef _WIN32
using FileStat = struct ::_stat;
// Line end written to text files: the runtime's text mode turns "\n" into CR LF itself.
inline constexpr char kTextLineEnd[] = "\n";
#else
// The one field of the runtime's stat record that the programs read.
struct FileStat {
    std::int64_t st_size;
};
// Line end written to text files: without a text mode, CR LF is written as it is.
inline constexpr char kTextLineEnd[] = "\r\n";
#endif

BOOL GetVersionExA(OSVERSIONINFOA* version);
DWORD GetLogicalDriveStringsA(DWORD buffer_length, char* buffer);
UINT GetDriveTypeA(const char* root);
HANDLE CreateFileA(const char* name, DWORD access, DWORD share_mode, void* security, DWORD disposition,
                   DWORD flags, HANDLE template_file);
BOOL CloseHandle(HANDLE handle);
BOOL DeviceIoControl(HANDLE device, DWORD control_code, void* in_buffer, DWORD in_size, void* out_buffer,
                     DWORD out_size, DWORD* bytes_returned, void* overlapped);
HMODULE LoadLibraryA(const char* name);
FARPROC GetProcAddress(HMODULE module, const char* name);
HANDLE CreateEventA(void* security, BOOL manual_reset, BOOL initial_state, const char* name);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
void Sleep(DWORD milliseconds);
// The device behind a drive ("D:"): a list of names ended by an empty one. Returns the characters
// written, 0 when the system names none.
DWORD QueryDosDeviceA(const char* device_name, char* target, DWORD size);
int _stat(const char* path, FileStat* status);

}  // namespace platform
