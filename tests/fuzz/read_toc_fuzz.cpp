// READ TOC replies through the library's own code over the scripted platform: format 0 into the
// table, its accessors and the packed track list (with the "TOC" listing written, or not); formats
// 2 and 1 into the extraction programs' track ends. The input is a flag byte (bit 0: listing on),
// 2 bytes of format 0 reply length, that reply, 16 bytes of format 1 reply, and the format 2 reply.
#include "fuzz_harness.h"
#include "library_support.h"
#include "track_end.h"
#include "track_list.h"

int toc_listing_enabled = 0;
int use_aspi() { return 0; }

namespace {

using Bytes = std::vector<std::uint8_t>;

std::int32_t be32(const Bytes& reply, std::size_t i) {
    return static_cast<std::int32_t>(disc_image::get_be(reply, i, 4));
}
std::int32_t msf_lba(std::uint32_t m, std::uint32_t s, std::uint32_t f) {
    return static_cast<std::int32_t>((m * 60 + s) * 75 + f) - 150;
}

// What a table of contents (as the 1024-byte buffer holds it) must be to be used: every
// descriptor that the last track number implies within the data length, at most 99 tracks,
// addresses rising strictly up to 100:00:00.
bool acceptable(const Bytes& toc) {
    const std::size_t last = toc[3];
    if (last > 99 || (toc[0] << 8 | toc[1]) + 2u < 4 + 8 * (last + 1)) return false;
    for (std::size_t k = 0; k <= last; ++k) {
        const std::int32_t lba = be32(toc, 8 + 8 * k), previous = k == 0 ? -1 : be32(toc, 8 * k);
        if (lba <= previous || lba > 449850) return false;
    }
    return true;
}

// The accessors and the packed track list give the reply's tracks.
void check_table(const Bytes& toc) {
    const int last = toc[3];
    FUZZ_CHECK(CDIF_GetLastTrack() == last && CDIF_GetTrackLBA(last + 2) == 0);
    for (int i = 1; i <= last + 1; ++i) {
        const std::int32_t lba = be32(toc, 8 * i);  // descriptor i - 1
        const bool data = (toc[8 * i - 3] & 0x04) != 0;
        const std::uint32_t msf = CDIF_GetTrackMSF(i);
        FUZZ_CHECK(CDIF_GetTrackLBA(i) == lba && (msf & 0xFF) == (data ? 4u : 0u) &&
                   msf_lba(msf >> 24, msf >> 16 & 0xFF, msf >> 8 & 0xFF) == lba);
        const TrackRecord& record = track_list.records[i];
        FUZZ_CHECK(track_record_lba(record) == lba && record.audio == (i <= last && !data ? 1 : 0));
    }
}

// Whether a full table of contents that the library used names lba as a session's lead-out, its
// times read as binary or as BCD.
bool names_lead_out(const Bytes& full_toc, std::int32_t lba) {
    const std::size_t end = std::min<std::size_t>(full_toc.size(), (full_toc[0] << 8 | full_toc[1]) + 2u);
    for (std::size_t d = 4; d + 11 <= end; d += 11)
        for (const bool bcd : {false, true}) {
            const auto n = [&](std::size_t i) { return full_toc[d + i] - (bcd ? full_toc[d + i] / 16 * 6u : 0u); };
            if (full_toc[d + 1] >> 4 == 1 && full_toc[d + 3] == 0xA2 && msf_lba(n(8), n(9), n(10)) == lba) return true;
        }
    return false;
}

// Without a usable full table, a track before the track the session information names as the
// first of a later session ends a session gap early (11400 before the second session, 6900
// before a later one), or at the next track when that is not after its start; an audio track
// before a data track ends 225 sectors early; any other track at the next. With one, a track ends
// at the next track, 225 sectors short of a data track after an audio track, or at a lead-out the
// table names between its start and the next track's.
void check_track_ends(const Bytes& info, const Bytes& full_toc) {
    const bool sound = (info[0] << 8 | info[1]) >= 10 && be32(info, 8) >= 0 && be32(info, 8) < 449850;
    for (int track = 1; track <= CDIF_GetLastTrack(); ++track) {
        const TrackRecord& next = track_list.records[track + 1];
        const std::int32_t start = track_record_lba(track_list.records[track]);
        const std::int32_t next_start = track_record_lba(next);
        const bool before_data = track_list.records[track].audio == 1 && next.number != 0 && next.audio == 0;
        const std::int32_t end = track_end(track);
        const bool later_session = sound && info[3] > info[2] && info[6] == next.number && next.number != 0;
        const std::int32_t gap_end = next_start - (info[3] == 2 ? 11400 : 6900);
        FUZZ_CHECK(session_table.known
                       ? end == next_start || (before_data && end == next_start - 225) ||
                             (end > start && end < next_start && names_lead_out(full_toc, end))
                   : later_session ? end == (gap_end > start ? gap_end : next_start)
                                   : end == next_start - (before_data ? 225 : 0));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The listing is written in the current folder: this process's own.
    [[maybe_unused]] static const bool entered = (FUZZ_CHECK(chdir(scratch_folder().c_str()) == 0), true);
    FuzzInput input{{data, size}};
    toc_listing_enabled = input.byte() & 1;
    // Each reply as the library's buffer holds it: a short one is zero-filled there.
    Bytes toc = input.bytes(input.number(2)), sessions = input.bytes(16), full_toc = input.bytes(8192);
    toc.resize(1024);
    sessions.resize(16);

    fresh_library();
    session_table = {};
    use_spti = 1;
    drive_count = 1;
    drive_letters[0] = 'D';
    int full_toc_asked = 0;
    scripted::script().pass_through = [&](HANDLE, const SCSI_PASS_THROUGH_DIRECT& sptd) {
        full_toc_asked += sptd.Cdb[2] == 2;
        const int format = sptd.Cdb[2] & 0x0F;
        return scripted::PassThroughReply{TRUE, 0, format == 2 ? full_toc : format == 1 ? sessions : toc};
    };
    std::filesystem::remove("TOC");

    const int read = CDIF_ReadTOC();
    FUZZ_CHECK(read == (acceptable(toc) ? 1 : 0));
    // A refused reply leaves no table and no listing.
    FUZZ_CHECK(read || (CDIF_GetLastTrack() == 0 && !std::filesystem::exists("TOC")));
    if (!read) return 0;
    build_track_list();
    check_table(toc);
    check_track_ends(sessions, full_toc);
    FUZZ_CHECK(full_toc_asked == (CDIF_GetLastTrack() > 1 ? 1 : 0));  // once, and only when needed
    return 0;
}
