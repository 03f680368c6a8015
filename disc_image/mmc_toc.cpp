// READ TOC: format 0 (track descriptors and the lead-out) and format 1 (session information),
// with addresses as LBA or as time.
#include "mmc_drive.h"

namespace disc_image {
namespace {

constexpr std::uint8_t kAdrPosition = 0x10;  // ADR 1: the Q sub-channel carries the position
constexpr std::uint8_t kLeadOutTrack = 0xAA;

void put_address(std::vector<std::uint8_t>& out, std::int32_t lba, bool msf) {
    if (!msf) return put_be(out, static_cast<std::uint32_t>(lba), 4);
    Msf time = lba_to_msf(lba);
    out.insert(out.end(), {0, time.minutes, time.seconds, time.frames});
}

void put_descriptor(std::vector<std::uint8_t>& out, std::uint8_t control, std::uint8_t track, std::int32_t lba, bool msf) {
    out.insert(out.end(), {0, static_cast<std::uint8_t>(kAdrPosition | control), track, 0});
    put_address(out, lba, msf);
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

}  // namespace disc_image
