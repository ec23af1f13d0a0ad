// De-blending decoded frames in their own format: see frame_deblend.h.
#include "frame_deblend.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "av_owners.h"

bool CanDeblendInPlace(int format)
{
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format));
    if (!d || !(d->flags & AV_PIX_FMT_FLAG_PLANAR) || (d->flags & (AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM |
                                                                    AV_PIX_FMT_FLAG_FLOAT | AV_PIX_FMT_FLAG_BE)))
        return false;
    const int colours = d->nb_components - ((d->flags & AV_PIX_FMT_FLAG_ALPHA) ? 1 : 0);
    if (colours != 1 && colours != 3) return false;
    for (int c = 0; c < colours; c++) {
        const AVComponentDescriptor& comp = d->comp[c];
        const int bytes = comp.depth <= 8 ? 1 : 2;
        // Each colour in a plane of its own, one whole sample at a time.
        if (comp.depth < 8 || comp.depth > 16 || comp.step != bytes || comp.shift != 0 || comp.offset != 0)
            return false;
        for (int other = 0; other < c; other++)
            if (d->comp[other].plane == comp.plane) return false;
    }
    return true;
}

FramePlanes PlanesOf(const AVFrame* frame)
{
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
    FramePlanes fp{};
    fp.count = d->nb_components - ((d->flags & AV_PIX_FMT_FLAG_ALPHA) ? 1 : 0);
    fp.rgb = (d->flags & AV_PIX_FMT_FLAG_RGB) != 0;
    fp.chromaShiftX = d->log2_chroma_w;
    fp.chromaShiftY = d->log2_chroma_h;
    for (int c = 0; c < fp.count; c++) {
        // Planar RGB keeps green first: its components are listed R, G, B
        // but stored G, B, R, and luma's place goes to green.
        const int component = fp.rgb ? (c == 0 ? 1 : c == 1 ? 2 : 0) : c;
        const AVComponentDescriptor& comp = d->comp[component];
        const bool chroma = c > 0 && !fp.rgb;
        const int w = chroma ? AV_CEIL_RSHIFT(frame->width, d->log2_chroma_w) : frame->width;
        const int h = chroma ? AV_CEIL_RSHIFT(frame->height, d->log2_chroma_h) : frame->height;
        fp.planes[c] = SamplePlane{ frame->data[comp.plane], frame->linesize[comp.plane], w, h, comp.depth };
    }
    return fp;
}

bool DeblendFrame(const LogoModel& logo, const PatchSettings* opaquePart, RegionPatcher* patcher, AVFrame* frame,
                  int32_t frameNumber, MediaError* error)
{
    if (!CanDeblendInPlace(frame->format))
        return Failed(error, kStepFiltering, "filtering: the frames' pixel format changed to one that cannot be "
                                             "de-blended where it is");
    const float limit = kDeblendLimitDefault / 100.0f;
    FramePtr patched;
    if (opaquePart) {
        // The patch reads only the margin of picture around the logo, which
        // de-blending leaves alone, so it is made from the frame as decoded.
        patched.reset(av_frame_clone(frame));
        if (!patched || av_frame_make_writable(patched.get()) < 0)
            return Failed(error, kStepFiltering, "filtering: out of memory");
        if (!PatchFrameRegions(patcher, patched.get(), opaquePart, 1, frameNumber, error)) return false;
    }
    if (av_frame_make_writable(frame) < 0) return Failed(error, kStepFiltering, "filtering: out of memory");
    const FramePlanes planes = PlanesOf(frame);
    if (planes.count != logo.planeCount || planes.chromaShiftX != logo.chromaShiftX ||
        planes.chromaShiftY != logo.chromaShiftY || planes.planes[0].width != logo.frameWidth ||
        planes.planes[0].height != logo.frameHeight)
        return Failed(error, kStepFiltering, "filtering: the frame's size or planes changed from the first frame's");
    FramePlanes patchedPlanes{};
    if (patched) patchedPlanes = PlanesOf(patched.get());
    for (int p = 0; p < planes.count; p++) {
        // Measured before the plane changes: the ring is outside the logo.
        const float noise = NoiseAround(planes.planes[p], logo.planes[p].box);
        DeblendPlane(logo.planes[p], limit, noise, patched ? &patchedPlanes.planes[p] : nullptr, planes.planes[p]);
    }
    return true;
}
