// delbrin detect --mask and apply --deblend on small clips the test makes
// with ffmpeg: a translucent plate (and an opaque one) over a picture that
// changes every frame, all lossless, so that what the command does to each
// sample shows.
#include <gtest/gtest.h>

#include <math.h>
#include <stdio.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "shell_run.h"

namespace {

const int kW = 160, kH = 96, kFrames = 200;
const std::string kDir = DELBRIN_TEST_DIR;
const std::string kDelbrin = DELBRIN_COMMAND;
const char kFfmpeg[] = "ffmpeg -hide_banner -v error -nostdin -y ";
// The plate: 40 x 20 at 100, 12 (even, so its chroma is its own).
const int kPx = 100, kPy = 12, kPw = 40, kPh = 20;

std::string Path(const std::string& name) { return kDir + "/" + name; }

// The clip's frames as raw yuv420p, one after the other.
std::vector<uint8_t> Frames(const std::string& file) {
    std::vector<uint8_t> bytes;
    FILE* p = popen(("ffmpeg -v error -nostdin -i " + Quote(file) + " -f rawvideo -pix_fmt yuv420p -").c_str(), "r");
    if (!p) return bytes;
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, p)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    pclose(p);
    return bytes;
}

// Luma PSNR of a against b inside the plate, over every frame.
double PlatePsnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    const size_t frame = kW * kH * 3 / 2;
    double squares = 0;
    long count = 0;
    for (size_t f = 0; f + frame <= a.size() && f + frame <= b.size(); f += frame)
        for (int y = kPy; y < kPy + kPh; y++)
            for (int x = kPx; x < kPx + kPw; x++) {
                double d = a[f + y * kW + x] - b[f + y * kW + x];
                squares += d * d;
                count++;
            }
    return 10 * log10(255.0 * 255.0 / (squares / count + 1e-9));
}

// Whether a and b agree on every sample (every plane) outside the box
// x0..x1, y0..y1 (luma pixels, exclusive ends) in frames first...last.
bool SameOutside(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int x0, int y0, int x1, int y1,
                 int first = 0, int last = kFrames - 1) {
    const size_t frame = kW * kH * 3 / 2;
    if (a.size() != b.size()) return false;
    for (int f = first; f <= last; f++) {
        const uint8_t* pa = a.data() + f * frame;
        const uint8_t* pb = b.data() + f * frame;
        for (int y = 0; y < kH; y++)
            for (int x = 0; x < kW; x++)
                if ((x < x0 || x >= x1 || y < y0 || y >= y1) && pa[y * kW + x] != pb[y * kW + x]) return false;
        for (int p = 0; p < 2; p++)
            for (int y = 0; y < kH / 2; y++)
                for (int x = 0; x < kW / 2; x++) {
                    const size_t i = kW * kH + p * (kW * kH / 4) + y * (kW / 2) + x;
                    if ((2 * x + 1 < x0 || 2 * x >= x1 || 2 * y + 1 < y0 || 2 * y >= y1) && pa[i] != pb[i])
                        return false;
                }
    }
    return true;
}

class DeblendTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        mkdir(kDir.c_str(), 0755);
        // A soft random picture, new in every frame (noise that changes
        // with time, blurred), and the plates: blue of alpha 0.5 and red
        // of alpha 1.
        const std::string picture = "color=gray:s=160x96:r=25:d=8,format=yuv444p,noise=alls=90:allf=t,"
                                    "gblur=sigma=2.5,format=yuv420p";
        ASSERT_EQ(Shell(kFfmpeg + std::string("-f lavfi -i ") + Quote(picture) + " -c:v ffv1 " +
                        Quote(Path("clean.mkv"))), 0);
        for (const char* plate : {"translucent", "opaque"}) {
            const std::string colour = std::string(plate) == "opaque" ? "0xC02020@1.0" : "0x2040C0@0.5";
            ASSERT_EQ(Shell(kFfmpeg + std::string("-i ") + Quote(Path("clean.mkv")) + " -f lavfi -i " +
                            Quote("color=c=" + colour + ":s=40x20,format=rgba") +
                            " -filter_complex '[0][1]overlay=100:12:shortest=1' -c:v ffv1 -pix_fmt yuv420p " +
                            Quote(Path(std::string(plate) + ".mkv"))), 0);
        }
    }
};

// The learned mask is a frame-sized 16-bit RGBA picture whose alpha is the
// plate's inside it and 0 away from it; de-blending with it gives the clean
// picture back inside the plate, far closer than the input, and leaves every
// sample outside the plate's box (and the few pixels the patch may take
// around it) as decoded.
TEST_F(DeblendTest, LearnsAndRemovesATranslucentPlate) {
    const std::string mask = Path("translucent.png"), out = Path("translucent-out.mkv");
    std::string said;
    ASSERT_EQ(Shell(kDelbrin + " detect " + Quote(Path("translucent.mkv")) + " --rect 90,4,60,36 --mask " +
                    Quote(mask) + " --frames 200 --force", &said), 0) << said;
    std::string probe;
    ASSERT_EQ(Shell("ffprobe -v error -show_entries stream=width,height,pix_fmt -of csv=p=0 " + Quote(mask), &probe), 0);
    EXPECT_EQ(probe, "160,96,rgba64be\n");

    std::vector<uint8_t> alpha;
    FILE* p = popen(("ffmpeg -v error -nostdin -i " + Quote(mask) + " -vf alphaextract -f rawvideo -pix_fmt gray -").c_str(), "r");
    uint8_t chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, p)) > 0) alpha.insert(alpha.end(), chunk, chunk + n);
    pclose(p);
    ASSERT_EQ(alpha.size(), size_t(kW * kH));
    for (int y = 0; y < kH; y++)
        for (int x = 0; x < kW; x++) {
            const bool inside = x >= kPx && x < kPx + kPw && y >= kPy && y < kPy + kPh;
            const bool near = x >= kPx - 3 && x < kPx + kPw + 3 && y >= kPy - 3 && y < kPy + kPh + 3;
            if (inside) EXPECT_NEAR(alpha[y * kW + x], 128, 16) << x << "," << y;
            if (!near) EXPECT_EQ(alpha[y * kW + x], 0) << x << "," << y;
        }

    ASSERT_EQ(Shell(kDelbrin + " apply " + Quote(Path("translucent.mkv")) + " " + Quote(out) + " --deblend " +
                    Quote(mask) + " --codec ffv1 --force --quiet", &said), 0) << said;
    const std::vector<uint8_t> clean = Frames(Path("clean.mkv")), input = Frames(Path("translucent.mkv")),
                               output = Frames(out);
    ASSERT_EQ(output.size(), input.size());
    EXPECT_LT(PlatePsnr(input, clean), 25.0);
    EXPECT_GT(PlatePsnr(output, clean), 38.0);
    EXPECT_TRUE(SameOutside(output, input, kPx - 3, kPy - 3, kPx + kPw + 3, kPy + kPh + 3));
}

// An opaque plate hides the picture: de-blending fills it with the patch,
// never worse than the patch alone over the same box, and only in the frames
// --ranges gives; the others are untouched.
TEST_F(DeblendTest, OpaquePlateIsPatchedWithinItsRanges) {
    const std::string mask = Path("opaque.png"), out = Path("opaque-out.mkv"), patched = Path("opaque-patch.mkv");
    std::string said;
    ASSERT_EQ(Shell(kDelbrin + " detect " + Quote(Path("opaque.mkv")) + " --rect 90,4,60,36 --mask " + Quote(mask) +
                    " --frames 200 --force", &said), 0) << said;
    ASSERT_EQ(Shell(kDelbrin + " apply " + Quote(Path("opaque.mkv")) + " " + Quote(out) + " --deblend " + Quote(mask) +
                    " --ranges '0 99' --codec ffv1 --force --quiet", &said), 0) << said;
    ASSERT_EQ(Shell(kDelbrin + " apply " + Quote(Path("opaque.mkv")) + " " + Quote(patched) +
                    " --rect 98,10,44,24 --codec ffv1 --force --quiet", &said), 0) << said;
    const size_t frame = kW * kH * 3 / 2;
    const std::vector<uint8_t> clean = Frames(Path("clean.mkv")), input = Frames(Path("opaque.mkv")),
                               output = Frames(out), patch = Frames(patched);
    ASSERT_EQ(output.size(), input.size());
    auto firstHalf = [&](const std::vector<uint8_t>& v) { return std::vector<uint8_t>(v.begin(), v.begin() + 100 * frame); };
    EXPECT_GE(PlatePsnr(firstHalf(output), firstHalf(clean)), PlatePsnr(firstHalf(patch), firstHalf(clean)) - 0.01);
    EXPECT_TRUE(SameOutside(output, input, kPx - 4, kPy - 4, kPx + kPw + 4, kPy + kPh + 4, 0, 99));
    EXPECT_TRUE(SameOutside(output, input, 0, 0, 0, 0, 100, kFrames - 1));
}

// What cannot work is said, with the exit code of its step: a mask of
// another size, a mask that is not there, --rect without --mask, a mask
// that would overwrite the input.
TEST_F(DeblendTest, RefusalsAreNamed) {
    const std::string small = Path("small.png");
    ASSERT_EQ(Shell(kFfmpeg + std::string("-f lavfi -i color=black@0.0:s=80x48,format=rgba -frames:v 1 ") + Quote(small)), 0);
    std::string said;
    EXPECT_NE(Shell(kDelbrin + " apply " + Quote(Path("translucent.mkv")) + " " + Quote(Path("x.mkv")) +
                    " --deblend " + Quote(small) + " --force", &said), 0);
    EXPECT_NE(said.find("80x48"), std::string::npos) << said;
    EXPECT_NE(Shell(kDelbrin + " apply " + Quote(Path("translucent.mkv")) + " " + Quote(Path("x.mkv")) +
                    " --deblend " + Quote(Path("none.png")) + " --force", &said), 0);
    EXPECT_NE(said.find("none.png"), std::string::npos) << said;
    EXPECT_EQ(Shell(kDelbrin + " detect " + Quote(Path("translucent.mkv")) + " --rect 1,1,8,8", &said), 2) << said;
    EXPECT_NE(Shell(kDelbrin + " detect " + Quote(Path("translucent.mkv")) + " --rect 1,1,8,8 --mask " +
                    Quote(Path("translucent.mkv")), &said), 0);
    struct stat st;
    ASSERT_EQ(stat(Path("translucent.mkv").c_str(), &st), 0);
    EXPECT_GT(st.st_size, 1000);
}

}  // namespace
