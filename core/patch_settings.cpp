// The settings record's defaults and the pixel addressing of a frame.
#include "patch_settings.h"

uint32_t* PixelAt(const FrameView* view, int32_t x, int32_t y)
{
    // Rows are stored bottom-up: image row y is stored row height - 1 - y.
    ptrdiff_t storedRow = (ptrdiff_t)view->height - 1 - y;
    return (uint32_t*)(view->data + storedRow * view->pitch + (ptrdiff_t)4 * x);
}

int InitSettings(PatchSettings* settings, Activation* activation)
{
    settings->activation = activation;
    // A 1 x 1 rectangle at (0, 0) tells the dialog that nobody has placed the
    // rectangle yet, so it proposes a centred one.
    settings->width        = 1;
    settings->height       = 1;
    settings->featherWidth = 10;
    settings->x            = 0;
    settings->y            = 0;
    settings->showBorder   = 0;
    settings->cancelTop    = 0;
    settings->cancelBottom = 0;
    settings->cancelLeft   = 0;
    settings->cancelRight  = 0;
    settings->featherOn    = 0;
    settings->fadeFrames   = 5;
    settings->fadeOn       = 0;
    settings->rangeCount   = 0;
    return 0;
}

bool IsUnplacedRect(const PatchSettings* settings)
{
    return settings->width == 1 && settings->height == 1 && settings->x == 0 && settings->y == 0;
}
