// READ TOC replies through the library's own code over the scripted platform: format 0 into the
// table, its accessors, the "TOC" listing and the packed track list; formats 2 and 1 into the
// extraction programs' track ends. The input is a flag byte (bit 0: listing on), 2 bytes of
// format 0 reply length, that reply, 16 bytes of format 1 reply, and the format 2 reply.
#include <fstream>
#include <iterator>

#include "fuzz_harness.h"
#include "library_support.h"
#include "track_end.h"
#include "track_list.h"

int toc_listing_enabled = 0;
int use_aspi() { return 0; }

namespace {

std::uint32_t at(const std::vector<std::uint8_t>& reply, std::size_t i) { return i < reply.size() ? reply[i] : 0; }
std::uint32_t be32(const std::vector<std::uint8_t>& reply, std::size_t i) {
    return at(reply, i) << 24 | at(reply, i + 1) << 16 | at(reply, i + 2) << 8 | at(reply, i + 3);
}

// What a table of contents (as the 1024-byte buffer holds it) must be to be used: every
// descriptor that the last track number implies within the data length, at most 99 tracks,
// addresses rising strictly up to 100:00:00.
bool acceptable(const std::vector<std::uint8_t>& reply) {
    const std::size_t last = reply[3];
    const std::size_t needed = 4 + 8 * (last + 1);
    if (last > 99 || needed > 1024 || (reply[0] << 8 | reply[1]) + 2u < needed) return false;
    std::int64_t previous = -1;
    for (std::size_t k = 0; k <= last; ++k) {
        const auto lba = static_cast<std::int32_t>(be32(reply, 8 + 8 * k));
        if (lba <= previous || lba > 449850) return false;
        previous = lba;
    }
    return true;
}

void check_table(const std::vector<std::uint8_t>& reply) {
    const int last = reply[3];
    FUZZ_CHECK(CDIF_GetLastTrack() == last && CDIF_GetTrackLBA(last + 2) == 0);
    build_track_list();
    for (int i = 1; i <= last + 1; ++i) {
        const auto lba = static_cast<std::int32_t>(be32(reply, 8 + 8 * (i - 1)));
        const bool data = (reply[4 + 8 * (i - 1) + 1] & 0x04) != 0;
        const std::uint32_t msf = CDIF_GetTrackMSF(i);
        FUZZ_CHECK(CDIF_GetTrackLBA(i) == lba && (msf & 0xFF) == (data ? 4u : 0u) &&
                   static_cast<std::int32_t>(((msf >> 24) * 60 + (msf >> 16 & 0xFF)) * 75 + (msf >> 8 & 0xFF)) - 150 == lba);
        if (i >= kTrackRecords) continue;
        const TrackRecord& record = track_list.records[i];
        FUZZ_CHECK(track_record_lba(record) == lba && record.audio == (i <= last && !data ? 1 : 0));
    }
    if (toc_listing_enabled) {
        std::ifstream listing("TOC", std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(listing)), std::istreambuf_iterator<char>());
        FUZZ_CHECK(std::count(text.begin(), text.end(), '\n') == last + 1);
    }
}

// Whether the full table of contents names lba as a session's lead-out (ADR 1, point A2).
bool names_lead_out(const std::vector<std::uint8_t>& full_toc, std::int32_t lba) {
    const std::size_t end = std::min<std::size_t>(full_toc.size(), (at(full_toc, 0) << 8 | at(full_toc, 1)) + 2u);
    for (std::size_t d = 4; d + 11 <= end; d += 11)
        if (full_toc[d + 1] >> 4 == 1 && full_toc[d + 3] == 0xA2 &&
            (full_toc[d + 8] * 60 + full_toc[d + 9]) * 75 + full_toc[d + 10] - 150 == lba)
            return true;
    return false;
}

// Without a usable full table, an audio track before a data track ends 225 sectors early, or a
// session gap early when the session information names the data track as the first of a later
// session; any other track at the next. With one, a track ends at the next track, 225 sectors
// short of a data track after an audio track, or at a lead-out the table names between its start
// and the next track's. The full table is asked for once.
void check_track_ends(const std::vector<std::uint8_t>& sessions, const std::vector<std::uint8_t>& full_toc) {
    const auto session_lba = static_cast<std::int32_t>(be32(sessions, 8));
    const bool sound = (at(sessions, 0) << 8 | at(sessions, 1)) >= 10 && session_lba >= 0 && session_lba < 449850;
    for (int track = 1; track <= CDIF_GetLastTrack() && track + 1 < kTrackRecords; ++track) {
        const TrackRecord& next = track_list.records[track + 1];
        const std::int32_t start = track_record_lba(track_list.records[track]);
        const std::int32_t next_start = track_record_lba(next);
        const bool before_data = track_list.records[track].audio == 1 && next.number != 0 && next.audio == 0;
        const std::int32_t end = track_end(track);
        if (session_table.known) {
            FUZZ_CHECK(end == next_start || (before_data && end == next_start - 225) ||
                       (end > start && end < next_start && names_lead_out(full_toc, end)));
            continue;
        }
        const bool later_session = sound && at(sessions, 3) > at(sessions, 2) && at(sessions, 6) == next.number;
        FUZZ_CHECK(end == next_start - (before_data ? (later_session ? 11400 : 225) : 0));
    }
    std::size_t asked = 0;
    for (const scripted::Call& call : scripted::calls_to("DeviceIoControl"))
        asked += scripted::record_of<PassThroughBlock>(call).sptd.Cdb[2] == 2;
    FUZZ_CHECK(asked == (CDIF_GetLastTrack() > 1 ? 1u : 0u));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool entered = chdir(scratch_folder().c_str()) == 0;  // where the listing is written
    FUZZ_CHECK(entered);
    FuzzInput input(data, size);
    toc_listing_enabled = input.byte() & 1;
    const std::vector<std::uint8_t> toc = input.bytes(input.number(2));
    const std::vector<std::uint8_t> sessions = input.bytes(16);
    const std::vector<std::uint8_t> full_toc = input.bytes(8192);

    reset_library_state();
    scripted::reset();
    session_table = {};
    use_spti = 1;
    drive_count = 1;
    drive_letters[0] = 'D';
    device_handle = reinterpret_cast<HANDLE>(std::uintptr_t{0x2000});
    scripted::script().pass_through = [&](HANDLE, const SCSI_PASS_THROUGH_DIRECT& sptd) {
        if (sptd.Cdb[0] != 0x43) return scripted::PassThroughReply{FALSE, 0, {}};
        const int format = sptd.Cdb[2] & 0x0F;
        return scripted::PassThroughReply{TRUE, 0, format == 2 ? full_toc : format == 1 ? sessions : toc};
    };
    std::filesystem::remove("TOC");

    const int read = CDIF_ReadTOC();
    std::vector<std::uint8_t> buffer = toc;  // as the library's buffer holds the reply
    buffer.resize(1024);
    FUZZ_CHECK(read == (acceptable(buffer) ? 1 : 0));
    if (!read) {
        FUZZ_CHECK(CDIF_GetLastTrack() == 0 && CDIF_GetTrackLBA(1) == 0 && !std::filesystem::exists("TOC"));
        return 0;
    }
    check_table(buffer);
    check_track_ends(sessions, full_toc);
    return 0;
}
