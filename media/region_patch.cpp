// The conversion window around each patched rectangle; see region_patch.h
// for why the window's result equals the whole frame's.
#include "region_patch.h"

#include <algorithm>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include "frame_run.h"
#include "pixel_traits.h"

const int kConvertFlags =
    SWS_BILINEAR | SWS_ACCURATE_RND | SWS_BITEXACT | SWS_FULL_CHR_H_INT | SWS_FULL_CHR_H_INP;

namespace {

int RoundDown(int v, int step) { return v / step * step; }
int RoundUp(int v, int step) { return (v + step - 1) / step * step; }


// The bytes from the start of a row of plane p to pixel column x: what a row
// of x pixels takes, so exact for x on the chroma grid (and for x = width).
void RowOffsets(AVPixelFormat format, int x, int offsets[4]) {
    av_image_fill_linesizes(offsets, format, x);
}

int PlaneRowShift(const AVPixFmtDescriptor* desc, int plane) {
    return plane == 1 || plane == 2 ? desc->log2_chroma_h : 0;
}

// Plane pointers to the pixel (x, y) of a picture; x and y on the chroma grid.
void PointersAt(AVPixelFormat format, uint8_t* const data[4], const int linesize[4], int x, int y,
                uint8_t* out[4]) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    int offsets[4];
    RowOffsets(format, x, offsets);
    const int planes = av_pix_fmt_count_planes(format);
    for (int p = 0; p < 4; p++) {
        out[p] = p < planes && data[p]
                     ? data[p] + static_cast<ptrdiff_t>(y >> PlaneRowShift(desc, p)) * linesize[p] + offsets[p]
                     : nullptr;
    }
}

PixelRect FromEdges(int x0, int y0, int x1, int y1) { return {x0, y0, x1 - x0, y1 - y0}; }

bool Overlap(PixelRect a, PixelRect b) {
    return a.x < RectRight(b) && b.x < RectRight(a) && a.y < RectBottom(b) && b.y < RectBottom(a);
}

PixelRect Union(PixelRect a, PixelRect b) {
    return FromEdges(std::min(a.x, b.x), std::min(a.y, b.y), static_cast<int>(std::max(RectRight(a), RectRight(b))),
                     static_cast<int>(std::max(RectBottom(a), RectBottom(b))));
}

SwsContext* ConversionContext(RegionPatcher* patcher, AVPixelFormat format, int width, int height,
                              bool toBgra, PictureColour colour) {
    for (const RegionPatcher::CachedContext& c : patcher->contexts)
        if (c.format == format && c.width == width && c.height == height && c.toBgra == toBgra &&
            c.colour.matrix == colour.matrix && c.colour.range == colour.range)
            return c.context.get();
    // Windows keep their size from frame to frame; a handful of contexts
    // covers several rectangles, and the oldest goes when that is exceeded.
    if (patcher->contexts.size() >= 16) {
        patcher->contexts.erase(patcher->contexts.begin());
    }
    const bool full = colour.range == AVCOL_RANGE_JPEG;
    ScalerPtr context =
        toBgra ? OpenConversion(width, height, format, width, height, AV_PIX_FMT_BGRA, kConvertFlags,
                                colour.matrix, full, true)
               : OpenConversion(width, height, AV_PIX_FMT_BGRA, width, height, format, kConvertFlags,
                                colour.matrix, true, full);
    if (!context) return nullptr;
    SwsContext* opened = context.get();
    patcher->contexts.push_back({std::move(context), format, width, height, toBgra, colour});
    return opened;
}

bool EnsurePicture(FramePtr* picture, AVPixelFormat format, int width, int height) {
    if (!*picture) picture->reset(av_frame_alloc());
    if (!*picture) return false;
    AVFrame* p = picture->get();
    if (p->format == format && p->width == width && p->height == height && p->data[0]) return true;
    av_frame_unref(p);
    p->format = format;
    p->width = width;
    p->height = height;
    return av_frame_get_buffer(p, 0) >= 0;
}

// Copies the region box of plane data from one picture to another of the same
// format; from is addressed at (fromX, fromY) for the box's corner.
void CopyBox(AVPixelFormat format, uint8_t* const to[4], const int toLinesize[4], PixelRect box,
             uint8_t* const from[4], const int fromLinesize[4], int fromX, int fromY) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    uint8_t* target[4];
    uint8_t* source[4];
    PointersAt(format, to, toLinesize, box.x, box.y, target);
    PointersAt(format, from, fromLinesize, fromX, fromY, source);
    int start[4], end[4];
    RowOffsets(format, box.x, start);
    RowOffsets(format, box.x + box.width, end);
    const int planes = av_pix_fmt_count_planes(format);
    for (int p = 0; p < planes; p++) {
        const int shift = PlaneRowShift(desc, p);
        const int rows = ((box.y + box.height + (1 << shift) - 1) >> shift) - (box.y >> shift);
        av_image_copy_plane(target[p], toLinesize[p], source[p], fromLinesize[p], end[p] - start[p], rows);
    }
}

// Copies component c of w samples from row fy of one picture to row ty of
// another, starting at fx and tx. av_write_image_line2 cannot do this: it
// ORs into what is there.
void CopyComponent(const AVPixFmtDescriptor* desc, int c, uint8_t* const from[4], const int fromLinesize[4],
                   int fx, int fy, uint8_t* const to[4], const int toLinesize[4], int tx, int ty, int w) {
    const AVComponentDescriptor& comp = desc->comp[c];
    const uint8_t* s = from[comp.plane] + static_cast<ptrdiff_t>(fy) * fromLinesize[comp.plane] +
                       static_cast<ptrdiff_t>(fx) * comp.step + comp.offset;
    uint8_t* d = to[comp.plane] + static_cast<ptrdiff_t>(ty) * toLinesize[comp.plane] +
                 static_cast<ptrdiff_t>(tx) * comp.step + comp.offset;
    const bool bigEndian = (desc->flags & AV_PIX_FMT_FLAG_BE) != 0;
    const unsigned mask = ((1u << comp.depth) - 1) << comp.shift;
    for (int i = 0; i < w; i++, s += comp.step, d += comp.step) {
        if (comp.depth + comp.shift <= 8) {
            d[0] = static_cast<uint8_t>((d[0] & ~mask) | (s[0] & mask));
        } else if (bigEndian) {
            unsigned v = (((d[0] << 8) | d[1]) & ~mask) | (((s[0] << 8) | s[1]) & mask);
            d[0] = static_cast<uint8_t>(v >> 8);
            d[1] = static_cast<uint8_t>(v);
        } else {
            unsigned v = (((d[1] << 8) | d[0]) & ~mask) | (((s[1] << 8) | s[0]) & mask);
            d[0] = static_cast<uint8_t>(v);
            d[1] = static_cast<uint8_t>(v >> 8);
        }
    }
}

// Puts the frame's own alpha back into the converted window over box.
void KeepAlpha(const AVFrame* frame, AVFrame* back, PixelRect box, PixelRect window) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
    const int alpha = desc->nb_components - 1;  // alpha is always the last component
    for (int y = box.y; y < box.y + box.height; y++)
        CopyComponent(desc, alpha, frame->data, frame->linesize, box.x, y, back->data, back->linesize,
                      box.x - window.x, y - window.y, box.width);
}

struct Active {
    int       instance;
    PixelRect rect;  // cut to the frame
    PixelRect r;     // rounded out
};

}  // namespace

AVPixelFormat SwscaleFormat(AVPixelFormat format) {
    switch (format) {
    case AV_PIX_FMT_YUVJ420P: return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P: return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P: return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P: return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P: return AV_PIX_FMT_YUV411P;
    default: return format;
    }
}

ScalerPtr OpenConversion(int fromWidth, int fromHeight, AVPixelFormat from, int toWidth, int toHeight,
                           AVPixelFormat to, int flags, AVColorSpace matrix, bool fromFullRange,
                           bool toFullRange) {
    ScalerPtr context(sws_getContext(fromWidth, fromHeight, SwscaleFormat(from), toWidth, toHeight,
                                     SwscaleFormat(to), flags, nullptr, nullptr, nullptr));
    if (!context) return nullptr;
    const int* coefficients = sws_getCoefficients(matrix);
    sws_setColorspaceDetails(context.get(), coefficients, fromFullRange, coefficients, toFullRange, 0, 1 << 16,
                             1 << 16);
    return context;
}

bool CanPatchInPlace(AVPixelFormat format) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    if (!desc) return false;
    const uint64_t refused = AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_PAL |
                             AV_PIX_FMT_FLAG_BAYER | AV_PIX_FMT_FLAG_FLOAT;
    if (desc->flags & refused) return false;
    // Components of a few bits packed into one byte: libswscale carries each
    // pixel's rounding error on to the pixels after it, so a window would
    // come out differently from the whole frame.
    switch (format) {
    case AV_PIX_FMT_RGB8:
    case AV_PIX_FMT_BGR8:
    case AV_PIX_FMT_RGB4_BYTE:
    case AV_PIX_FMT_BGR4_BYTE:
        return false;
    default:
        break;
    }
    for (int c = 0; c < desc->nb_components; c++)
        if (desc->comp[c].depth + desc->comp[c].shift > 16) return false;
    return sws_isSupportedInput(format) > 0 && sws_isSupportedOutput(format) > 0;
}

PictureColour ColourOf(const AVFrame* frame) {
    PictureColour c = {frame->colorspace, frame->color_range};
    if (c.matrix == AVCOL_SPC_UNSPECIFIED || c.matrix == AVCOL_SPC_RESERVED || c.matrix == AVCOL_SPC_RGB)
        c.matrix = frame->height > 576 ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M;
    if (c.range == AVCOL_RANGE_UNSPECIFIED) {
        c.range = IsGrayFormat(frame->format) || IsFullRangeYuvName(frame->format) ? AVCOL_RANGE_JPEG
                                                                                    : AVCOL_RANGE_MPEG;
    }
    return c;
}

PixelRect RoundedOutRect(const PatchSettings* settings, AVPixelFormat format, int width, int height) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    PixelRect rect = RectInFrame(settings, width, height);
    if (IsEmptyRect(rect)) return {0, 0, 0, 0};
    const int gx = 1 << desc->log2_chroma_w, gy = 1 << desc->log2_chroma_h;
    return FromEdges(RoundDown(rect.x, gx), RoundDown(rect.y, gy), std::min(RoundUp(rect.x + rect.width, gx), width),
                     std::min(RoundUp(rect.y + rect.height, gy), height));
}

PixelRect ConversionWindow(PixelRect r, AVPixelFormat format, int width, int height) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    int x0 = RoundDown(std::max(r.x - kWindowMargin, 0), kWindowAlign);
    int y0 = RoundDown(std::max(r.y - kWindowMargin, 0), kWindowAlign);
    int x1 = std::min(RoundUp(r.x + r.width + kWindowMargin, kWindowAlign), width);
    int y1 = std::min(RoundUp(r.y + r.height + kWindowMargin, kWindowAlign), height);
    if (width % (1 << desc->log2_chroma_w) != 0) {
        x0 = 0;
        x1 = width;
    }
    if (height % (1 << desc->log2_chroma_h) != 0) {
        y0 = 0;
        y1 = height;
    }
    // Never so narrow that a kernel would be shortened.
    if (x1 - x0 < 2 * kWindowMargin) {
        x1 = std::min(x0 + 2 * kWindowMargin, width);
        x0 = std::max(RoundDown(x1 - 2 * kWindowMargin, kWindowAlign), 0);
    }
    if (y1 - y0 < 2 * kWindowMargin) {
        y1 = std::min(y0 + 2 * kWindowMargin, height);
        y0 = std::max(RoundDown(y1 - 2 * kWindowMargin, kWindowAlign), 0);
    }
    return FromEdges(x0, y0, x1, y1);
}

bool PatchFrameRegions(RegionPatcher* patcher, AVFrame* frame, const PatchSettings* instances,
                       int count, int32_t frameNumber, MediaError* error) {
    const AVPixelFormat format = static_cast<AVPixelFormat>(frame->format);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    if (!CanPatchInPlace(format))
        return Failed(error, kStepFiltering, std::string("filtering: frames in ") +
                                                 (desc ? desc->name : "an unknown format") +
                                                 " cannot be patched where they are");
    const int width = frame->width, height = frame->height;

    // The instances that patch this frame, and where.
    std::vector<Active> active;
    for (int i = 0; i < count; i++) {
        if (FrameAlpha(&instances[i], frameNumber) == 0) continue;
        PixelRect rect = RectInFrame(&instances[i], width, height);
        if (IsEmptyRect(rect)) continue;
        active.push_back({i, rect, RoundedOutRect(&instances[i], format, width, height)});
    }
    if (active.empty()) return true;

    // Group the instances whose windows overlap, keeping their order.
    std::vector<std::vector<int>> groups;  // indices into active
    std::vector<PixelRect> windows;
    for (size_t a = 0; a < active.size(); a++) {
        groups.push_back({static_cast<int>(a)});
        windows.push_back(ConversionWindow(active[a].r, format, width, height));
    }
    for (bool merged = true; merged;) {
        merged = false;
        for (size_t i = 0; i < groups.size() && !merged; i++)
            for (size_t j = i + 1; j < groups.size() && !merged; j++) {
                if (!Overlap(windows[i], windows[j])) continue;
                groups[i].insert(groups[i].end(), groups[j].begin(), groups[j].end());
                std::sort(groups[i].begin(), groups[i].end());
                PixelRect all = active[groups[i][0]].r;
                for (int k : groups[i]) all = Union(all, active[k].r);
                windows[i] = ConversionWindow(all, format, width, height);
                groups.erase(groups.begin() + j);
                windows.erase(windows.begin() + j);
                merged = true;
            }
    }

    int ret = av_frame_make_writable(frame);
    if (ret < 0) return FailedAv(error, kStepFiltering, "filtering", ret);

    const PictureColour colour = ColourOf(frame);
    const bool hasAlpha = (desc->flags & AV_PIX_FMT_FLAG_ALPHA) != 0;
    for (size_t g = 0; g < groups.size(); g++) {
        const PixelRect w = windows[g];
        const int ww = w.width, wh = w.height;
        SwsContext* toBgra = ConversionContext(patcher, format, ww, wh, true, colour);
        SwsContext* fromBgra = ConversionContext(patcher, format, ww, wh, false, colour);
        if (!toBgra || !fromBgra)
            return Failed(error, kStepFiltering, std::string("filtering: libswscale cannot convert ") +
                                                     desc->name + " to and from bgra");
        if (!EnsurePicture(&patcher->bgra, AV_PIX_FMT_BGRA, ww, wh) ||
            !EnsurePicture(&patcher->back, format, ww, wh))
            return FailedAv(error, kStepFiltering, "filtering", AVERROR(ENOMEM));

        uint8_t* source[4];
        PointersAt(format, frame->data, frame->linesize, w.x, w.y, source);
        sws_scale(toBgra, source, frame->linesize, 0, wh, patcher->bgra->data, patcher->bgra->linesize);

        // The core sees the window bottom-up through its last row; each
        // instance's rectangle, already cut to the frame, moves with it.
        FrameView view = {patcher->bgra->data[0] + static_cast<ptrdiff_t>(wh - 1) * patcher->bgra->linesize[0],
                          ww, wh, -patcher->bgra->linesize[0]};
        for (int a : groups[g]) {
            PatchSettings s = instances[active[a].instance];
            s.x = active[a].rect.x - w.x;
            s.y = active[a].rect.y - w.y;
            s.width = active[a].rect.width;
            s.height = active[a].rect.height;
            PatchFrame(&s, view, frameNumber);
        }

        sws_scale(fromBgra, patcher->bgra->data, patcher->bgra->linesize, 0, wh, patcher->back->data,
                  patcher->back->linesize);
        for (int a : groups[g]) {
            const PixelRect r = active[a].r;
            if (hasAlpha) KeepAlpha(frame, patcher->back.get(), r, w);
            CopyBox(format, frame->data, frame->linesize, r, patcher->back->data, patcher->back->linesize,
                    r.x - w.x, r.y - w.y);
        }
    }
    return true;
}
