// The audio tracks as the shared track loop extracts them.
#include "palvane.h"

#include "sector_reader.h"
#include "track_ripper.h"

namespace {

std::uint8_t audio_chunk[kChunkSectors * kRawSectorSize];

const TrackExtraction kAudioTracks = {
    .audio_mark = 1,
    .file_name_format = "%02d.wav",
    .sector_size = kRawSectorSize,
    .chunk = audio_chunk,
    .other_mode = "data",
    .hidden_track = true,
    .read_sectors = read_audio_sectors,
    .header_size = kWavHeaderSize,
    .fill_header = fill_wav_header,
    .complete_size = wav_file_size,
    .writer_waits_on = &request_busy,
    .loop_sets_flag = false,
};

}  // namespace

int rip_audio_tracks() { return rip_tracks(kAudioTracks); }
