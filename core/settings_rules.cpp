// The rules that keep settings a person edits usable. Settings restored from
// a script may hold anything an int32 does, so differences are taken in 64
// bits.
#include "settings_rules.h"

static int32_t Clamp(int64_t value, int64_t lowest, int64_t highest)
{
    // The upper bound first: when the two cross, the lower one wins.
    if (value > highest)
        value = highest;
    if (value < lowest)
        value = lowest;
    return (int32_t)value;
}

static int32_t Saturate32(int64_t value)
{
    return Clamp(value, INT32_MIN, INT32_MAX);
}

// The extent the rectangle will have at least once its own field is clamped,
// so that a width or height of 0 restored from a script cannot leave room for
// a position past the frame's last column or row.
static int64_t AtLeastOne(int32_t extent)
{
    return extent < 1 ? 1 : extent;
}

void ProposeRect(PatchSettings* settings)
{
    if (!IsUnplacedRect(settings))
        return;
    settings->width  = settings->frameWidth / 5;
    settings->height = settings->frameHeight / 5;
    settings->x      = settings->frameWidth / 2 - settings->width / 2;
    settings->y      = settings->frameHeight / 2 - settings->height / 2;
}

void StoreFieldValue(PatchSettings* settings, SettingsField field, int32_t value)
{
    const int64_t frameWidth = settings->frameWidth;
    const int64_t frameHeight = settings->frameHeight;
    switch (field) {
    case kFieldX:
        settings->x = Clamp(value, 0, frameWidth - AtLeastOne(settings->width));
        break;
    case kFieldY:
        settings->y = Clamp(value, 0, frameHeight - AtLeastOne(settings->height));
        break;
    case kFieldWidth:
        settings->width = Clamp(value, 1, frameWidth - settings->x);
        break;
    case kFieldHeight:
        settings->height = Clamp(value, 1, frameHeight - settings->y);
        break;
    case kFieldFeatherWidth:
        settings->featherWidth = Clamp(value, 0, kMaxAmount);
        break;
    case kFieldFadeFrames:
        settings->fadeFrames = Clamp(value, 0, kMaxAmount);
        break;
    }
}

SpinRange FieldSpinRange(const PatchSettings* settings, SettingsField field)
{
    const int64_t frameWidth = settings->frameWidth;
    const int64_t frameHeight = settings->frameHeight;
    switch (field) {
    case kFieldX:
        return SpinRange{0, Saturate32(frameWidth - settings->width)};
    case kFieldY:
        return SpinRange{Saturate32(frameHeight - settings->height), 0};
    case kFieldWidth:
        return SpinRange{1, Saturate32(frameWidth - settings->x)};
    case kFieldHeight:
        return SpinRange{Saturate32(frameHeight - settings->y), 1};
    case kFieldFeatherWidth:
    case kFieldFadeFrames:
        break;
    }
    return SpinRange{0, kMaxAmount};
}

int32_t ReadFieldNumber(const char* text)
{
    const char* p = text;
    while (*p == ' ')
        ++p;
    if (*p < '0' || *p > '9')
        return 0;
    uint64_t value = 0;
    while (*p >= '0' && *p <= '9') {
        value = value * 10 + (uint64_t)(*p - '0');
        if (value > UINT32_MAX)
            return 0;
        ++p;
    }
    while (*p == ' ')
        ++p;
    if (*p != '\0')
        return 0;
    return (int32_t)(uint32_t)value;
}
