// Sends one command to a drive and prints its reply on one line: status, sense key/ASC/ASCQ (zero
// without CHECK CONDITION) and the data of a good reply in hex ("-" for none). The drive is a
// device node, reached with the kernel's SG_IO directly, not through the library, or an entry as
// CDIF_DRIVES takes it (an image, or "empty"), served by the emulated drive. A READ TOC reply is
// cut to what its data length field defines: the kernel's ATAPI path reports no residual, so
// zeros would follow it.
// Usage: drive_reply <device node or drive entry> <allocation length> <CDB byte in hex>...
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "emulated_drive.h"

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    const std::string drive = argv[1];
    std::vector<std::uint8_t> cdb, data(std::stoul(argv[2]));
    for (int arg = 3; arg < argc; ++arg)
        cdb.push_back(static_cast<std::uint8_t>(std::stoul(argv[arg], nullptr, 16)));
    std::uint8_t status = 0, sense[32] = {};
    std::size_t length = 0;
    if (drive.starts_with("/dev/")) {
        sg_io_hdr_t io{};
        io.interface_id = 'S';
        io.dxfer_direction = data.empty() ? SG_DXFER_NONE : SG_DXFER_FROM_DEV;
        io.cmd_len = static_cast<unsigned char>(cdb.size());
        io.cmdp = cdb.data();
        io.dxfer_len = static_cast<unsigned>(data.size());
        io.dxferp = data.data();
        io.mx_sb_len = sizeof sense;
        io.sbp = sense;
        io.timeout = 15000;
        const int fd = open(argv[1], O_RDONLY | O_NONBLOCK);
        // Driver status 0x08 only says that sense data came back.
        if (fd < 0 || ioctl(fd, SG_IO, &io) < 0 || io.host_status != 0 || (io.driver_status & ~0x08) != 0) {
            std::printf("not carried by the kernel (host %u, driver %u)\n", io.host_status, io.driver_status);
            return 1;
        }
        status = io.status;
        length = data.size() - std::min<std::size_t>(io.resid > 0 ? io.resid : 0, data.size());
    } else {
        const disc_image::CommandReply reply = disc_image::EmulatedDrive::from_entry(drive)->execute(cdb, data);
        status = reply.status;
        std::copy(reply.sense.begin(), reply.sense.end(), sense);
        length = std::min<std::size_t>(reply.data_length, data.size());
    }
    if (status != disc_image::kStatusGood) length = 0;  // only a good reply's data means something
    else if (cdb[0] == 0x43 && length >= 2) length = std::min<std::size_t>(length, 2u + (data[0] << 8 | data[1]));
    std::printf("%02x %02x/%02x/%02x ", status, sense[2] & 0x0F, sense[12], sense[13]);
    for (std::size_t i = 0; i < length; ++i) std::printf("%02x", data[i]);
    std::printf(length == 0 ? "-\n" : "\n");
    return 0;
}
