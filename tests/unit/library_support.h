// What the unit tests share: a fixture that gives each case a fresh library and platform,
// one that runs a case inside a fresh temporary directory, and READ TOC replies.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "cdif_internal.h"
#include "scripted_platform.h"

// Puts every process-wide variable of the library back to its value at process start.
void reset_library_state();

class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override;
};

// Runs each case in a fresh temporary directory, the working directory of the "TOC" listing.
class InTempDirectory : public LibraryTest {
protected:
    void SetUp() override;
    void TearDown() override;
    std::string read_file(const std::string& name) const;

    std::filesystem::path previous_;
    std::filesystem::path directory_;
};

struct TrackSpec {
    std::int32_t lba;
    bool data = false;
};

// A well-formed READ TOC reply (format 0, LBA): tracks 1 to n, then the lead-out.
std::vector<std::uint8_t> toc_reply(const std::vector<TrackSpec>& tracks, TrackSpec lead_out);

// Makes the scripted ASPI layer the library's transport, as CDIF_Init would after loading it,
// and starts the script and the record of calls afresh.
void use_scripted_aspi_layer();

// A pass-through handler that answers READ TOC with the reply and fails everything else.
scripted::PassThroughHandler answer_read_toc(std::vector<std::uint8_t> reply);
