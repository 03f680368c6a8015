#include "track_ripper.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "cdif.h"
#include "platform.h"
#include "sector_reader.h"
#include "track_end.h"
#include "track_list.h"

namespace {

constexpr const char* kProgress = "Reading Track %s ( remainder %d ).\n";

bool write_all(std::FILE* file, const std::uint8_t* data, std::size_t size) {
    return std::fwrite(data, 1, size, file) == size;
}

// What became of the disc or the drive, as the report of a track says it.
std::string drive_gone_text() {
    char drive[256];
    CDIF_DriveName(current_drive, drive, sizeof drive);
    if (drive_gone == kDiscRemoved) return std::string("the disc was removed from ") + drive;
    if (drive_gone == kDiscChanged) return std::string("the disc in ") + drive + " was changed";
    std::string text = std::string("the drive ") + drive + " could not be opened again";
    return drive_gone_error != 0 ? text + " (" + std::strerror(drive_gone_error) + ")" : text;
}

void rip_track(const TrackExtraction& kind, int track) {
    char label[16];
    char file_name[32];
    std::snprintf(label, sizeof label, track < 10 ? "0%d" : "%d", track);
    std::snprintf(file_name, sizeof file_name, kind.file_name_format, track);

    std::int32_t start = track_record_lba(track_list.records[track]);  // record 0 is zero: track 0 starts at 0
    bool no_usable_sessions = false;
    const std::int32_t end = track_end(track, &no_usable_sessions);
    std::int32_t count = end - start;
    // Gone while the track's end was looked up: nothing of the track was read.
    if (drive_gone != kDriveThere) {
        std::printf("Track %s: %s before the track was read; the next run reads it.\n", label, drive_gone_text().c_str());
        return;
    }

    platform::FileStat status{};
    if (platform::_stat(file_name, &status) == 0 && status.st_size == kind.complete_size(count)) return;

    std::FILE* file = std::fopen(file_name, "wb");
    if (!file) {
        std::printf("Track %s: %s could not be created; the track was not extracted.\n", label, file_name);
        return;
    }

    bool written = true;
    if (kind.header_size > 0) {
        std::uint8_t header[kMaxHeaderSize] = {};
        kind.fill_header(header, count);
        written = write_all(file, header, static_cast<std::size_t>(kind.header_size));
    }
    std::printf(kProgress, label, count / 100 + 1);

    unreadable_sectors = {};
    other_mode_tail = {};
    const std::size_t chunk_size = static_cast<std::size_t>(kChunkSectors) * kind.sector_size;
    while (written && start < end) {
        const std::int32_t sectors = std::min(count, kChunkSectors);
        std::memset(kind.chunk, 0, chunk_size);
        if (kind.loop_sets_flag) *kind.writer_waits_on = 1;
        kind.read_sectors(kind.chunk, start, sectors);
        // Once the disc is gone, only the sectors read before are written: the file stays short.
        const bool gone = drive_gone != kDriveThere;
        const std::int32_t kept = gone ? disc_gone_lba - start : sectors;
        start += sectors;
        const std::int32_t remaining = end - start;
        if (!gone) std::printf(kProgress, label, remaining / 100);
        wait_while_set(*kind.writer_waits_on);
        written = write_all(file, kind.chunk, static_cast<std::size_t>(kept) * kind.sector_size);
        count = remaining;
        if (gone) break;
    }
    if (std::fclose(file) != 0) written = false;

    // A short file is redone by the next run, since its size is not the complete size.
    if (!written) {
        std::printf("Track %s: %s could not be written; the next run writes it again.\n", label, file_name);
        return;
    }
    if (drive_gone != kDriveThere) {
        std::printf("Track %s: %s at LBA %d; %s is incomplete, and the next run writes it again.\n", label,
                    drive_gone_text().c_str(), disc_gone_lba, file_name);
        return;
    }
    if (no_usable_sessions)
        std::printf("Track %s: the drive gave no usable table of sessions; %s runs to the next track's start.\n",
                    label, file_name);
    if (unreadable_sectors.count > 0)
        std::printf("Track %s: %d sectors could not be read (LBA %d to %d); they are zero in %s.\n", label,
                    unreadable_sectors.count, unreadable_sectors.first_lba, unreadable_sectors.last_lba, file_name);
    // Refused as of another mode up to the end: the next track's pregap, not damage.
    if (other_mode_tail.count > 0)
        std::printf("Track %s: the last %d sectors are the next track's %s pregap; they are zero in %s.\n", label,
                    other_mode_tail.count, kind.other_mode, file_name);
}

// Track 0 is extracted only when the sectors before track 1 hold sound: many discs start track 1
// a few dozen sectors in, in silence. Sectors there that the drive refuses cost no file and one line.
bool holds_hidden_track(const TrackExtraction& kind) {
    const HiddenTrackProbe probe = probe_hidden_track(kind.read_sectors, kind.chunk);
    if (probe.found == HiddenTrack::refused)
        std::printf("Track 00: the sectors before track 1 could not be read (LBA %d); 00.wav was not written.\n",
                    probe.refused_lba);
    return probe.found == HiddenTrack::audio;
}

}  // namespace

int rip_tracks(const TrackExtraction& kind) {
    int last = CDIF_GetLastTrack();
    if (last < 1) return 1;
    // Record last + 1 ends the last track; the list holds records up to a 99-track disc's lead-out.
    last = std::min(last, kTrackRecords - 2);
    for (int track = kind.hidden_track ? 0 : 1; track <= last; ++track) {
        if (track == 0 ? !holds_hidden_track(kind) : track_list.records[track].audio != kind.audio_mark) continue;
        rip_track(kind, track);
        // No later track is read from a drive whose disc went away.
        if (drive_gone != kDriveThere) break;
    }
    return 1;
}
