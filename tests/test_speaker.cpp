#include <cmath>

// The PC speaker: tone divisors, notes, beat lengths and the argument rules,
// observed on the simulated PIT and port 0x61 in virtual time.
#include "sim/speaker.h"
#include "sim_fixture.h"

using namespace vek;
using namespace vek::test;

namespace {

class SpeakerTest : public SimBoardTest {
protected:
    void SetUp() override {
        Use(RowWhere([](const PlatformEntry& r) { return r.chipKind == KIND_EC; }));
        ASSERT_EQ(Init(), VEK_OK);
        Lib().primary.caps[CAP_SPEAKER] = 1;
        speaker = board->Find<sim::PcSpeaker>();
        ASSERT_NE(speaker, nullptr);
    }
    double LastToneMs() const {
        const auto& t = speaker->tones().back();
        return double(t.endNs - t.startNs) / 1e6;
    }
    sim::PcSpeaker* speaker = nullptr;
};

TEST_F(SpeakerTest, MetronomeBeatLengths) {
    const std::pair<int32_t, int32_t> cases[] = {{-5, 3000}, {19, 3000}, {20, 3000}, {120, 500},
                                                 {1000, 60}, {1001, 60}, {INT32_MAX, 60}};
    for (auto [bpm, ms] : cases) {
        EXPECT_EQ(VEK_HWM_SetMetronome(bpm), VEK_OK);
        EXPECT_EQ(Lib().primary.beatMs, ms) << bpm;
    }
}

TEST_F(SpeakerTest, NotePlaysItsFrequencyForItsBeats) {
    ASSERT_EQ(VEK_HWM_SetMetronome(120), VEK_OK); // 500 ms a beat
    ASSERT_EQ(VEK_HWM_PlayNote(2, 1, 0, 1.5), VEK_OK);
    ASSERT_EQ(speaker->tones().size(), 1u);
    EXPECT_EQ(speaker->tones()[0].divisor, 1140); // 1193180 / 1046.50 (C6), truncated
    EXPECT_NEAR(LastToneMs(), 750, 0.1);
    EXPECT_FALSE(speaker->sounding());

    const struct { uint32_t octave, degree, sharp; uint16_t divisor; } notes[] = {
        {0xFFFFFFFF, 1, 0, 9121}, // C3 130.81 Hz
        {0, 6, 0, 2711},          // A4 440 Hz
        {1, 4, 1, 1612},          // F#5 739.99 Hz
    };
    for (const auto& n : notes) {
        ASSERT_EQ(VEK_HWM_PlayNote(n.octave, n.degree, n.sharp, 0.01), VEK_OK);
        EXPECT_EQ(speaker->tones().back().divisor, n.divisor);
    }
}

TEST_F(SpeakerTest, UnknownNotesGive15) {
    const uint32_t bad[][3] = {{2, 2, 0}, {0, 3, 1}, {0, 7, 1}, {3, 1, 0}, {0, 0, 0}, {0, 8, 0}, {0, 1, 2}};
    for (const auto& n : bad) EXPECT_EQ(VEK_HWM_PlayNote(n[0], n[1], n[2], 1), VEK_ERR_SPEAKER_ARGUMENT);
    EXPECT_TRUE(speaker->tones().empty());
    ASSERT_EQ(VEK_HWM_SetMetronome(60), VEK_OK);
    EXPECT_EQ(VEK_HWM_PlayNote(0, 1, 0, std::nan("")), VEK_ERR_SPEAKER_ARGUMENT);
    EXPECT_EQ(VEK_HWM_PlayNote(0, 1, 0, 1e300), VEK_ERR_ARGUMENT); // longer than any tone
}

TEST_F(SpeakerTest, BeepChecksSecondsBeforeFrequency) {
    EXPECT_EQ(VEK_HWM_SetBeep(1.0, 0), VEK_ERR_SPEAKER_ARGUMENT);
    EXPECT_EQ(VEK_HWM_SetBeep(499.9, 1), VEK_ERR_SPEAKER_ARGUMENT);
    EXPECT_EQ(VEK_HWM_SetBeep(10000.1, 1), VEK_ERR_SPEAKER_ARGUMENT);
    EXPECT_EQ(VEK_HWM_SetBeep(std::nan(""), 1), VEK_ERR_SPEAKER_ARGUMENT);
    EXPECT_TRUE(speaker->tones().empty());
    ASSERT_EQ(VEK_HWM_SetBeep(10000, 3), VEK_OK);
    EXPECT_EQ(speaker->tones().back().divisor, 119);
    EXPECT_NEAR(LastToneMs(), 3000, 0.1);
}

TEST_F(SpeakerTest, StartAndStopLeaveTheOtherPortBBitsAlone) {
    ASSERT_EQ(VEK_HWM_StartBeep(500), VEK_OK);
    EXPECT_TRUE(speaker->sounding());
    EXPECT_EQ(speaker->ReadPort(sim::PcSpeaker::kPortB, 1) & 0x20, 0x20u);
    EXPECT_EQ(VEK_HWM_StartBeep(400), VEK_ERR_SPEAKER_ARGUMENT);
    ASSERT_EQ(VEK_HWM_StopBeep(), VEK_OK);
    EXPECT_FALSE(speaker->sounding());
    EXPECT_EQ(speaker->ReadPort(sim::PcSpeaker::kPortB, 1), 0x20u);
}

TEST_F(SpeakerTest, SpeakerWordSelectsTheSource) {
    Lib().primary.caps[CAP_SPEAKER] = 2; // EC beeper: the PC speaker functions are not offered
    EXPECT_EQ(VEK_HWM_PlayNote(0, 1, 0, 1), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(VEK_HWM_StartBeep(1000), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(VEK_HWM_SetMetronome(60), VEK_ERR_UNSUPPORTED);
    EXPECT_EQ(VEK_HWM_SetBeep(1000, 0), VEK_ERR_SPEAKER_ARGUMENT);
    Lib().primary.caps[CAP_SPEAKER] = 0;
    EXPECT_EQ(VEK_HWM_SetBeep(1000, 1), VEK_ERR_UNSUPPORTED);
    EXPECT_TRUE(speaker->tones().empty());
}

} // namespace
