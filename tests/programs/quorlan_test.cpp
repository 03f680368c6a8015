// quorlan end to end: the real program on disc images, its "TOC" compared with the expected listing.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <sstream>

#include "disc_builder.h"
#include "program_run.h"

using namespace program_test;
using test_support::TrackKind;

namespace {

const std::string kQuorlan = QUORLAN_PATH;

std::string toc_of(const Workspace& space) { return read_file(space.work() / "TOC"); }

// No drive: exit status 0; drives without a disc: 1, and a listing left by an earlier run stays,
// which standard error says with why each drive gave none. The first drive with a disc replaces it
// (one spinning up is waited for): the sample disc with its data track's POSTGAP and an INDEX 00,
// the enhanced CD with its second session after the session gap.
TEST(Quorlan, ListsTheFirstDriveWithADisc) {
    Workspace space;
    const std::string earlier(300, '.');
    const std::tuple<std::string, int, std::string, std::string> cases[] = {
        {"", 0, earlier, ""},
        {"empty;empty?noopen", 1, earlier,
         "No drive holds a readable disc: D: (empty) has no disc; E: (empty?noopen) cannot be opened: No such device. "
         "The TOC in this folder is from an earlier run.\n"},
        {"empty;" CDIF_SAMPLE_DIR "/sample.cue?spinup=5", 1, "Track 01 Data 00:02:00 LBA=000000\r\n"
                                                   "Track 02 Audio 00:06:35 LBA=000335\r\n"
                                                   "Track 03 Audio 00:12:35 LBA=000785\r\n"
                                                   "Track 04 Audio 00:15:35 LBA=001010\r\n"
                                                   "Track 05 Audio 00:20:35 LBA=001385\r\n"
                                                   "Track 06 Audio 00:22:35 LBA=001535\r\n", ""},
        {CDIF_SAMPLE_DIR "/enhanced.cue", 1, "Track 01 Audio 00:02:00 LBA=000000\r\n"
                                             "Track 02 Data 02:40:00 LBA=011850\r\n"
                                             "Track 03 Data 02:42:25 LBA=012025\r\n", ""},
    };
    for (const auto& [drives, status, listing, err] : cases) {
        std::ofstream(space.work() / "TOC") << earlier;
        ProgramRun run = run_program(space, kQuorlan, drives);
        EXPECT_EQ(run.exit_code, status) << drives;
        EXPECT_EQ(run.out, "") << drives;
        EXPECT_EQ(run.err, err) << drives;
        EXPECT_EQ(toc_of(space), listing) << drives;
    }
}

// CDIF_TRACE=-: a line per command on standard error. A drive without a disc fails each of the
// three READ TOC attempts twice (sent again after reopening the drive); the next drive answers at
// once. A folder called TOC keeps the listing from being written, which standard output says.
TEST(Quorlan, TraceShowsEveryCommand) {
    Workspace space;
    std::filesystem::create_directory(space.work() / "TOC");
    auto disc = test_support::build_disc(space.images(), "traced", {{TrackKind::audio, 75}});
    ProgramRun run = run_program(space, kQuorlan, "empty;" + disc.cue.string(), "CDIF_TRACE=-");
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.out, "TOC could not be created; the table of contents was not written.\n");
    const std::string read_toc = " | 43 00 00 00 00 00 00 04 00 00 | in 1024, got ";
    std::string expected;
    for (int i = 0; i < 6; ++i) expected += "D: empty" + read_toc + "0 | status 02 sense 02/3a/00\n";
    EXPECT_EQ(run.err, expected + "E: " + disc.cue.string() + read_toc + "20 | status 00\n");
}

// libcdio's cd-info reads the same cue sheet on its own: its track starts and kinds must agree, on
// a disc of every track kind with INDEX 00 sectors and on one of 99 tracks.
TEST(Quorlan, AgreesWithCdInfo) {
    std::vector<test_support::TrackSpec> many;
    for (int i = 1; i <= 99; ++i) many.push_back({i == 1 ? TrackKind::mode1_2352 : TrackKind::audio, 50 + i});
    const std::vector<test_support::TrackSpec> discs[] = {
        {{TrackKind::mode1_2352, 400}, {TrackKind::audio, 333, 150}, {TrackKind::audio, 1, 0},
         {TrackKind::audio, 4600, 75}, {TrackKind::mode2_2352, 300, 150}},
        many};
    for (const auto& tracks : discs) {
        Workspace space;
        auto disc = test_support::build_disc(space.images(), "independent", tracks);
        ASSERT_EQ(run_program(space, kQuorlan, disc.cue.string()).exit_code, 1);

        const auto listing = space.root() / "cd-info.txt";
        const std::string command = shell_quoted(CD_INFO_PATH) + " --no-device-info --no-cddb --no-analyze" +
                                    " --cue-file " + shell_quoted(disc.cue.string()) +
                                    " >" + shell_quoted(listing.string());
        ASSERT_EQ(std::system(command.c_str()), 0);
        // "  2: 00:08:00  000450 audio  ...", "5: ... XA ..." and "170: 00:12:00  000750 leadout ...".
        std::regex row(R"(^\s*(\d+): (\d\d:\d\d:\d\d)\s+(\d+) (\w+))");
        std::istringstream text(read_file(listing));
        std::string expected, line, kind;
        int number = 0;
        for (std::smatch match; std::getline(text, line);) {
            if (!std::regex_search(line, match, row)) continue;
            number = match[1] == "170" ? number + 1 : std::stoi(match[1]);
            if (match[4] != "leadout") kind = match[4] == "audio" ? "Audio" : "Data";  // data or XA
            // (the lead-out is marked like the last track)
            char expected_line[64];
            std::snprintf(expected_line, sizeof expected_line, "Track %02d %s %s LBA=%06d\r\n", number,
                          kind.c_str(), match[2].str().c_str(), std::stoi(match[3]));
            expected += expected_line;
        }
        EXPECT_EQ(number, static_cast<int>(tracks.size()) + 1);
        EXPECT_EQ(toc_of(space), expected);
    }
}

}  // namespace
