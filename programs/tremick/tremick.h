// tremick: extracts every data track into an image file "%02d.iso" of 2048-byte sectors in the
// current directory.
#pragma once

#include <cstdint>

#include "cdif.h"

// Set by the track loop before it asks for a chunk; cleared by the reader when the chunk's
// transfer is over. The loop waits on it before writing the chunk.
extern int transfer_pending;

// Reads count user-data sectors from first_lba into buffer with READ(10). Returns 1.
int read_data_sectors(std::uint8_t* buffer, std::int32_t first_lba, std::int32_t count);

// Writes the image of every data track whose file is not yet complete. Returns 1.
int rip_data_tracks();
