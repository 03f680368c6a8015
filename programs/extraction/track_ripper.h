// The track loop both extraction programs run: for every track of one kind, work out its
// sectors, skip it when its file is already complete, else read it in chunks of up to 32
// sectors and write each chunk to the file. What the programs differ in is a TrackExtraction.
// The audio loop also has track 0 ("00"), the sound a disc may hide before track 1.
#pragma once

#include <cstdint>

inline constexpr int kChunkSectors = 32;
inline constexpr int kMaxHeaderSize = 64;

struct TrackExtraction {
    std::uint8_t audio_mark;       // the record's audio byte of the tracks to extract
    const char* file_name_format;  // takes the track number
    int sector_size;
    std::uint8_t* chunk;           // kChunkSectors * sector_size bytes
    const char* other_mode;        // what sectors the read refuses as of another mode hold
    bool hidden_track;             // track 0, sound before an audio track 1, is extracted too

    // Reads count sectors from first_lba into the buffer.
    int (*read_sectors)(std::uint8_t* buffer, std::int32_t first_lba, std::int32_t count);

    // Writes the header of a track of count sectors (header_size bytes, at most kMaxHeaderSize).
    int header_size;
    void (*fill_header)(std::uint8_t* header, std::int32_t count);  // null when header_size is 0

    // The size of a complete file for a track of count sectors.
    std::int64_t (*complete_size)(std::int32_t count);

    // The handshake between reading a chunk and writing it. The reader holds request_busy while
    // it fills its request, and clears a command's pending_flag (tremick's transfer_pending)
    // when the transfer is over. Before writing a chunk the loop waits while writer_waits_on is
    // set: palvane names request_busy, tremick names transfer_pending, which the loop sets
    // before each read. Every read is synchronous: read_sectors returns with both flags already
    // clear, so none of these waits ever sleeps.
    int* writer_waits_on;  // the writer waits while this flag is set before writing a chunk
    bool loop_sets_flag;   // the loop sets that flag before each read (the reader clears it)
};

// Extracts every track of the kind into its file in the current directory. Returns 1.
int rip_tracks(const TrackExtraction& kind);
