// Progress lines, track labels, and a disc with the most tracks a CD can hold.
#include "extraction_fixture.h"

namespace {

TEST_F(Extraction, ProgressOfA250SectorTrack) {
    make_disc({{TrackKind::audio, 250}});
    EXPECT_EQ(run(kPalvane).output,
              "Reading Track 01 ( remainder 3 ).\n"   // before the first chunk: 250 / 100 + 1
              "Reading Track 01 ( remainder 2 ).\n"   // 218 left
              "Reading Track 01 ( remainder 1 ).\n"
              "Reading Track 01 ( remainder 1 ).\n"
              "Reading Track 01 ( remainder 1 ).\n"   // 122 left
              "Reading Track 01 ( remainder 0 ).\n"
              "Reading Track 01 ( remainder 0 ).\n"
              "Reading Track 01 ( remainder 0 ).\n"   // 26 left
              "Reading Track 01 ( remainder 0 ).\n");
}

TEST_F(Extraction, NinetyNineTracks) {
    std::vector<TrackSpec> tracks(99, TrackSpec{TrackKind::audio, 3});
    tracks[49].kind = TrackKind::mode1_2048;  // track 50
    tracks[48].sectors = 230;                 // track 49 keeps 5 sectors before it
    make_disc(tracks);

    Outcome result = run(kPalvane);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(listing().size(), 98u);
    EXPECT_NE(result.output.find("Reading Track 09 ( remainder 0 ).\nReading Track 10 ( remainder 1 ).\n"),
              std::string::npos);
    EXPECT_EQ(file("09.wav"), wav(disc.tracks[8].start, disc.tracks[8].end));
    EXPECT_EQ(file("49.wav"), wav(disc.tracks[48].start, disc.tracks[48].end - 225));
    // The last track ends at the lead-out, which the track list keeps after track 99.
    EXPECT_EQ(file("99.wav"), wav(disc.tracks[98].start, disc.lead_out));
    EXPECT_TRUE(result.output.ends_with("Reading Track 99 ( remainder 0 ).\n"));

    EXPECT_EQ(run(kTremick).output, "Reading Track 50 ( remainder 1 ).\nReading Track 50 ( remainder 0 ).\n");
    EXPECT_EQ(file("50.iso"), user_data(disc.tracks[49].start, disc.tracks[49].end));
}

}  // namespace
