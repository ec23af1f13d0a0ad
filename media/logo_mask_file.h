// A learned logo as a picture: frame-sized RGBA, 16 bits a channel, the
// logo's colour in RGB and its alpha (0 where there is no logo), which an
// image editor opens and touches up. The colour is turned into the video's
// own coding (its matrix and range, or planar RGB as it is) and back in
// double precision; at 16 bits a channel the round trip moves a sample by
// far less than one step of a 10-bit video.
#ifndef DELBRIN_MEDIA_LOGO_MASK_FILE_H
#define DELBRIN_MEDIA_LOGO_MASK_FILE_H

#include <string>

extern "C" {
#include <libavutil/frame.h>
}

#include "deblend.h"
#include "media_error.h"

// How the video codes colour, from a decoded frame: planes, subsampling,
// bit depth, matrix and range.
struct ColourCoding {
    int32_t planeCount;  // 1 grey, 3 colour
    int32_t chromaShiftX, chromaShiftY;
    int32_t bitDepth;
    bool    rgb;         // planar RGB (G, B, R)
    bool    fullRange;
    double  kr, kb;      // the matrix's red and blue weights
};

// The coding of frames like this one, whose format CanDeblendInPlace takes.
ColourCoding CodingOf(const AVFrame* frame);

// The logo as an RGBA64 picture (big-endian, as PNG stores it). Null when
// memory runs out.
AVFrame* MaskPicture(const LogoModel& logo, const ColourCoding& coding);

// Reads a mask picture (any picture file FFmpeg reads: 8 or 16 bits, with
// alpha) and makes the logo of frames of the given size and coding. Fails
// (kStepReading) when the file cannot be read or has another size.
bool ReadLogoMask(const std::string& path, int32_t width, int32_t height, const ColourCoding& coding,
                  LogoModel* logo, MediaError* error);

#endif
