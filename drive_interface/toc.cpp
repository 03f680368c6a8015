// The table of contents: READ TOC, the TocEntry table, its accessors and the "TOC" listing.
#include <cstdio>
#include <cstring>

#include "cdif_internal.h"

namespace {

constexpr std::uint32_t kReplyLength = 1024;
constexpr int kReadAttempts = 3;
constexpr DWORD kReadyWaitMs = 30000;  // how long a drive may take to become ready
constexpr DWORD kReadyPollMs = 500;
constexpr int kHeaderLength = 4;      // data length (2 bytes), first track, last track
constexpr int kDescriptorLength = 8;
constexpr std::uint8_t kControlDataTrack = 0x04;
constexpr std::uint32_t kFramesPerSecond = 75;
constexpr std::uint32_t kFramesPerMinute = 60 * kFramesPerSecond;
constexpr std::uint32_t kLeadInFrames = 150;  // LBA 0 is 00:02:00

std::uint32_t big_endian_16(const std::uint8_t* bytes) { return (bytes[0] << 8) | bytes[1]; }

std::uint32_t big_endian_32(const std::uint8_t* bytes) {
    return (std::uint32_t{bytes[0]} << 24) | (bytes[1] << 16) | (bytes[2] << 8) | bytes[3];
}

std::int32_t descriptor_lba(const std::uint8_t* reply, int k) {
    return static_cast<std::int32_t>(big_endian_32(reply + kHeaderLength + kDescriptorLength * k + 4));
}

// A reply is used only if it holds every descriptor that its last track number implies
// (tracks 1 to last, then the lead-out), within the buffer and within the table's 99 tracks,
// and those addresses rise strictly within a CD's range. The buffer is zero beyond what the
// drive sent, so a short reply whose data length claims more fails the address check.
bool reply_is_sound(const std::uint8_t* reply) {
    int last = reply[3];
    std::uint32_t needed = kHeaderLength + kDescriptorLength * (last + 1);
    if (last > kMaxTracks || needed > kReplyLength || big_endian_16(reply) + 2 < needed) return false;
    std::int32_t previous = -1;
    for (int k = 0; k <= last; ++k) {
        std::int32_t lba = descriptor_lba(reply, k);
        if (lba <= previous || lba > kMaxLeadOutLba) return false;
        previous = lba;
    }
    return true;
}

bool outside_table(int index) { return drive_count == 0 || index < 0 || index > last_track + 1; }

}  // namespace

int CDIF_ReadTOC() {
    const AspiDevice device = selected_device;
    if (drive_count == 0) return 0;

    std::uint8_t area[kReplyLength + 15];
    std::uint8_t* reply = align16(area);
    // READ TOC, format 0, addresses as LBA, from track 0, allocation length 1024.
    const std::uint8_t cdb[10] = {0x43, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00};
    bool read = false;
    DWORD waited = 0;
    for (int attempt = 0; attempt < kReadAttempts && !read;) {
        const bool sent = CDIF_ExecCommand(reply, kReplyLength, device.host_adapter, device.target, device.lun, cdb,
                                           sizeof cdb);
        read = sent && reply_is_sound(reply);
        // A reply whose first track is not 1 is never sound (the table is indexed by track number
        // from 1); the number is kept for the programs to name.
        if (sent && !read && reply[2] > 1 && reply[2] <= reply[3] && reply[3] <= kMaxTracks)
            refused_first_track = reply[2];
        // A drive that is still becoming ready is asked again after a while, for a bounded time,
        // before it counts as one without a disc; the attempts are counted only after that.
        if (!sent && drive_becoming_ready(last_failure_sense) && waited < kReadyWaitMs) {
            platform::Sleep(kReadyPollMs);
            waited += kReadyPollMs;
        } else {
            ++attempt;
        }
    }
    if (!read) return 0;

    // The disc is the one the table describes now, whatever the drive said before.
    drive_gone = kDriveThere;
    last_track = reply[3];
    if (toc_listing_enabled) {
        toc_listing_file = std::fopen("TOC", "w");
        if (toc_listing_file == nullptr) std::printf("TOC could not be created; the table of contents was not written.\n");
    }
    for (int i = 1; i <= last_track + 1; ++i) {
        if (toc_listing_enabled && toc_listing_file == nullptr) break;
        const std::uint8_t* descriptor = reply + kHeaderLength + kDescriptorLength * (i - 1);
        toc_entries[i].lba = descriptor_lba(reply, i - 1);
        toc_entries[i].is_audio = (descriptor[1] & kControlDataTrack) == 0 ? 1 : 0;
        if (toc_listing_file != nullptr) {
            std::fprintf(toc_listing_file, "Track %02d", i);
            std::fprintf(toc_listing_file, toc_entries[i].is_audio ? " Audio" : " Data");
        }
        // Called for its side effect: with the listing open it writes the track's " MM:SS:FF";
        // the packed time it returns is not needed here.
        CDIF_GetTrackMSF(i);
        if (toc_listing_file != nullptr)
            std::fprintf(toc_listing_file, " LBA=%06d%s", toc_entries[i].lba, platform::kTextLineEnd);
    }
    if (toc_listing_file != nullptr) {
        std::fclose(toc_listing_file);
        toc_listing_file = nullptr;
    }
    return 1;
}

int CDIF_GetLastTrack() { return last_track; }

std::int32_t CDIF_GetTrackLBA(int index) { return outside_table(index) ? 0 : toc_entries[index].lba; }

std::uint32_t CDIF_GetTrackMSF(int index) {
    if (outside_table(index)) return 0;
    // Each part is kept to 8 bits, as it is packed; beyond 255 minutes the time wraps.
    std::uint32_t address = static_cast<std::uint32_t>(toc_entries[index].lba) + kLeadInFrames;
    std::uint32_t minutes = (address / kFramesPerMinute) & 0xFF;
    std::uint32_t rest = address - kFramesPerMinute * minutes;
    std::uint32_t seconds = (rest / kFramesPerSecond) & 0xFF;
    std::uint32_t frames = (rest - kFramesPerSecond * seconds) & 0xFF;
    if (toc_listing_file != nullptr) {
        std::fprintf(toc_listing_file, " %02d", static_cast<int>(minutes));
        std::fprintf(toc_listing_file, ":%02d", static_cast<int>(seconds));
        std::fprintf(toc_listing_file, ":%02d", static_cast<int>(frames));
    }
    std::uint32_t data_mark = toc_entries[index].is_audio ? 0 : kControlDataTrack;
    return (minutes << 24) | (seconds << 16) | (frames << 8) | data_mark;
}
