// The host binding's frame handling: what the run callback does around the
// core's frame call.
#include <gtest/gtest.h>

#include <string.h>

#include <vector>

#include "host_binding.h"
#include "test_frames.h"

namespace {

// A test frame as the host hands it over: a bitmap, a frame state and an
// activation record around it.
struct HostFrame {
    TestFrame  frame;
    HostBitmap source{};
    HostBitmap destination{};
    FrameState state{};
    Activation activation{};
};

void InitHostFrame(HostFrame* f, int32_t width, int32_t height, int32_t padBytes = 12)
{
    InitTestFrame(&f->frame, width, height, padBytes);
    f->source = HostBitmap{};
    f->source.data = (uint32_t*)f->frame.view.data;
    f->source.depth = 32;
    f->source.width = width;
    f->source.height = height;
    f->source.pitch = f->frame.view.pitch;
    f->destination = HostBitmap{};
    f->state.currentFrame = 0;
    f->activation = Activation{};
    f->activation.settings = &f->frame.settings;
    f->activation.source = &f->source;
    f->activation.destination = &f->destination;
    f->activation.frameState = &f->state;
    InitSettings(&f->frame.settings, &f->activation);
}

TEST(RunFrame, SmallerSourceThanTheRectangleWasSetFor)
{
    HostFrame f;
    InitHostFrame(&f, 16, 12);
    std::vector<uint8_t> before = f.frame.bytes;
    SetRectangle(&f.frame.settings, 30, 20, 10, 8);
    f.frame.settings.frameWidth = 64;
    f.frame.settings.frameHeight = 48;
    RunFrame(&f.activation);
    EXPECT_EQ(BytesChangedOutside(&f.frame, before, 10, 8, 6, 4), 0);
    EXPECT_EQ(f.destination.data, f.source.data);
    EXPECT_EQ(f.frame.settings.frameWidth, 16);
    EXPECT_EQ(f.frame.settings.frameHeight, 12);
}

TEST(RunFrame, CopiedRecordGivesTheSameFrame)
{
    HostFrame a, b;
    InitHostFrame(&a, 20, 10, 4);
    InitHostFrame(&b, 20, 10, 4);
    SetRectangle(&a.frame.settings, 9, 6, 3, 2);
    a.frame.settings.featherOn = a.frame.settings.cancelLeft = 1;
    a.frame.settings.featherWidth = 2;
    RunFrame(&a.activation);
    memcpy(&b.frame.settings, &a.frame.settings, sizeof b.frame.settings);  // still a's activation
    // The instance copied from is gone: its records must not be followed.
    memset(&a.activation, 0xFF, sizeof a.activation);
    b.source.width = 21;  // one column more, outside the rectangle
    RunFrame(&b.activation);
    EXPECT_EQ(a.frame.bytes, b.frame.bytes);
    EXPECT_EQ(b.frame.settings.activation, &b.activation);
    EXPECT_EQ(b.frame.settings.frameWidth, 21);
}

TEST(RunFrame, UnusableInputLeavesTheFrameAlone)
{
    HostFrame f;
    InitHostFrame(&f, 4, 4);
    f.frame.settings.width = f.frame.settings.height = 3;
    std::vector<uint8_t> before = f.frame.bytes;

    f.activation.destination = nullptr;
    EXPECT_EQ(RunFrame(&f.activation), 0);
    f.activation.destination = &f.destination;
    f.activation.frameState = nullptr;
    EXPECT_EQ(RunFrame(&f.activation), 0);
    f.activation.frameState = &f.state;
    f.source.height = 0;
    EXPECT_EQ(RunFrame(&f.activation), 0);
    EXPECT_EQ(f.frame.bytes, before);

    // A patch too large to allocate: nothing is touched, so one real pixel
    // stands for the whole frame.
    uint32_t pixel = 0x12345678;
    f.source.data = &pixel;
    f.source.width = f.source.height = INT32_MAX;
    f.source.pitch = 4;
    f.frame.settings.width = f.frame.settings.height = INT32_MAX;
    EXPECT_EQ(RunFrame(&f.activation), 0);
    EXPECT_EQ(pixel, 0x12345678u);
    EXPECT_EQ(f.frame.settings.patchPixels, nullptr);
}

}  // namespace
