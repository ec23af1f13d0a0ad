// frame_demo DIR: draws a frame with a station logo in its top right corner,
// hides the logo with a feathered patch, and writes the frame before and
// after as DIR/before.ppm, DIR/after.ppm and the same as PNG.
#include <stdint.h>
#include <stdio.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "frame_run.h"
#include "test_frames.h"

enum { kWidth = 480, kHeight = 270 };

// The logo's box in the picture, and the patched rectangle around it.
enum { kLogoX = 380, kLogoY = 24, kLogoW = 72, kLogoH = 36 };
enum { kRectX = 372, kRectY = 16, kRectW = 88, kRectH = 52 };

static uint32_t Rgb(int r, int g, int b)
{
    return (uint32_t)r << 16 | (uint32_t)g << 8 | (uint32_t)b;
}

// A sky fading into a horizon over a darker ground, with a gentle ripple so
// the patch has something to blend into.
static uint32_t ScenePixel(int x, int y)
{
    if (y < kHeight * 3 / 5)
        return Rgb(60 + y / 3, 110 + y / 3, 200 - y / 4);
    int ripple = ((x / 6 + y / 3) % 8) * 3;
    return Rgb(70 + ripple, 110 + ripple, 40);
}

// A white frame with a bar through it, laid over the picture at 75 %.
static bool LogoCovers(int lx, int ly)
{
    bool border = lx < 4 || ly < 4 || lx >= kLogoW - 4 || ly >= kLogoH - 4;
    bool bar = ly >= kLogoH / 2 - 3 && ly < kLogoH / 2 + 3 && lx >= 12 && lx < kLogoW - 12;
    return border || bar;
}

static uint32_t OverLogo(uint32_t pixel, int x, int y)
{
    int lx = x - kLogoX, ly = y - kLogoY;
    if (lx < 0 || ly < 0 || lx >= kLogoW || ly >= kLogoH || !LogoCovers(lx, ly))
        return pixel;
    uint32_t out = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        uint32_t c = (pixel >> shift) & 0xFF;
        out |= ((c + 3 * 255) / 4) << shift;
    }
    return out;
}

static void FillFrame(const FrameView* view)
{
    for (int y = 0; y < view->height; y++)
        for (int x = 0; x < view->width; x++)
            *PixelAt(view, x, y) = OverLogo(ScenePixel(x, y), x, y);
}

// The picture as top-down RGB bytes.
static std::vector<uint8_t> RgbRows(const FrameView* view)
{
    std::vector<uint8_t> rgb;
    for (int y = 0; y < view->height; y++)
        for (int x = 0; x < view->width; x++) {
            uint32_t p = *PixelAt(view, x, y);
            rgb.push_back((uint8_t)(p >> 16));
            rgb.push_back((uint8_t)(p >> 8));
            rgb.push_back((uint8_t)p);
        }
    return rgb;
}

static bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (f == NULL)
        return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

static std::vector<uint8_t> Ppm(const FrameView* view)
{
    char header[64];
    int n = snprintf(header, sizeof header, "P6\n%d %d\n255\n", (int)view->width, (int)view->height);
    std::vector<uint8_t> out(header, header + n);
    std::vector<uint8_t> rgb = RgbRows(view);
    out.insert(out.end(), rgb.begin(), rgb.end());
    return out;
}

static void PutBig32(std::vector<uint8_t>* out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out->push_back((uint8_t)(v >> shift));
}

static uint32_t Crc32(const uint8_t* p, size_t n)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; i++) {
        crc ^= p[i];
        for (int k = 0; k < 8; k++)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

static void PutChunk(std::vector<uint8_t>* out, const char* type, const std::vector<uint8_t>& data)
{
    PutBig32(out, (uint32_t)data.size());
    size_t start = out->size();
    out->insert(out->end(), type, type + 4);
    out->insert(out->end(), data.begin(), data.end());
    PutBig32(out, Crc32(out->data() + start, out->size() - start));
}

// A PNG whose image data is one zlib stream of uncompressed blocks: large,
// but any viewer opens it and it needs no compressor.
static std::vector<uint8_t> Png(const FrameView* view)
{
    std::vector<uint8_t> rgb = RgbRows(view);
    std::vector<uint8_t> raw;  // each row behind filter type 0
    size_t rowBytes = (size_t)view->width * 3;
    for (int y = 0; y < view->height; y++) {
        raw.push_back(0);
        raw.insert(raw.end(), rgb.begin() + y * rowBytes, rgb.begin() + (y + 1) * rowBytes);
    }

    std::vector<uint8_t> zlib = { 0x78, 0x01 };
    for (size_t at = 0; at < raw.size() || at == 0; ) {
        size_t n = raw.size() - at < 65535 ? raw.size() - at : 65535;
        zlib.push_back(at + n == raw.size() ? 1 : 0);  // last block?
        zlib.push_back((uint8_t)n);
        zlib.push_back((uint8_t)(n >> 8));
        zlib.push_back((uint8_t)~n);
        zlib.push_back((uint8_t)(~n >> 8));
        zlib.insert(zlib.end(), raw.begin() + at, raw.begin() + at + n);
        at += n;
        if (n == 0)
            break;
    }
    uint32_t a = 1, b = 0;
    for (uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    PutBig32(&zlib, b << 16 | a);

    std::vector<uint8_t> header;
    PutBig32(&header, (uint32_t)view->width);
    PutBig32(&header, (uint32_t)view->height);
    header.insert(header.end(), { 8, 2, 0, 0, 0 });  // 8-bit RGB, no interlace

    std::vector<uint8_t> out = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n' };
    PutChunk(&out, "IHDR", header);
    PutChunk(&out, "IDAT", zlib);
    PutChunk(&out, "IEND", {});
    return out;
}

static bool WriteImages(const std::string& dir, const char* name, const FrameView* view)
{
    if (WriteFile(dir + "/" + name + ".ppm", Ppm(view)) &&
        WriteFile(dir + "/" + name + ".png", Png(view)))
        return true;
    fprintf(stderr, "frame_demo: cannot write into %s\n", dir.c_str());
    return false;
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: frame_demo DIR\n");
        return 2;
    }
    std::string dir = argv[1];
    mkdir(dir.c_str(), 0777);  // an existing directory is fine

    // Stored bottom-up, as the host hands frames over, rows without padding.
    TestFrame frame;
    InitTestFrame(&frame, kWidth, kHeight, 0);
    FillFrame(&frame.view);
    if (!WriteImages(dir, "before", &frame.view))
        return 1;

    PatchSettings& settings = frame.settings;
    SetRectangle(&settings, kRectW, kRectH, kRectX, kRectY);
    settings.featherOn = 1;
    settings.featherWidth = 6;
    PatchTestFrame(&frame);

    if (!WriteImages(dir, "after", &frame.view))
        return 1;
    printf("frame_demo: patched a %dx%d rectangle at (%d, %d) of a %dx%d frame; wrote %s/before.png and %s/after.png\n",
           kRectW, kRectH, kRectX, kRectY, kWidth, kHeight, dir.c_str(), dir.c_str());
    return 0;
}
