// Bad images: each one is named in one line on standard error, with the cue sheet line where
// one applies, and the drive then behaves as a drive without a disc.
#include "disc.h"
#include "drive_helpers.h"
#include "wave_chunks.h"

using namespace disc_image_test;
using test_support::chunk;
using test_support::fmt_chunk;
using test_support::riff_wave;

namespace {

constexpr std::size_t kRaw = 2352;
const std::string kHead = "FILE d.bin BINARY\nTRACK 01 AUDIO\n";

struct Malformed {
    const char* name;
    std::string image;      // the entry's file, in the test folder
    std::string text;       // its content
    std::size_t bin_size;   // bytes of zeros in d.bin; no d.bin when 0
    int line;               // expected line, 0 for none
    const char* message;    // expected part of the message
    std::string wav = {};   // content of d.wav; none when empty
};

std::string many_tracks(int count) {
    std::string text = "FILE d.bin BINARY\n";
    for (int i = 1; i <= count; ++i)
        text += "TRACK " + std::to_string(i) + " AUDIO\nINDEX 01 00:" + std::to_string(i / 75) + ":" + std::to_string(i % 75) + "\n";
    return text;
}

const std::string kWaveSheet = "FILE d.wav WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n";
const std::string kSamples = chunk("data", std::string(kRaw, 's'));
const std::string kTwoSectors = riff_wave(fmt_chunk() + chunk("data", std::string(2 * kRaw, 's')));

const Malformed kMalformed[] = {
    {"missing bin", "d.cue", kHead + "INDEX 01 00:00:00\n", 0, 1, "cannot open"},
    {"binary sheet", "d.cue", std::string("\x7F" "ELF\x02\x01\x01\0\0\0", 10), kRaw, 1, "binary data"},
    {"endless line", "d.cue", "REM " + std::string(100000, 'x') + "\n", kRaw, 1, "line longer than"},
    {"unknown command", "d.cue", kHead + "INDEX 01 00:00:00\nFROBNICATE 3\n", kRaw, 4, "unknown command"},
    {"open quote", "d.cue", "FILE \"d.bin BINARY\n", kRaw, 1, "unterminated"},
    {"track before file", "d.cue", "TRACK 01 AUDIO\n", kRaw, 1, "before any FILE"},
    {"track skipped", "d.cue", kHead + "INDEX 01 00:00:00\nTRACK 03 AUDIO\n", kRaw * 9, 4, "out of order"},
    {"track zero", "d.cue", "FILE d.bin BINARY\nTRACK 00 AUDIO\n", kRaw, 2, "out of range"},
    {"100 tracks", "d.cue", many_tracks(100), kRaw * 200, 200, "out of range"},
    {"index before 01", "d.cue", kHead + "INDEX 02 00:00:00\n", kRaw, 3, "out of order"},
    {"index 00 after 01", "d.cue", kHead + "INDEX 01 00:00:00\nINDEX 00 00:00:01\n", kRaw * 9, 4, "out of order"},
    {"index 100", "d.cue", kHead + "INDEX 100 00:00:00\n", kRaw, 3, "out of range"},
    {"time goes back", "d.cue", kHead + "INDEX 01 00:00:05\nTRACK 02 AUDIO\nINDEX 01 00:00:04\n", kRaw * 9, 5, "after"},
    {"seconds 60", "d.cue", kHead + "INDEX 01 00:60:00\n", kRaw, 3, "seconds out of range"},
    {"frames 75", "d.cue", kHead + "INDEX 01 00:00:75\n", kRaw, 3, "frames out of range"},
    {"negative", "d.cue", kHead + "INDEX 01 -1:00:00\n", kRaw, 3, "not a time"},
    {"letters", "d.cue", kHead + "INDEX 01 xx:yy:0\n", kRaw, 3, "not a time"},
    {"overflow", "d.cue", kHead + "INDEX 01 00:00:99999999999999999999\n", kRaw, 3, "frames out of range"},
    {"minutes 100", "d.cue", kHead + "PREGAP 100:00:00\n", kRaw, 3, "minutes out of range"},
    {"short time", "d.cue", kHead + "INDEX 01 00:00\n", kRaw, 3, "not a time (MM:SS:FF)"},
    {"no index 01", "d.cue", kHead + "INDEX 00 00:00:00\n", kRaw, 2, "no INDEX 01"},
    {"no track", "d.cue", "FILE d.bin BINARY\n", kRaw, 1, "no TRACK"},
    {"unsupported track", "d.cue", "FILE d.bin BINARY\nTRACK 01 MODE2/2336\n", kRaw, 2, "not supported"},
    {"aiff file", "d.cue", "FILE d.aif AIFF\n", kRaw, 1, "not supported"},
    {"pregap after index", "d.cue", kHead + "INDEX 01 00:00:00\nPREGAP 00:02:00\n", kRaw, 4, "PREGAP"},
    {"session 3 after 1", "d.cue", kHead + "INDEX 01 00:00:00\nREM SESSION 03\n", kRaw, 4, "session 3"},
    {"file without index", "d.cue", kHead + "INDEX 01 00:00:00\nFILE d.bin BINARY\n", kRaw, 4, "without any INDEX"},
    {"bin too short", "d.cue", kHead + "INDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 01 00:00:20\n", kRaw * 10, 5, "shorter"},
    {"index at bin end", "d.cue", kHead + "INDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 01 00:00:10\n", kRaw * 10, 5, "shorter"},
    {"partial sector", "d.cue", kHead + "INDEX 01 00:00:00\n", kRaw * 10 + 5, 1, "whole 2352-byte"},
    {"empty bin", "d.cue", kHead + "INDEX 01 00:00:00\n", 0, 1, "cannot open"},
    {"folder as bin", "d.cue", "FILE . BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n", kRaw, 1, "cannot open"},
    {"session gap too short", "d.cue", kHead + "INDEX 01 00:00:00\nREM SESSION 02\nTRACK 02 AUDIO\nPREGAP 03:00:00\n"
                                               "INDEX 01 00:00:01\n", kRaw * 2, 5, "longer than the gap"},
    {"wave of another kind", "d.cue", kWaveSheet, 0, 1, "d.wav\" is not a RIFF/WAVE file", std::string(kRaw, 'x')},
    {"wave header cut", "d.cue", kWaveSheet, 0, 1, "has a fmt chunk cut short", riff_wave(fmt_chunk()).substr(0, 30)},
    {"float wave", "d.cue", kWaveSheet, 0, 1, "holds format 3, 2 channels, 44100 Hz, 32 bits", riff_wave(fmt_chunk(3, 2, 44100, 32) + kSamples)},
    {"mono 48 kHz wave", "d.cue", kWaveSheet, 0, 1, "not 16-bit stereo PCM at 44100 Hz", riff_wave(fmt_chunk(1, 1, 48000) + kSamples)},
    {"wave without samples", "d.cue", kWaveSheet, 0, 1, "has no data chunk", riff_wave(fmt_chunk() + chunk("LIST", "x"))},
    {"wave samples first", "d.cue", kWaveSheet, 0, 1, "data chunk before the fmt chunk", riff_wave(kSamples + fmt_chunk())},
    {"wave samples cut", "d.cue", kWaveSheet, 0, 1, "cut short (2352 of 4704 bytes)", kTwoSectors.substr(0, kTwoSectors.size() - kRaw)},
    {"wave partial sector", "d.cue", kWaveSheet, 0, 1, "whole 2352-byte", riff_wave(fmt_chunk() + chunk("data", std::string(kRaw + 4, 's')))},
    {"data track in wave", "d.cue", "FILE d.wav WAVE\nTRACK 01 MODE1/2352\nINDEX 01 00:00:00\n", 0, 3, "data track, which WAVE file \"d.wav\"", kTwoSectors},
    {"empty sheet", "d.cue", "", kRaw, 0, "empty"},
    {"sheet named .cue", ".cue", "", kRaw, 0, "the cue sheet is empty"},
    {"sheet over 1 MiB", "d.cue", std::string((1 << 20) + 1, '\n'), kRaw, 0, "too large"},
    {"empty iso", "d.iso", "", 0, 0, "empty"},
    {"odd iso", "d.iso", std::string(2049, 'x'), 0, 0, "2048-byte"},
};

class MalformedImage : public testing::TestWithParam<Malformed> {};

TEST_P(MalformedImage, IsReportedOnceAndServedAsNoDisc) {
    const Malformed& bad = GetParam();
    TempDir dir;
    dir.write(bad.image, bad.text);
    if (bad.bin_size > 0) dir.write("d.bin", std::string(bad.bin_size, '\0'));
    if (!bad.wav.empty()) dir.write("d.wav", bad.wav);

    auto loaded = disc_image::load_image(dir / bad.image);
    auto* error = std::get_if<disc_image::ImageError>(&loaded);
    ASSERT_NE(error, nullptr) << "accepted";
    EXPECT_EQ(error->file, (dir / bad.image).string());
    EXPECT_EQ(error->line, bad.line) << error->message;
    EXPECT_NE(error->message.find(bad.message), std::string::npos) << error->message;

    testing::internal::CaptureStderr();
    auto drive = disc_image::EmulatedDrive::from_entry((dir / bad.image).string());
    std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1) << printed;
    EXPECT_NE(printed.find(error->text()), std::string::npos) << printed;
    EXPECT_LT(printed.size(), 400u);
    EXPECT_TRUE(drive->can_open());
    EXPECT_TRUE(has_sense(run(*drive, read_toc_cdb(false, 0, 0, 1024)).reply, 2, 0x3A, 0));
}

std::string row_name(const testing::TestParamInfo<Malformed>& info) {
    std::string name = info.param.name;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Table, MalformedImage, testing::ValuesIn(kMalformed), row_name);

TEST(MissingImage, CueSheetThatDoesNotExist) {
    testing::internal::CaptureStderr();
    auto drive = disc_image::EmulatedDrive::from_entry("/nonexistent/folder/disc.cue?bad=3");
    std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(printed, "disc image /nonexistent/folder/disc.cue: cannot open the cue sheet\n");
    EXPECT_TRUE(has_sense(run(*drive, {0, 0, 0, 0, 0, 0}).reply, 2, 0x3A, 0));

    testing::internal::CaptureStderr();
    drive = disc_image::EmulatedDrive::from_entry("disc.cue?fast");
    printed = testing::internal::GetCapturedStderr();
    EXPECT_NE(printed.find("unknown option \"fast\""), std::string::npos) << printed;
    EXPECT_TRUE(has_sense(run(*drive, {0, 0, 0, 0, 0, 0}).reply, 2, 0x3A, 0));

    // A huge entry is shown by its start and its end.
    const std::string huge = "/nonexistent/" + std::string(100000, 'x') + "/disc.cue";
    for (const std::string& entry : {huge, huge + "?fast"}) {
        testing::internal::CaptureStderr();
        disc_image::EmulatedDrive::from_entry(entry);
        printed = testing::internal::GetCapturedStderr();
        EXPECT_LT(printed.size(), 400u);
        for (const char* part : {"/nonexistent/x", "x...x", "x/disc.cue"}) EXPECT_NE(printed.find(part), std::string::npos) << part;
    }
}

}  // namespace
