// Guest probe: sends the commands of probe_commands.h for a drive with or without a disc to a
// CD-ROM device node with the kernel's SG_IO, straight through the kernel and not through the
// library, and prints one line per command:
//   reply <drive> <name> status=<hex> sense=<key>/<asc>/<ascq> length=<bytes> data=<hex>
// or, when the kernel could not carry the command,
//   reply <drive> <name> transport=<errno, host and driver status>
// Usage: linux_guest_probe <drive name> <device> <disc or empty>
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "probe_commands.h"

namespace {

constexpr unsigned kTimeoutMs = 15000;

void print_hex(const std::uint8_t* bytes, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) std::printf("%02x", bytes[i]);
}

void send(const char* drive, int fd, const linux_guest::ProbeCommand& command) {
    std::vector<std::uint8_t> data(command.allocation_length, 0);
    std::uint8_t cdb[16];
    std::memcpy(cdb, command.cdb.data(), command.cdb_length);
    std::uint8_t sense[32] = {};
    sg_io_hdr_t io{};
    io.interface_id = 'S';
    io.dxfer_direction = data.empty() ? SG_DXFER_NONE : SG_DXFER_FROM_DEV;
    io.cmd_len = command.cdb_length;
    io.cmdp = cdb;
    io.dxfer_len = static_cast<unsigned>(data.size());
    io.dxferp = data.empty() ? nullptr : data.data();
    io.mx_sb_len = sizeof sense;
    io.sbp = sense;
    io.timeout = kTimeoutMs;
    std::printf("reply %s %.*s ", drive, static_cast<int>(command.name.size()), command.name.data());
    if (ioctl(fd, SG_IO, &io) < 0) {
        std::printf("transport=errno:%d\n", errno);
        return;
    }
    // Driver status 0x08 only says that sense data came back.
    if (io.host_status != 0 || (io.driver_status & ~0x08) != 0) {
        std::printf("transport=host:%u,driver:%u\n", io.host_status, io.driver_status);
        return;
    }
    unsigned key = 0, asc = 0, ascq = 0;
    if (io.sb_len_wr >= 14 && (sense[0] & 0x7E) == 0x70) {
        key = sense[2] & 0x0F;
        asc = sense[12];
        ascq = sense[13];
    }
    std::size_t length = data.size();
    if (io.resid > 0 && static_cast<std::size_t>(io.resid) <= length) length -= static_cast<std::size_t>(io.resid);
    std::printf("status=%02x sense=%02x/%02x/%02x length=%zu data=", io.status, key, asc, ascq, length);
    print_hex(data.data(), length);
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 || (std::strcmp(argv[3], "disc") != 0 && std::strcmp(argv[3], "empty") != 0)) {
        std::fprintf(stderr, "usage: %s <drive name> <device> <disc or empty>\n", argv[0]);
        return 2;
    }
    const auto kind = std::strcmp(argv[3], "disc") == 0 ? linux_guest::Drive::kDisc : linux_guest::Drive::kEmpty;
    int fd = open(argv[2], O_RDONLY | O_NONBLOCK);
    if (fd < 0) {
        std::fprintf(stderr, "cannot open %s: %s\n", argv[2], std::strerror(errno));
        return 1;
    }
    for (const auto& command : linux_guest::kProbeCommands)
        if (command.drive == kind) send(argv[1], fd, command);
    std::fflush(stdout);
    return 0;
}
