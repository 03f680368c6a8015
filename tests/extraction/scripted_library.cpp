#include "scripted_library.h"

#include <algorithm>
#include <cstring>

#include "cdif.h"
#include "track_end.h"
#include "track_list.h"

namespace scripted {

std::vector<ScriptedTrack> toc;
Bytes full_toc_reply;
Bytes session_info_reply;
std::vector<Bytes> toc_requests;

void load(std::vector<ScriptedTrack> tracks) {
    toc = std::move(tracks);
    toc_requests.clear();
    session_table = {};
    build_track_list();
}

}  // namespace scripted

using scripted::toc;

int CDIF_GetLastTrack() { return static_cast<int>(toc.size()) - 1; }

std::int32_t CDIF_GetTrackLBA(int i) { return toc[static_cast<std::size_t>(i - 1)].lba; }

std::uint32_t CDIF_GetTrackMSF(int i) {
    std::uint32_t a = static_cast<std::uint32_t>(CDIF_GetTrackLBA(i)) + 150;
    return (a / 4500) << 24 | (a / 75 % 60) << 16 | (a % 75) << 8 | (toc[static_cast<std::size_t>(i - 1)].audio ? 0 : 4);
}

namespace {
std::uint8_t data_area[2048];
}

std::uint8_t* data_sector_buffer = data_area;
AspiDevice selected_device{1, 2, 3};  // a unit past LUN 0, so that commands must name it
CommandSense last_failure_sense{};

int CDIF_ExecCommand(std::uint8_t* buffer, std::uint32_t length, int, int, int lun, const std::uint8_t* cdb,
                     std::uint8_t cdb_length) {
    if (cdb[0] == 0x28) {  // READ(10): every byte is the low byte of the LBA
        if (cdb[1] >> 5 != lun) return 0;  // as a unit refuses a command naming another
        std::memset(buffer, cdb[5], length);
        return 1;
    }
    scripted::toc_requests.emplace_back(cdb, cdb + cdb_length);
    std::memset(buffer, 0, length);  // as the library does before each command
    const scripted::Bytes& reply = cdb[2] == 2 ? scripted::full_toc_reply : scripted::session_info_reply;
    if (reply.empty()) return 0;
    std::memcpy(buffer, reply.data(), std::min<std::size_t>(length, reply.size()));
    return 1;
}
