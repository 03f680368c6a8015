// An independent check: the tracks palvane and tremick write hold the same data as the tracks
// bchunk cuts from the image's bin file, short of the gaps palvane leaves out before a data track.
#include <cstdlib>
#include <string>

#include "extraction_fixture.h"

namespace {

class AgainstBchunk : public Extraction {
protected:
    // Runs bchunk on the image, its WAV files with headers, into root/bchunk01.wav, ...
    void run_bchunk() {
        std::string command = "cd '" + root.string() + "' && bchunk -w images/disc.bin images/disc.cue bchunk >/dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }
    Bytes bchunk_file(const std::string& name) const {
        return program_test::read_file<Bytes>(root / ("bchunk" + name));
    }
    static Bytes after_header(const Bytes& wav) { return Bytes(wav.begin() + 44, wav.end()); }
    static Bytes without_last_sectors(const Bytes& data, int sectors) {
        return Bytes(data.begin(), data.end() - static_cast<std::ptrdiff_t>(sectors) * 2352);
    }
};

TEST_F(AgainstBchunk, MixedDiscOfOneSession) {
    make_disc({{TrackKind::audio, 300}, {TrackKind::audio, 400}, {TrackKind::mode1_2352, 300}});
    run_bchunk();
    run(kPalvane);
    run(kTremick);
    EXPECT_EQ(after_header(file("01.wav")), after_header(bchunk_file("01.wav")));
    EXPECT_EQ(after_header(file("02.wav")), without_last_sectors(after_header(bchunk_file("02.wav")), 225));
    EXPECT_EQ(file("03.iso"), bchunk_file("03.iso"));
}

TEST_F(AgainstBchunk, EnhancedDisc) {
    TrackSpec data_session{TrackKind::mode1_2352, 100};
    data_session.session = 2;
    make_disc({{TrackKind::audio, 300}, {TrackKind::audio, 200}, data_session});
    run_bchunk();
    run(kPalvane);
    run(kTremick);
    // The 11400 sectors left out lie between the sessions, which the bin file does not hold.
    EXPECT_EQ(after_header(file("01.wav")), after_header(bchunk_file("01.wav")));
    EXPECT_EQ(after_header(file("02.wav")), after_header(bchunk_file("02.wav")));
    EXPECT_EQ(file("03.iso"), bchunk_file("03.iso"));
}

}  // namespace
