// The logo as an RGBA picture and back: see logo_mask_file.h.
#include "logo_mask_file.h"

#include <math.h>

#include <vector>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "av_owners.h"
#include "frame_convert.h"
#include "frame_deblend.h"
#include "region_patch.h"
#include "video_input.h"

namespace {

// Samples of the video (in plane order) to R, G, B in 0...1, and back.
// Limited range puts black at 16 and white at 235 (chroma 16 to 240, about
// 128) in 8-bit steps, the same scaled for deeper samples; full range uses
// every value.
void SamplesToRgb(const ColourCoding& c, const double s[3], double rgb[3])
{
    const double maxValue = (1 << c.bitDepth) - 1, step = 1 << (c.bitDepth - 8);
    if (c.planeCount == 1 || !c.rgb) {
        const double y = c.fullRange ? s[0] / maxValue : (s[0] / step - 16.0) / 219.0;
        if (c.planeCount == 1) {
            rgb[0] = rgb[1] = rgb[2] = y;
            return;
        }
        const double middle = 1 << (c.bitDepth - 1);
        const double cb = c.fullRange ? (s[1] - middle) / maxValue : (s[1] / step - 128.0) / 224.0;
        const double cr = c.fullRange ? (s[2] - middle) / maxValue : (s[2] / step - 128.0) / 224.0;
        const double kg = 1.0 - c.kr - c.kb;
        rgb[0] = y + 2.0 * (1.0 - c.kr) * cr;
        rgb[2] = y + 2.0 * (1.0 - c.kb) * cb;
        rgb[1] = (y - c.kr * rgb[0] - c.kb * rgb[2]) / kg;
        return;
    }
    rgb[0] = s[2] / maxValue;  // planes G, B, R
    rgb[1] = s[0] / maxValue;
    rgb[2] = s[1] / maxValue;
}

void RgbToSamples(const ColourCoding& c, const double rgb[3], double s[3])
{
    const double maxValue = (1 << c.bitDepth) - 1, step = 1 << (c.bitDepth - 8);
    if (c.rgb) {
        s[0] = rgb[1] * maxValue;
        s[1] = rgb[2] * maxValue;
        s[2] = rgb[0] * maxValue;
        return;
    }
    const double kg = 1.0 - c.kr - c.kb;
    const double y = c.kr * rgb[0] + kg * rgb[1] + c.kb * rgb[2];
    s[0] = c.fullRange ? y * maxValue : (16.0 + 219.0 * y) * step;
    if (c.planeCount == 1) return;
    const double cb = (rgb[2] - y) / (2.0 * (1.0 - c.kb)), cr = (rgb[0] - y) / (2.0 * (1.0 - c.kr));
    const double middle = 1 << (c.bitDepth - 1);
    s[1] = c.fullRange ? middle + cb * maxValue : (128.0 + 224.0 * cb) * step;
    s[2] = c.fullRange ? middle + cr * maxValue : (128.0 + 224.0 * cr) * step;
}

// A value of the logo's plane at a frame pixel; 0 outside its box.
float At(const std::vector<float>& values, PixelRect box, int32_t x, int32_t y)
{
    x -= box.x;
    y -= box.y;
    if (x < 0 || y < 0 || x >= box.width || y >= box.height) return 0.0f;
    return values[(size_t)y * box.width + x];
}

uint16_t ToChannel(double v)
{
    const double scaled = v * 65535.0;
    return scaled <= 0.0 ? 0 : scaled >= 65535.0 ? 65535 : (uint16_t)lround(scaled);
}

}  // namespace

ColourCoding CodingOf(const AVFrame* frame)
{
    const FramePlanes planes = PlanesOf(frame);
    const PictureColour colour = ColourOf(frame);
    ColourCoding c{};
    c.planeCount = planes.count;
    c.chromaShiftX = planes.chromaShiftX;
    c.chromaShiftY = planes.chromaShiftY;
    c.bitDepth = planes.planes[0].bitDepth;
    c.rgb = planes.rgb;
    c.fullRange = planes.rgb || colour.range == AVCOL_RANGE_JPEG;
    switch (colour.matrix) {
    case AVCOL_SPC_BT709: c.kr = 0.2126; c.kb = 0.0722; break;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL: c.kr = 0.2627; c.kb = 0.0593; break;
    case AVCOL_SPC_SMPTE240M: c.kr = 0.212; c.kb = 0.087; break;
    case AVCOL_SPC_FCC: c.kr = 0.30; c.kb = 0.11; break;
    default: c.kr = 0.299; c.kb = 0.114; break;
    }
    return c;
}

AVFrame* MaskPicture(const LogoModel& logo, const ColourCoding& coding)
{
    FramePtr picture(av_frame_alloc());
    if (!picture) return nullptr;
    picture->format = AV_PIX_FMT_RGBA64BE;
    picture->width = logo.frameWidth;
    picture->height = logo.frameHeight;
    if (av_frame_get_buffer(picture.get(), 0) < 0) return nullptr;
    const LogoPlane& luma = logo.planes[0];
    for (int32_t y = 0; y < logo.frameHeight; y++) {
        uint8_t* row = picture->data[0] + (ptrdiff_t)y * picture->linesize[0];
        for (int32_t x = 0; x < logo.frameWidth; x++) {
            const double alpha = At(luma.alpha, luma.box, x, y);
            double samples[3] = { At(luma.colour, luma.box, x, y), 0.0, 0.0 };
            for (int32_t p = 1; p < logo.planeCount; p++)
                samples[p] = At(logo.planes[p].colour, logo.planes[p].box, x >> logo.chromaShiftX,
                                y >> logo.chromaShiftY);
            double rgb[3] = { 0.0, 0.0, 0.0 };
            if (alpha > 0.0) SamplesToRgb(coding, samples, rgb);
            const uint16_t channels[4] = { ToChannel(rgb[0]), ToChannel(rgb[1]), ToChannel(rgb[2]), ToChannel(alpha) };
            for (int k = 0; k < 4; k++) {
                row[8 * x + 2 * k] = channels[k] >> 8;
                row[8 * x + 2 * k + 1] = channels[k] & 0xFF;
            }
        }
    }
    return picture.release();
}

bool ReadLogoMask(const std::string& path, int32_t width, int32_t height, const ColourCoding& coding,
                  LogoModel* logo, MediaError* error)
{
    VideoInput input;
    FramePtr decoded(av_frame_alloc()), rgba(av_frame_alloc());
    FrameConverter converter;
    int64_t number = 0;
    bool ok = decoded && rgba ? OpenVideoInput(path, kReadVideo, &input, error)
                              : Failed(error, kStepReading, "reading " + path + ": out of memory");
    if (ok) {
        const int got = ReadVideoFrame(&input, decoded.get(), &number, error);
        if (got == 0) ok = Failed(error, kStepReading, "reading the mask " + path + ": it holds no picture");
        ok = ok && got > 0;
    }
    if (ok && (decoded->width != width || decoded->height != height))
        ok = Failed(error, kStepReading, "the mask " + path + " is " + std::to_string(decoded->width) + "x" +
                                             std::to_string(decoded->height) + "; the video's frames are " +
                                             std::to_string(width) + "x" + std::to_string(height));
    ok = ok && ConvertFrame(&converter, decoded.get(), rgba.get(), AV_PIX_FMT_RGBA64LE, width, height, error);
    if (!ok) return false;

    std::vector<float> alpha((size_t)width * height);
    std::vector<float> colour[3];
    for (int32_t p = 0; p < coding.planeCount; p++) colour[p].resize(alpha.size());
    for (int32_t y = 0; y < height; y++) {
        const uint16_t* row = reinterpret_cast<const uint16_t*>(rgba->data[0] + (ptrdiff_t)y * rgba->linesize[0]);
        for (int32_t x = 0; x < width; x++) {
            const size_t i = (size_t)y * width + x;
            const double rgb[3] = { row[4 * x] / 65535.0, row[4 * x + 1] / 65535.0, row[4 * x + 2] / 65535.0 };
            double samples[3];
            RgbToSamples(coding, rgb, samples);
            alpha[i] = row[4 * x + 3] / 65535.0f;
            for (int32_t p = 0; p < coding.planeCount; p++) colour[p][i] = (float)samples[p];
        }
    }
    *logo = LogoFromPixels(width, height, coding.chromaShiftX, coding.chromaShiftY, coding.planeCount, alpha, colour);
    return true;
}
