// Where each track's file begins and ends, and what it holds.
#include "extraction_fixture.h"

namespace {

using Strings = std::vector<std::string>;

TEST_F(Extraction, AudioEndsAtNextAudioTrackAndShortOfDataTrackInSameSession) {
    make_disc({{TrackKind::audio, 300}, {TrackKind::audio, 400}, {TrackKind::mode1_2352, 300}});
    Outcome result = run(kPalvane);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(listing(), (Strings{"01.wav", "02.wav"}));
    EXPECT_EQ(file("01.wav"), wav(0, 300));
    EXPECT_EQ(file("02.wav"), wav(300, 700 - 225));
}

TEST_F(Extraction, LastAudioTrackIsReadToTheLeadOut) {
    make_disc({{TrackKind::mode1_2048, 200}, {TrackKind::audio, 300}, {TrackKind::audio, 250}});
    EXPECT_EQ(run(kPalvane).status, 1);
    EXPECT_EQ(listing(), (Strings{"02.wav", "03.wav"}));
    EXPECT_EQ(file("02.wav"), wav(200, 500));
    EXPECT_EQ(file("03.wav"), wav(500, 750));
}

TEST_F(Extraction, AudioBeforeDataSessionEndsWithItsSession) {
    TrackSpec data_session{TrackKind::mode1_2352, 100};
    data_session.session = 2;
    make_disc({{TrackKind::audio, 300}, {TrackKind::audio, 200}, data_session});
    ASSERT_EQ(disc.tracks[2].start, 500 + 11400);
    EXPECT_EQ(run(kPalvane).status, 1);
    EXPECT_EQ(file("02.wav"), wav(300, 500));

    EXPECT_EQ(run(kTremick).status, 1);
    EXPECT_EQ(file("03.iso"), user_data(11900, 12000));
}

TEST_F(Extraction, DataTrackEndsAtTheNextTrackOrTheLeadOut) {
    make_disc({{TrackKind::mode1_2048, 200}, {TrackKind::audio, 300}, {TrackKind::mode1_2352, 150}});
    Outcome result = run(kTremick);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(listing(), (Strings{"01.iso", "03.iso"}));
    EXPECT_EQ(file("01.iso"), user_data(0, 200));     // 2048-byte sectors, up to the audio track
    EXPECT_EQ(file("03.iso"), user_data(500, 650));   // raw Mode 1 sectors, up to the lead-out
}

TEST_F(Extraction, WavHeaderFields) {
    make_disc({{TrackKind::audio, 300}});
    run(kPalvane);
    const Bytes expected = {
        'R', 'I', 'F', 'F', 0x64, 0xC4, 0x0A, 0x00,              // 300 * 2352 + 36
        'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0,     // format chunk of 16 bytes
        1, 0, 2, 0,                                              // PCM, two channels
        0x44, 0xAC, 0x00, 0x00, 0x10, 0xB1, 0x02, 0x00,          // 44100 Hz, 176400 bytes/s
        4, 0, 16, 0,                                             // block align, bits per sample
        'd', 'a', 't', 'a', 0x40, 0xC4, 0x0A, 0x00};             // 300 * 2352
    Bytes written = file("01.wav");
    ASSERT_EQ(written.size(), 44u + 300 * 2352);
    EXPECT_EQ(Bytes(written.begin(), written.begin() + 44), expected);
}

TEST_F(Extraction, TrackTooShortForTheDataGapGivesAnEmptyFile) {
    make_disc({{TrackKind::audio, 100}, {TrackKind::mode1_2048, 100}});
    Outcome result = run(kPalvane);
    EXPECT_EQ(result.output, "Reading Track 01 ( remainder 0 ).\n");  // count -125
    EXPECT_EQ(file("01.wav"), wav_header(0));
    EXPECT_EQ(run(kPalvane).output, "");  // the header alone is complete
}

}  // namespace
