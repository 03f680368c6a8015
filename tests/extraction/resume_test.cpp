// A second run skips files of the exact complete size and redoes every other file.
#include "extraction_fixture.h"

namespace {

class Resume : public Extraction {
protected:
    void SetUp() override {
        Extraction::SetUp();
        make_disc({{TrackKind::audio, 40}, {TrackKind::audio, 260}, {TrackKind::mode1_2352, 40}});
        ASSERT_EQ(run(kPalvane).status, 1);
        ASSERT_EQ(run(kTremick).status, 1);
        ASSERT_EQ(file("01.wav"), wav(0, 40));
        ASSERT_EQ(file("03.iso"), user_data(300, 340));
    }
};

TEST_F(Resume, CompleteFilesAreLeftUntouchedAndSilent) {
    // Same size, other content: a complete file is not read back, so this must survive.
    Bytes marked = file("01.wav");
    marked[100] ^= 0xFF;
    write_file("01.wav", marked);
    Bytes image = file("03.iso");
    image[5] ^= 0xFF;
    write_file("03.iso", image);

    EXPECT_EQ(run(kPalvane).output, "");
    EXPECT_EQ(run(kTremick).output, "");
    EXPECT_EQ(file("01.wav"), marked);
    EXPECT_EQ(file("03.iso"), image);
}

TEST_F(Resume, FilesOneByteLongerOrShorterAreRewritten) {
    Bytes longer = file("02.wav");
    longer.push_back(0);
    write_file("02.wav", longer);
    Bytes shorter = file("03.iso");
    shorter.pop_back();
    write_file("03.iso", shorter);

    Outcome audio_run = run(kPalvane);
    EXPECT_EQ(audio_run.output.find("Track 01"), std::string::npos);
    EXPECT_EQ(audio_run.output.rfind("Reading Track 02 ( remainder 1 ).\n", 0), 0u);
    EXPECT_EQ(file("02.wav"), wav(40, 300 - 225));
    EXPECT_NE(run(kTremick).output, "");
    EXPECT_EQ(file("03.iso"), user_data(300, 340));
}

TEST_F(Resume, EmptyImageIsRewrittenWhenTheTrackHasSectors) {
    write_file("03.iso", {});
    EXPECT_EQ(run(kTremick).output.rfind("Reading Track 03 ( remainder 1 ).\n", 0), 0u);
    EXPECT_EQ(file("03.iso"), user_data(300, 340));
}

}  // namespace
