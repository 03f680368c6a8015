// Where each track's file begins and ends, and what it holds: compared with the image, and with
// the tracks bchunk cuts from the image's bin file.
#include <cstdlib>
#include <map>

#include "extraction_fixture.h"

namespace {

using Strings = std::vector<std::string>;

TrackSpec in_session(TrackSpec track, int session) {
    track.session = session;
    return track;
}

struct Range {
    std::int32_t first, end;  // sectors [first, end) of the track's file
};

struct TrackEnds {
    const char* name;
    std::vector<TrackSpec> disc;
    std::map<std::string, Range> files;  // every file palvane and tremick write
};

const TrackSpec kAudio300{TrackKind::audio, 300};
const TrackSpec kAudio200{TrackKind::audio, 200};
const TrackSpec kData100{TrackKind::mode1_2352, 100};

const TrackEnds kTrackEnds[] = {
    // An audio track ends at the next audio track, 225 sectors short of a data track of its
    // session, and at the lead-out; a data track at the next track or the lead-out.
    {"MixedDisc", {kAudio300, {TrackKind::audio, 400}, {TrackKind::mode1_2352, 300}},
     {{"01.wav", {0, 300}}, {"02.wav", {300, 700 - 225}}, {"03.iso", {700, 1000}}}},
    {"DataFirst", {{TrackKind::mode1_2352, 200}, kAudio300, {TrackKind::audio, 250}, {TrackKind::mode1_2352, 150}},
     {{"01.iso", {0, 200}}, {"02.wav", {200, 500}}, {"03.wav", {500, 750 - 225}}, {"04.iso", {750, 900}}}},
    // A track before a later session ends at its own session's lead-out: 11400 sectors before
    // the second session, 6900 before a later one.
    {"EnhancedCd", {kAudio300, kAudio200, in_session(kData100, 2)},
     {{"01.wav", {0, 300}}, {"02.wav", {300, 500}}, {"03.iso", {11900, 12000}}}},
    {"TwoAudioSessions", {kAudio300, in_session(kAudio200, 2)}, {{"01.wav", {0, 300}}, {"02.wav", {11700, 11900}}}},
    {"ThreeSessions", {kAudio300, in_session(kAudio200, 2), in_session(kData100, 3)},
     {{"01.wav", {0, 300}}, {"02.wav", {11700, 11900}}, {"03.iso", {18800, 18900}}}},
};

class TrackEndsOnDiscs : public Extraction, public ::testing::WithParamInterface<TrackEnds> {
protected:
    Bytes bchunk_file(const std::string& name) const {
        return program_test::read_file<Bytes>(root / ("bchunk" + name));
    }
};

TEST_P(TrackEndsOnDiscs, FilesHoldTheirTracksExactly) {
    make_disc(GetParam().disc);
    for (const char* program : {kPalvane, kTremick}) {
        Outcome result = run(program);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.output.find("could not"), std::string::npos) << result.output;
    }
    std::string command = "cd '" + root.string() + "' && bchunk -w images/disc.bin images/disc.cue bchunk >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);

    Strings names;
    for (const auto& [name, range] : GetParam().files) {
        names.push_back(name);
        bool audio = name.ends_with(".wav");
        Bytes written = file(name);
        EXPECT_EQ(written, audio ? wav(range.first, range.end) : user_data(range.first, range.end)) << name;
        // bchunk's track runs on to the next track in the bin file; ours is the same data, or less of it.
        Bytes theirs = bchunk_file(name);
        std::size_t skip = audio ? 44 : 0;
        ASSERT_LE(written.size() - skip, theirs.size() - skip) << name;
        EXPECT_TRUE(std::equal(written.begin() + skip, written.end(), theirs.begin() + skip)) << name;
    }
    EXPECT_EQ(listing(), names);
}

INSTANTIATE_TEST_SUITE_P(Discs, TrackEndsOnDiscs, ::testing::ValuesIn(kTrackEnds),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(Extraction, TrackTooShortForTheDataGapGivesAnEmptyFile) {
    make_disc({{TrackKind::audio, 100}, {TrackKind::mode1_2048, 100}});
    Outcome result = run(kPalvane);
    EXPECT_EQ(result.output, "Reading Track 01 ( remainder 0 ).\n");  // count -125
    EXPECT_EQ(file("01.wav"), wav_header(0));
    EXPECT_EQ(run(kPalvane).output, "");  // the header alone is complete
}

}  // namespace
