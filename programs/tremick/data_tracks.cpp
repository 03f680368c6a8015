// The data tracks as the shared track loop extracts them.
#include "tremick.h"

#include "track_ripper.h"

namespace {

std::uint8_t data_chunk[kChunkSectors * kDataSectorSize];

// No header: a complete image is exactly its sectors.
std::int64_t image_size(std::int32_t count) { return static_cast<std::int64_t>(count) * kDataSectorSize; }

const TrackExtraction kDataTracks = {
    .audio_mark = 0,
    .file_name_format = "%02d.iso",
    .sector_size = kDataSectorSize,
    .chunk = data_chunk,
    .other_mode = "audio",
    .hidden_track = false,
    .read_sectors = read_data_sectors,
    .header_size = 0,
    .fill_header = nullptr,
    .complete_size = image_size,
    .writer_waits_on = &transfer_pending,
    .loop_sets_flag = true,
};

}  // namespace

int rip_data_tracks() { return rip_tracks(kDataTracks); }
