// A rectangle of pixels: the one rectangle type of the filter, the command,
// the media layer and detection. Columns x...x+width-1, rows y...y+height-1,
// y counted from the top. Empty when width or height is 0 or less.
#ifndef DELBRIN_PIXEL_RECT_H
#define DELBRIN_PIXEL_RECT_H

#include <stdint.h>

struct PixelRect {
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
};

inline bool IsEmptyRect(PixelRect r) { return r.width <= 0 || r.height <= 0; }

// One past the last column and row, in 64 bits so that no sum overflows.
inline int64_t RectRight(PixelRect r) { return (int64_t)r.x + r.width; }
inline int64_t RectBottom(PixelRect r) { return (int64_t)r.y + r.height; }

// The part of r inside a frame of the given size; empty (0 x 0 at 0, 0) when
// nothing of it is.
inline PixelRect ClipRectToFrame(PixelRect r, int32_t frameWidth, int32_t frameHeight)
{
    int64_t x0 = r.x < 0 ? 0 : r.x;
    int64_t y0 = r.y < 0 ? 0 : r.y;
    int64_t x1 = RectRight(r) < frameWidth ? RectRight(r) : frameWidth;
    int64_t y1 = RectBottom(r) < frameHeight ? RectBottom(r) : frameHeight;
    if (r.width <= 0 || r.height <= 0 || x1 <= x0 || y1 <= y0)
        return PixelRect{ 0, 0, 0, 0 };
    return PixelRect{ (int32_t)x0, (int32_t)y0, (int32_t)(x1 - x0), (int32_t)(y1 - y0) };
}

// How far two rectangles are the same: the area they share over the area
// they cover together, 0 when they share none, 1 when equal.
inline double RectIou(PixelRect a, PixelRect b)
{
    int64_t x0 = a.x > b.x ? a.x : b.x, y0 = a.y > b.y ? a.y : b.y;
    int64_t x1 = RectRight(a) < RectRight(b) ? RectRight(a) : RectRight(b);
    int64_t y1 = RectBottom(a) < RectBottom(b) ? RectBottom(a) : RectBottom(b);
    if (IsEmptyRect(a) || IsEmptyRect(b) || x1 <= x0 || y1 <= y0)
        return 0;
    double shared = (double)(x1 - x0) * (double)(y1 - y0);
    return shared / ((double)a.width * a.height + (double)b.width * b.height - shared);
}

// The samples of a plane subsampled by 2^shiftX across and 2^shiftY down
// that cover r: r rounded out to whole cells of that plane's grid. Empty
// stays empty.
inline PixelRect RectOnSubsampledPlane(PixelRect r, int32_t shiftX, int32_t shiftY)
{
    if (r.width <= 0 || r.height <= 0)
        return PixelRect{ 0, 0, 0, 0 };
    const int32_t x0 = r.x >> shiftX, y0 = r.y >> shiftY;
    const int32_t x1 = (r.x + r.width - 1) >> shiftX, y1 = (r.y + r.height - 1) >> shiftY;
    return PixelRect{ x0, y0, x1 - x0 + 1, y1 - y0 + 1 };
}

#endif
