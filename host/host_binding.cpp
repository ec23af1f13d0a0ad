// The host's conventions around the filter core: the run callback's frame
// and frame number, and the Config script function's arguments.
#include "host_binding.h"

#include <stddef.h>

#include "frame_run.h"
#include "script_line.h"

const char kConfigFunctionName[] = "Config";
const char kConfigFunctionSignature[] = "0iiiiiiiiiiiis";

int CacheFrameSize(PatchSettings* settings, const Activation* activation)
{
    if (activation != NULL && activation->source != NULL) {
        settings->frameWidth  = activation->source->width;
        settings->frameHeight = activation->source->height;
    }
    return 0;
}

int RunFrame(const Activation* activation)
{
    if (activation == NULL || activation->settings == NULL)
        return 0;
    PatchSettings* settings = activation->settings;

    // The host duplicates an instance by copying its record byte for byte,
    // so a copy still designates the activation of the instance it came
    // from, which may since have been deleted. The activation the host runs
    // this record with is the record's own: adopt it before reading the
    // frame size through it.
    settings->activation = (Activation*)activation;
    CacheFrameSize(settings, settings->activation);

    HostBitmap* source      = activation->source;
    HostBitmap* destination = activation->destination;
    if (source == NULL || destination == NULL)
        return 0;

    // Work in place: the output designates the input's pixels, and every
    // pixel not written passes through unchanged.
    destination->data = source->data;
    if (activation->frameState == NULL)
        return 0;

    FrameView frame = { (uint8_t*)source->data, source->width, source->height,
                        (int32_t)source->pitch };
    PatchFrame(settings, frame, activation->frameState->currentFrame);
    return 0;
}

void ApplyConfig(void* interpreter, void* activation, const ScriptValue* arguments, int count)
{
    (void)interpreter;
    Activation* instance = (Activation*)activation;
    // The host checks a call against the signature before it calls, so the
    // thirteen arguments are there; the count is not looked at, as hosts
    // differ in what they pass for it.
    (void)count;
    if (instance == NULL || instance->settings == NULL || arguments == NULL)
        return;

    // Some hosts pass the integers as 64-bit values; their low 32 bits sit
    // where a 32-bit integer would, so the tag is not looked at.
    int32_t numbers[kConfigNumberCount];
    for (int i = 0; i < kConfigNumberCount; ++i)
        numbers[i] = arguments[i].value.number;
    char** text = arguments[kConfigNumberCount].value.text;
    StoreConfig(instance->settings, numbers, text != NULL ? *text : NULL);
}
