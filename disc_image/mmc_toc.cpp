// READ TOC: format 0 (track descriptors and the lead-out) and format 1 (session information),
// with addresses as LBA or as time, and format 2 (the full table of contents), always as time,
// in binary or, as the entry asks, in BCD or refused.
#include <algorithm>

#include "mmc_drive.h"

namespace disc_image {
namespace {

constexpr std::uint8_t kAdrPosition = 0x10;  // ADR 1: the Q sub-channel carries the position
constexpr std::uint8_t kLeadOutTrack = 0xAA;
constexpr std::uint8_t kFirstTrackPoint = 0xA0;  // full TOC: PMIN is the session's first track
constexpr std::uint8_t kLastTrackPoint = 0xA1;   // PMIN is its last track
constexpr std::uint8_t kLeadOutPoint = 0xA2;     // PMIN:PSEC:PFRAME is its lead-out
constexpr std::uint8_t kDiscTypeCdRom = 0x00;    // A0's PSEC: CD-DA or CD-ROM
constexpr std::uint8_t kDiscTypeXa = 0x20;       // CD-ROM XA (Mode 2 tracks)

void put_address(std::vector<std::uint8_t>& out, std::int32_t lba, bool msf) {
    if (!msf) return put_be(out, static_cast<std::uint32_t>(lba), 4);
    Msf time = lba_to_msf(lba);
    out.insert(out.end(), {0, time.minutes, time.seconds, time.frames});
}

void put_descriptor(std::vector<std::uint8_t>& out, std::uint8_t control, std::uint8_t track, std::int32_t lba, bool msf) {
    out.insert(out.end(), {0, static_cast<std::uint8_t>(kAdrPosition | control), track, 0});
    put_address(out, lba, msf);
}

// A full TOC descriptor: session, ADR 1 and control, TNO 0, the point, MIN:SEC:FRAME 0 (the
// time in the lead-in, which a drive need not report), ZERO, then PMIN, PSEC and PFRAME.
void put_point(std::vector<std::uint8_t>& out, int session, std::uint8_t control, std::uint8_t point, Msf p) {
    out.insert(out.end(), {static_cast<std::uint8_t>(session), static_cast<std::uint8_t>(kAdrPosition | control), 0,
                           point, 0, 0, 0, 0, p.minutes, p.seconds, p.frames});
}

// The reply as some drives give it: track points and times in BCD, as the Q sub-channel holds
// them. A0's PSEC, the disc type, is a code and stays.
void encode_in_bcd(std::vector<std::uint8_t>& out) {
    for (std::size_t at = 4; at + 11 <= out.size(); at += 11) {
        std::uint8_t* point = &out[at + 3];
        if (*point < kFirstTrackPoint) *point = to_bcd(*point);
        for (std::size_t time = 8; time < 11; ++time)
            if (time != 9 || *point != kFirstTrackPoint) out[at + time] = to_bcd(out[at + time]);
    }
}

// The data length field counts the bytes after itself.
void set_data_length(std::vector<std::uint8_t>& out) {
    auto length = static_cast<std::uint16_t>(out.size() - 2);
    out[0] = static_cast<std::uint8_t>(length >> 8);
    out[1] = static_cast<std::uint8_t>(length);
}

}  // namespace

MmcDrive::Outcome MmcDrive::read_toc(Request& request) {
    bool msf = (request.cdb[1] & 0x02) != 0;
    int format = request.cdb[2] & 0x0F;
    if (format == 0) format = request.cdb[9] >> 6;  // the older place of the format field
    if (format == 0) return read_toc_tracks(request, msf);
    if (format == 1) return read_toc_sessions(request, msf);
    if (format == 2) return read_full_toc(request);
    return Failure{kInvalidFieldInCdb, std::nullopt};
}

MmcDrive::Outcome MmcDrive::read_toc_tracks(Request& request, bool msf) {
    const std::vector<Track>& tracks = disc_->tracks();
    int starting = request.cdb[6];
    if (starting != kLeadOutTrack && starting > tracks.back().number) return Failure{kInvalidFieldInCdb, std::nullopt};
    std::vector<std::uint8_t>& out = request.reply;
    out = {0, 0, static_cast<std::uint8_t>(tracks.front().number), static_cast<std::uint8_t>(tracks.back().number)};
    if (starting != kLeadOutTrack)
        for (const Track& track : tracks)
            if (track.number >= starting)
                put_descriptor(out, track.control, static_cast<std::uint8_t>(track.number), track.start, msf);
    put_descriptor(out, tracks.back().control, kLeadOutTrack, disc_->lead_out(), msf);
    set_data_length(out);
    return std::nullopt;
}

MmcDrive::Outcome MmcDrive::read_toc_sessions(Request& request, bool msf) {
    const Session& last = disc_->sessions().back();
    const Track& first_track = disc_->tracks()[last.first_track];
    std::vector<std::uint8_t>& out = request.reply;
    out = {0, 0, 1, static_cast<std::uint8_t>(last.number)};
    put_descriptor(out, first_track.control, static_cast<std::uint8_t>(first_track.number), first_track.start, msf);
    set_data_length(out);
    return std::nullopt;
}

MmcDrive::Outcome MmcDrive::read_full_toc(Request& request) {
    if (faults_.full_toc() == FullTocReply::none) return Failure{kInvalidFieldInCdb, std::nullopt};
    const std::vector<Track>& tracks = disc_->tracks();
    const std::vector<Session>& sessions = disc_->sessions();
    int starting = std::max<int>(request.cdb[6], 1);
    if (starting > sessions.back().number) return Failure{kInvalidFieldInCdb, std::nullopt};
    bool xa = std::any_of(tracks.begin(), tracks.end(), [](const Track& t) { return t.mode == TrackMode::mode2_2352; });
    std::vector<std::uint8_t>& out = request.reply;
    out = {0, 0, static_cast<std::uint8_t>(sessions.front().number), static_cast<std::uint8_t>(sessions.back().number)};
    for (std::size_t s = 0; s < sessions.size(); ++s) {
        const Session& session = sessions[s];
        if (session.number < starting) continue;
        std::size_t end = s + 1 < sessions.size() ? sessions[s + 1].first_track : tracks.size();
        const Track& first = tracks[session.first_track];
        const Track& last = tracks[end - 1];
        put_point(out, session.number, first.control, kFirstTrackPoint,
                  {static_cast<std::uint8_t>(first.number), xa ? kDiscTypeXa : kDiscTypeCdRom, 0});
        put_point(out, session.number, last.control, kLastTrackPoint, {static_cast<std::uint8_t>(last.number), 0, 0});
        put_point(out, session.number, last.control, kLeadOutPoint, lba_to_msf(session.lead_out));
        for (std::size_t t = session.first_track; t < end; ++t)
            put_point(out, session.number, tracks[t].control, static_cast<std::uint8_t>(tracks[t].number),
                      lba_to_msf(tracks[t].start));
    }
    if (faults_.full_toc() == FullTocReply::bcd) encode_in_bcd(out);
    set_data_length(out);
    return std::nullopt;
}

}  // namespace disc_image
