// palvane: extracts every audio track into a WAV file "%02d.wav" in the current directory.
#pragma once

#include <cstdint>

#include "cdif.h"
inline constexpr int kWavHeaderSize = 44;

// Reads count raw CD-DA sectors from first_lba into buffer with READ CD. Returns 1.
int read_audio_sectors(std::uint8_t* buffer, std::int32_t first_lba, std::int32_t count);

// Writes the WAV file of every audio track whose file is not yet complete. Returns 1.
int rip_audio_tracks();

// The 44-byte WAV header of a track of count sectors (a count below zero counts as zero).
void fill_wav_header(std::uint8_t* header, std::int32_t count);
std::int64_t wav_file_size(std::int32_t count);
