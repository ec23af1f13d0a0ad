// Tavrel as a frei0r filter: the hosts that load frei0r effects (FFmpeg's
// frei0r filter, MLT and so melt, Kdenlive and Shotcut, GStreamer's frei0r
// elements) get the same filter, and the same pixels, as the Windows module.
//
// Each instance keeps the parameters as the host set them and the settings
// record they make; a frame is patched with a copy of that record, so an
// update never shares writable state with another update or with a
// parameter being set from another thread.
// The header declares the entry points for C; they are the only symbols the
// module exports.
extern "C" {
#pragma GCC visibility push(default)
#include <frei0r.h>
#pragma GCC visibility pop
}

#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "config_text.h"
#include "frame_run.h"
#include "script_line.h"

namespace {

enum Param {
    kParamX,
    kParamY,
    kParamWidth,
    kParamHeight,
    kParamFeather,
    kParamFeatherWidth,
    kParamFade,
    kParamFadeLength,
    kParamCancelTop,
    kParamCancelBottom,
    kParamCancelLeft,
    kParamCancelRight,
    kParamRanges,
    kParamFrameRate,
    kParamConfig,
    kParamCount,
};

struct ParamDescription {
    const char* name;
    int         type;
    const char* explanation;
    int         configNumber;  // the Config line's number it sets, or -1
};

const ParamDescription kParams[kParamCount] = {
    {"x", F0R_PARAM_DOUBLE, "Left edge of the rectangle, in pixels from the left", kConfigX},
    {"y", F0R_PARAM_DOUBLE, "Top edge of the rectangle, in pixels from the top", kConfigY},
    {"width", F0R_PARAM_DOUBLE, "Width of the rectangle, in pixels", kConfigWidth},
    {"height", F0R_PARAM_DOUBLE, "Height of the rectangle, in pixels", kConfigHeight},
    {"feather", F0R_PARAM_BOOL, "Blend the patch into its surroundings", kConfigFeatherOn},
    {"feather width", F0R_PARAM_DOUBLE, "Width of the blend, in pixels", kConfigFeatherWidth},
    {"fade", F0R_PARAM_BOOL, "Fade the patch in and out around each frame range", kConfigFadeOn},
    {"fade length", F0R_PARAM_DOUBLE, "Length of each fade, in frames", kConfigFadeFrames},
    {"cancel top", F0R_PARAM_BOOL, "Take the top edge's colours from the bottom edge", kConfigCancelTop},
    {"cancel bottom", F0R_PARAM_BOOL, "Take the bottom edge's colours from the top edge", kConfigCancelBottom},
    {"cancel left", F0R_PARAM_BOOL, "Take the left edge's colours from the right edge", kConfigCancelLeft},
    {"cancel right", F0R_PARAM_BOOL, "Take the right edge's colours from the left edge", kConfigCancelRight},
    {"ranges", F0R_PARAM_STRING,
     "Frame ranges to patch, \"start end\" pairs separated by commas or line breaks; "
     "empty patches every frame", -1},
    {"frame rate", F0R_PARAM_DOUBLE,
     "Frames per unit of the host's time: the frame rate where the host counts seconds "
     "(MLT, GStreamer), a thousandth of it where it counts milliseconds (FFmpeg)", -1},
    {"config", F0R_PARAM_STRING,
     "A whole Config(...) line as the Windows module saves it; when set it decides "
     "everything but the frame rate", -1},
};

const double kDefaultFrameRate = 25.0;

struct Instance {
    int32_t width;
    int32_t height;

    std::mutex  lock;  // guards everything below
    double      numbers[kParamCount];  // the double and bool parameters
    std::string ranges;
    std::string config;
    bool        configReadable;  // false: frames pass through unchanged
    PatchSettings settings;       // made from the parameters, copied by each update
};

// A host's double as a pixel or frame count: rounded to nearest, clamped to
// what an int32 holds, NaN as 0.
int32_t ToInt32(double value) {
    if (!(value == value)) return 0;
    if (value <= static_cast<double>(INT32_MIN)) return INT32_MIN;
    if (value >= static_cast<double>(INT32_MAX)) return INT32_MAX;
    return static_cast<int32_t>(floor(value + 0.5));
}

// Frei0r's bools travel as doubles; NaN reads as off.
bool ToBool(double value) { return value >= 0.5; }

// Remakes the settings record after a parameter changed. A config line that
// does not read leaves every frame unchanged rather than patching where the
// other parameters happen to point.
void RemakeSettings(Instance* instance, bool configChanged) {
    ConfigCall call = DefaultConfigCall();
    instance->configReadable = true;
    if (!instance->config.empty()) {
        std::string error;
        if (!ParseConfigCall(instance->config.c_str(), &call, &error)) {
            instance->configReadable = false;
            if (configChanged)
                fprintf(stderr, "tavrel: the config parameter is not a Config line (%s); "
                        "frames pass through unchanged\n", error.c_str());
            return;
        }
    } else {
        for (int i = 0; i < kParamCount; i++) {
            const int n = kParams[i].configNumber;
            if (n < 0) continue;
            call.numbers[n] = kParams[i].type == F0R_PARAM_BOOL ? ToBool(instance->numbers[i])
                                                                  : ToInt32(instance->numbers[i]);
        }
        call.rangeText = instance->ranges;
    }
    SettingsFromCall(call, &instance->settings);
}

// The frame number at the host's time; false when none can be told (a time or
// rate that is not a finite number).
bool FrameNumberAt(double time, double frameRate, int32_t* frameNumber) {
    const double frames = time * frameRate;
    if (!isfinite(frames)) return false;
    *frameNumber = ToInt32(frames);
    return true;
}

// The fourth byte of each pixel of rect, in rows from the top.
std::vector<uint8_t> SaveAlpha(const uint32_t* frame, int32_t frameWidth, PixelRect rect) {
    std::vector<uint8_t> alpha;
    alpha.reserve(static_cast<size_t>(rect.width) * rect.height);
    for (int32_t y = rect.y; y < rect.y + rect.height; y++) {
        const uint8_t* row = reinterpret_cast<const uint8_t*>(frame + static_cast<size_t>(y) * frameWidth);
        for (int32_t x = rect.x; x < rect.x + rect.width; x++) alpha.push_back(row[4 * x + 3]);
    }
    return alpha;
}

void RestoreAlpha(uint32_t* frame, int32_t frameWidth, PixelRect rect, const std::vector<uint8_t>& alpha) {
    size_t next = 0;
    for (int32_t y = rect.y; y < rect.y + rect.height; y++) {
        uint8_t* row = reinterpret_cast<uint8_t*>(frame + static_cast<size_t>(y) * frameWidth);
        for (int32_t x = rect.x; x < rect.x + rect.width; x++) row[4 * x + 3] = alpha[next++];
    }
}

}  // namespace

int f0r_init(void) { return 1; }

void f0r_deinit(void) {}

void f0r_get_plugin_info(f0r_plugin_info_t* info) {
    if (!info) return;
    info->name = "Tavrel";
    info->author = "Delbrin";
    info->plugin_type = F0R_PLUGIN_TYPE_FILTER;
    info->color_model = F0R_COLOR_MODEL_BGRA8888;
    info->frei0r_version = FREI0R_MAJOR_VERSION;
    info->major_version = 1;
    info->minor_version = 0;
    info->num_params = kParamCount;
    info->explanation = "Hides a rectangle of the picture (a logo) under a patch made from its edges";
}

void f0r_get_param_info(f0r_param_info_t* info, int index) {
    if (!info || index < 0 || index >= kParamCount) return;
    info->name = kParams[index].name;
    info->type = kParams[index].type;
    info->explanation = kParams[index].explanation;
}

f0r_instance_t f0r_construct(unsigned int width, unsigned int height) {
    // The core addresses a row with a signed 32-bit pitch.
    if (width == 0 || height == 0 || width > INT32_MAX / 4 || height > INT32_MAX) return nullptr;
    Instance* instance = new (std::nothrow) Instance;
    if (!instance) return nullptr;
    instance->width = static_cast<int32_t>(width);
    instance->height = static_cast<int32_t>(height);

    // The Windows module's defaults, but no rectangle: a fresh effect leaves
    // the picture alone until it is placed.
    const ConfigCall defaults = DefaultConfigCall();
    for (int i = 0; i < kParamCount; i++) {
        const int n = kParams[i].configNumber;
        instance->numbers[i] = n >= 0 ? defaults.numbers[n] : 0.0;
    }
    instance->numbers[kParamWidth] = 0.0;
    instance->numbers[kParamHeight] = 0.0;
    instance->numbers[kParamFrameRate] = kDefaultFrameRate;
    RemakeSettings(instance, false);
    return instance;
}

void f0r_destruct(f0r_instance_t handle) { delete static_cast<Instance*>(handle); }

void f0r_set_param_value(f0r_instance_t handle, f0r_param_t param, int index) {
    Instance* instance = static_cast<Instance*>(handle);
    if (!instance || !param || index < 0 || index >= kParamCount) return;
    std::lock_guard<std::mutex> hold(instance->lock);
    // Hosts such as MLT set every parameter before every frame: only a change
    // remakes the settings.
    if (kParams[index].type == F0R_PARAM_STRING) {
        const char* text = *static_cast<const char* const*>(param);
        if (!text) text = "";
        std::string* stored = index == kParamConfig ? &instance->config : &instance->ranges;
        if (*stored == text) return;
        *stored = text;
    } else {
        const double value = *static_cast<const double*>(param);
        if (memcmp(&instance->numbers[index], &value, sizeof value) == 0) return;
        instance->numbers[index] = value;
        if (index == kParamFrameRate) return;
    }
    RemakeSettings(instance, index == kParamConfig);
}

void f0r_get_param_value(f0r_instance_t handle, f0r_param_t param, int index) {
    Instance* instance = static_cast<Instance*>(handle);
    if (!instance || !param || index < 0 || index >= kParamCount) return;
    std::lock_guard<std::mutex> hold(instance->lock);
    if (kParams[index].type == F0R_PARAM_STRING) {
        // The host reads the instance's own copy, valid until the next set.
        const std::string& text = index == kParamConfig ? instance->config : instance->ranges;
        *static_cast<const char**>(param) = text.c_str();
    } else {
        *static_cast<double*>(param) = instance->numbers[index];
    }
}

void f0r_update(f0r_instance_t handle, double time, const uint32_t* inframe, uint32_t* outframe) {
    Instance* instance = static_cast<Instance*>(handle);
    if (!instance || !inframe || !outframe) return;

    PatchSettings settings;
    double frameRate;
    bool readable;
    {
        std::lock_guard<std::mutex> hold(instance->lock);
        settings = instance->settings;
        frameRate = instance->numbers[kParamFrameRate];
        readable = instance->configReadable;
    }

    const int32_t width = instance->width;
    const int32_t height = instance->height;
    if (inframe != outframe) memmove(outframe, inframe, static_cast<size_t>(width) * height * 4);
    int32_t frameNumber;
    if (!readable || !FrameNumberAt(time, frameRate, &frameNumber)) return;

    // The picture is stored top-down; the core sees it through its last row.
    FrameView view;
    view.data = reinterpret_cast<uint8_t*>(outframe + static_cast<size_t>(height - 1) * width);
    view.width = width;
    view.height = height;
    view.pitch = -width * 4;

    // The core leaves the patch's fourth byte 0, which a compositing host
    // would show as a hole: the input's alpha is put back.
    const PixelRect rect = RectInFrame(&settings, width, height);
    const std::vector<uint8_t> alpha = SaveAlpha(inframe, width, rect);
    if (PatchFrame(&settings, view, frameNumber)) RestoreAlpha(outframe, width, rect, alpha);
}
