// A second run skips files of the exact complete size and redoes every other file.
#include <functional>

#include "extraction_fixture.h"

namespace {

TEST_F(Extraction, SecondRunSkipsOnlyFilesOfTheCompleteSize) {
    make_disc({{TrackKind::audio, 40}, {TrackKind::audio, 260}, {TrackKind::mode1_2352, 40}});
    ASSERT_EQ(run(kPalvane).status, 1);
    ASSERT_EQ(run(kTremick).status, 1);
    const struct {
        const char* name;
        std::function<void(Bytes&)> change;
        bool kept;  // a complete file is not read back: same size, other content survives
    } changes[] = {
        {"01.wav", [](Bytes& b) { b[100] ^= 0xFF; }, true},
        {"03.iso", [](Bytes& b) { b[5] ^= 0xFF; }, true},
        {"02.wav", [](Bytes& b) { b.push_back(0); }, false},
        {"03.iso", [](Bytes& b) { b.pop_back(); }, false},
        {"03.iso", [](Bytes& b) { b.clear(); }, false},
    };
    for (const auto& change : changes) {
        const Bytes complete = file(change.name);
        Bytes changed = complete;
        change.change(changed);
        write_file(change.name, changed);
        Outcome result = run(std::string(change.name).ends_with(".wav") ? kPalvane : kTremick);
        if (change.kept) {
            EXPECT_EQ(result.output, "") << change.name;
            EXPECT_EQ(file(change.name), changed) << change.name;
            write_file(change.name, complete);
        } else {
            const std::string track(change.name, 2);
            EXPECT_EQ(result.output.rfind("Reading Track " + track + " ( remainder 1 ).\n", 0), 0u) << result.output;
            EXPECT_EQ(file(change.name), complete) << change.name;
        }
    }
    EXPECT_EQ(file("02.wav"), wav(40, 300 - 225));
    EXPECT_EQ(file("03.iso"), user_data(300, 340));
}

}  // namespace
