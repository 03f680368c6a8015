// Runs palvane or tremick in a fresh folder on a disc image built for the test, and gives what
// the image holds to compare the written files with.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "disc_builder.h"
#include "program_run.h"

using Bytes = std::vector<std::uint8_t>;
using test_support::TrackKind;
using test_support::TrackSpec;

inline constexpr const char* kPalvane = PALVANE_PATH;
inline constexpr const char* kTremick = TREMICK_PATH;

struct Outcome {
    int status;
    std::string output;  // standard output
};

class Extraction : public ::testing::Test {
protected:
    // Builds the disc the runs read.
    void make_disc(const std::vector<TrackSpec>& tracks);
    // Runs the program in out with CDIF_DRIVES naming the disc, followed by options ("?bad=...").
    Outcome run(const char* program, const std::string& options = "");

    // The data of sectors first to end (exclusive) as the image holds them.
    Bytes sectors(std::int32_t first, std::int32_t end, bool audio) const;
    Bytes audio(std::int32_t first, std::int32_t end) const { return sectors(first, end, true); }
    Bytes user_data(std::int32_t first, std::int32_t end) const { return sectors(first, end, false); }
    // A WAV file as palvane should write it for sectors first to end.
    Bytes wav(std::int32_t first, std::int32_t end) const;

    Bytes file(const std::string& name) const;
    void write_file(const std::string& name, const Bytes& content) const;
    std::vector<std::string> listing() const;  // names in out, sorted

    program_test::Workspace space;
    const std::filesystem::path root = space.root();
    const std::filesystem::path out = space.work();  // the programs' current directory
    test_support::BuiltDisc disc;
};

// The 44-byte WAV header for a track of count sectors.
Bytes wav_header(std::int32_t count);

// Sectors [first, end) of bytes made of sector_size pieces, the pieces in the given list zeroed.
Bytes zero_sectors(Bytes data, int sector_size, std::int32_t first, const std::vector<std::int32_t>& lbas);
