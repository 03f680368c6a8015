#include "scripted_library.h"

#include <algorithm>
#include <cstring>

#include "cdif.h"
#include "track_list.h"

namespace scripted {

std::vector<ScriptedTrack> toc;
bool session_request_refused = false;
std::uint8_t last_session = 1;
std::uint8_t first_track_of_last_session = 1;
std::uint32_t last_session_lba = 0;
std::vector<std::vector<std::uint8_t>> session_requests;

void load(std::vector<ScriptedTrack> tracks) {
    toc = std::move(tracks);
    session_requests.clear();
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
AspiDevice selected_device{};

int CDIF_ExecCommand(std::uint8_t* buffer, std::uint32_t length, int, int, int, const std::uint8_t* cdb,
                     std::uint8_t cdb_length) {
    if (cdb[0] == 0x28) {  // READ(10): every byte is the low byte of the LBA
        std::memset(buffer, cdb[5], length);
        return 1;
    }
    scripted::session_requests.emplace_back(cdb, cdb + cdb_length);
    if (scripted::session_request_refused) return 0;
    const std::uint32_t lba = scripted::last_session_lba;
    const std::uint8_t reply[12] = {0, 10, 1, scripted::last_session, 0, 0x14, scripted::first_track_of_last_session, 0,
                                    static_cast<std::uint8_t>(lba >> 24), static_cast<std::uint8_t>(lba >> 16),
                                    static_cast<std::uint8_t>(lba >> 8), static_cast<std::uint8_t>(lba)};
    std::memcpy(buffer, reply, std::min<std::uint32_t>(length, sizeof reply));
    return 1;
}
