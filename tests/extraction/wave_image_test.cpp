// A sheet of WAVE files, one per track, as rippers write it: palvane gives their samples back.
#include <fstream>

#include "extraction_fixture.h"
#include "wave_chunks.h"

namespace {

using test_support::chunk;
using test_support::fmt_chunk;
using test_support::riff_wave;

// Samples that differ from byte to byte, sector to sector and file to file.
std::string samples(int sectors, int seed) {
    std::string data(static_cast<std::size_t>(sectors) * 2352, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 2352 + seed);
    return data;
}

TEST_F(Extraction, SheetOfWaveFilesGivesTheirSamplesBack) {
    const std::string first = riff_wave(fmt_chunk() + chunk("data", samples(300, 1)));
    const std::string second_samples = samples(400, 2);
    // Other chunks around the samples, one of odd length; the sheet names the file in another case.
    const std::string second =
        riff_wave(chunk("LIST", "INFOrip") + fmt_chunk() + chunk("data", second_samples) + chunk("id3 ", "tag"));
    auto write = [this](const std::string& name, const std::string& content) {
        std::ofstream(space.images() / name, std::ios::binary) << content;
    };
    write("01 Intro.wav", first);
    write("02 Song.WAV", second);
    write("rip.cue", "FILE \"01 Intro.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                     "FILE \"02 song.wav\" WAVE\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n");
    disc.cue = space.images() / "rip.cue";

    EXPECT_EQ(run(kPalvane).status, 1);
    EXPECT_EQ(file("01.wav"), Bytes(first.begin(), first.end()));  // its header is the one palvane writes
    Bytes expected = wav_header(400);
    expected.insert(expected.end(), second_samples.begin(), second_samples.end());
    EXPECT_EQ(file("02.wav"), expected);
}

}  // namespace
