// The multiplying row kernels, written once for every vector width. The file
// that includes this defines:
//   Vec, kVecLanes        the vector type and its number of 16-bit lanes
//   KERNEL_INLINE         attributes of the helpers (the instruction set)
//   KERNEL_ENTRY          attributes of the kernels the table points to
//   KERNEL_NAME(name)     the kernels' names for this instruction set
//   VecLoad, VecStore, VecSplat, VecPixelPattern (four lanes repeated),
//   VecWidenLow, VecWidenHigh, VecNarrow,
//   VecAdd, VecSub, VecAnd, VecXor, VecLess (signed, all ones where a < b),
//   VecMulLow, VecMulHigh, VecSubSaturate, VecShiftRight, VecShiftLeft
// A block is two vectors of lanes: the pixels one VecLoad of bytes holds.
// Widening a block's bytes splits its pixels between the two vectors in the
// order the column tables are laid out in, and narrowing puts them back.

enum { kBlockPixels = 2 * kVecLanes / kLanesPerPixel };

// The colour lanes of a pixel, and the colour bytes of two pixels; the fourth
// byte is never read as a sample.
static const uint64_t kColourLanes = 0x000000FF00FF00FFull;
static const uint64_t kColourBytes = 0x00FFFFFF00FFFFFFull;

// The top-to-bottom tables of one vector of lanes: the difference from top
// to bottom as magnitude and sign, and 256 * (top - sign).
KERNEL_INLINE void DownLanes(Vec top, Vec bottom, uint16_t* magnitude, uint16_t* sign,
                             uint16_t* base)
{
    Vec difference = VecSub(bottom, top);
    Vec negative = VecLess(difference, VecSplat(0));
    VecStore(magnitude, VecSub(VecXor(difference, negative), negative));
    VecStore(sign, negative);
    VecStore(base, VecShiftLeft(VecSub(top, negative), 8));
}

KERNEL_INLINE void DownBlock(PatchPlan* plan, size_t lane, const uint8_t* top,
                             const uint8_t* bottom)
{
    const Vec colour = VecPixelPattern(kColourLanes);
    Vec topBytes = VecLoad(top), bottomBytes = VecLoad(bottom);
    DownLanes(VecAnd(VecWidenLow(topBytes), colour), VecAnd(VecWidenLow(bottomBytes), colour),
              plan->downMagnitude + lane, plan->downSign + lane, plan->downBase + lane);
    lane += kVecLanes;
    DownLanes(VecAnd(VecWidenHigh(topBytes), colour), VecAnd(VecWidenHigh(bottomBytes), colour),
              plan->downMagnitude + lane, plan->downSign + lane, plan->downBase + lane);
}

KERNEL_ENTRY void KERNEL_NAME(SetDownTables)(PatchPlan* plan, const uint8_t* top,
                                             const uint8_t* bottom)
{
    const int32_t width = plan->width;
    int32_t k = 0;
    for (; k + kBlockPixels <= width; k += kBlockPixels)
        DownBlock(plan, (size_t)k * kLanesPerPixel, top + (size_t)4 * k, bottom + (size_t)4 * k);
    // The last pixels through a block of their own; the padding columns come
    // out as nothing to blend.
    if (k < plan->paddedWidth) {
        uint8_t topTail[4 * kBlockPixels] = { 0 }, bottomTail[4 * kBlockPixels] = { 0 };
        memcpy(topTail, top + (size_t)4 * k, (size_t)4 * (width - k));
        memcpy(bottomTail, bottom + (size_t)4 * k, (size_t)4 * (width - k));
        DownBlock(plan, (size_t)k * kLanesPerPixel, topTail, bottomTail);
    }
}

// a * high + ((a * low) >> 16) for a = 0...255 and m = high * 2^16 + low below
// 2^24: (a * m) >> 24 in the high byte.
KERNEL_INLINE Vec ScaledQuotient(Vec a, Vec high, Vec low)
{
    return VecAdd(VecMulLow(a, high), VecMulHigh(a, low));
}

// What the lanes of one row share: the row's left-to-right samples and its
// place between top and bottom, and the tables read along the row.
struct KERNEL_NAME(RowTerms) {
    Vec acrossMagnitude, acrossSign, acrossBase;
    Vec downHigh, downLow;
    const uint16_t* acrossHigh;
    const uint16_t* acrossLow;
    const uint16_t* downMagnitude;
    const uint16_t* downSign;
    const uint16_t* downBase;
};

// Half of the left-to-right blend plus half of the top-to-bottom blend, for
// the vector of lanes starting at lane. Both blends come in the high byte.
KERNEL_INLINE Vec SynthesizeLanes(const KERNEL_NAME(RowTerms)* terms, size_t lane)
{
    Vec across = ScaledQuotient(terms->acrossMagnitude, VecLoad(terms->acrossHigh + lane),
                                VecLoad(terms->acrossLow + lane));
    Vec h = VecAdd(terms->acrossBase, VecXor(across, terms->acrossSign));
    Vec down = ScaledQuotient(VecLoad(terms->downMagnitude + lane), terms->downHigh, terms->downLow);
    Vec v = VecAdd(VecLoad(terms->downBase + lane), VecXor(down, VecLoad(terms->downSign + lane)));
    return VecAdd(VecShiftRight(h, 9), VecShiftRight(v, 9));
}

KERNEL_ENTRY void KERNEL_NAME(SynthesizeRow)(const PatchPlan* plan,
                                             const PatchRowSamples* samples, uint8_t* out)
{
    KERNEL_NAME(RowTerms) terms;
    terms.acrossMagnitude = VecPixelPattern(samples->acrossMagnitude);
    terms.acrossSign = VecPixelPattern(samples->acrossSign);
    terms.acrossBase = VecPixelPattern(samples->acrossBase);
    const uint32_t m = plan->downMultiplier[samples->row];
    terms.downHigh = VecSplat((uint16_t)(m >> 16));
    terms.downLow  = VecSplat((uint16_t)m);
    terms.acrossHigh = plan->acrossHigh;
    terms.acrossLow = plan->acrossLow;
    terms.downMagnitude = plan->downMagnitude;
    terms.downSign = plan->downSign;
    terms.downBase = plan->downBase;

    const int32_t width = plan->width;
    int32_t k = 0;
    for (; k + kBlockPixels <= width; k += kBlockPixels) {
        size_t lane = (size_t)k * kLanesPerPixel;
        Vec low  = SynthesizeLanes(&terms, lane);
        Vec high = SynthesizeLanes(&terms, lane + kVecLanes);
        VecStore(out + (size_t)4 * k, VecNarrow(low, high));
    }
    // The last pixels through a block of their own: out may be the frame.
    if (k < width) {
        size_t lane = (size_t)k * kLanesPerPixel;
        uint8_t tail[4 * kBlockPixels];
        Vec low  = SynthesizeLanes(&terms, lane);
        Vec high = SynthesizeLanes(&terms, lane + kVecLanes);
        VecStore(tail, VecNarrow(low, high));
        memcpy(out + (size_t)4 * k, tail, (size_t)4 * (width - k));
    }
}

// frame * (255 - a) / 255 + patch * a / 255 with a = max(weight - cut, 0);
// colourMask is 255 in the colour lanes and 0 in the fourth, where the
// weight is 0 too, so the fourth byte comes out 0.
KERNEL_INLINE Vec BlendLanes(Vec frame, Vec patch, Vec weight, Vec cut, Vec colourMask)
{
    const Vec div255 = VecSplat(kDiv255Multiplier);
    Vec a = VecSubSaturate(weight, cut);
    Vec keep = VecXor(a, colourMask);
    Vec fromFrame = VecShiftRight(VecMulHigh(VecMulLow(frame, keep), div255), kDiv255Shift);
    Vec fromPatch = VecShiftRight(VecMulHigh(VecMulLow(patch, a), div255), kDiv255Shift);
    return VecAdd(fromFrame, fromPatch);
}

KERNEL_INLINE void CompositeBlock(const uint16_t* weight, Vec cut, Vec colourMask,
                                  const uint32_t* patch, uint8_t* frame)
{
    Vec frameBytes = VecLoad(frame);
    Vec patchBytes = VecLoad(patch);
    Vec low = BlendLanes(VecWidenLow(frameBytes), VecWidenLow(patchBytes), VecLoad(weight), cut,
                         colourMask);
    Vec high = BlendLanes(VecWidenHigh(frameBytes), VecWidenHigh(patchBytes),
                          VecLoad(weight + kVecLanes), cut, colourMask);
    VecStore(frame, VecNarrow(low, high));
}

// Blends the row's pixels from..to - 1; from is a multiple of the block.
KERNEL_INLINE void CompositeStretch(const PatchPlan* plan, Vec cut, Vec colourMask, int32_t from,
                                    int32_t to, const uint32_t* patchRow, uint8_t* frameRow)
{
    const uint16_t* weight = plan->columnWeight;
    int32_t k = from;
    for (; k + kBlockPixels <= to; k += kBlockPixels)
        CompositeBlock(weight + (size_t)k * kLanesPerPixel, cut, colourMask, patchRow + k,
                       frameRow + (size_t)4 * k);

    // The last pixels go through a block of their own: nothing beyond them
    // is read or written.
    if (k < to) {
        uint8_t tail[4 * kBlockPixels] = { 0 };
        size_t bytes = (size_t)4 * (to - k);
        memcpy(tail, frameRow + (size_t)4 * k, bytes);
        CompositeBlock(weight + (size_t)k * kLanesPerPixel, cut, colourMask, patchRow + k, tail);
        memcpy(frameRow + (size_t)4 * k, tail, bytes);
    }
}

KERNEL_ENTRY void KERNEL_NAME(CompositeRow)(const PatchPlan* plan, int32_t row,
                                            const uint32_t* patchRow, uint8_t* frameRow)
{
    const Vec colourMask = VecPixelPattern(kColourLanes);
    const uint16_t cutOfRow = plan->weightCut[row];
    const Vec cut = VecSplat(cutOfRow);
    int32_t from = 0;

    // Where a = 255 the blend gives the patch's colour and a fourth byte 0.
    if (cutOfRow == 0) {
        int32_t fullFrom = (plan->fullFrom + kBlockPixels - 1) & -kBlockPixels;
        int32_t fullTo = plan->fullTo & -kBlockPixels;
        if (fullTo > fullFrom) {
            CompositeStretch(plan, cut, colourMask, 0, fullFrom, patchRow, frameRow);
            const Vec colourBytes = VecPixelPattern(kColourBytes);
            for (int32_t k = fullFrom; k < fullTo; k += kBlockPixels)
                VecStore(frameRow + (size_t)4 * k, VecAnd(VecLoad(patchRow + k), colourBytes));
            from = fullTo;
        }
    }
    CompositeStretch(plan, cut, colourMask, from, plan->width, patchRow, frameRow);
}
