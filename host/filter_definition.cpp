// The filter definition record and its script object.
//
// This file is compiled with GBK as its execution character set: the host
// shows the name, description and maker as code page 936 text, so the
// literals below are stored as GBK bytes although the source is UTF-8.
#include "filter_callbacks.h"

#include "host_binding.h"
#include "patch_settings.h"

static const char kFilterName[] = "Tavrel";
static const char kFilterMaker[] = "(外挂) 视频滤镜";
static const char kFilterDescription[] =
    "Tavrel 版本 1.2\n"
    "> 2008.1.25\n"
    "本滤镜多用于: 去除视频上叠加的水印,台标等 或 剪除视频画面像素内容!";

// The script function table ends with an all-null entry.
static ScriptFunctionEntry gScriptFunctions[] = {
    { ApplyConfig, kConfigFunctionName, kConfigFunctionSignature },
    { nullptr, nullptr, nullptr },
};

static ScriptObject gScriptObject = { nullptr, gScriptFunctions, nullptr, nullptr };

FilterDefinition gFilterDefinition = {
    nullptr,                // next: the host links its records
    nullptr,                // previous
    nullptr,                // module: the host fills it in its copy
    kFilterName,
    kFilterDescription,
    kFilterMaker,
    nullptr,                // private data
    sizeof(PatchSettings),  // instance data the host allocates per instance
    FilterInit,
    nullptr,                // no deinit callback
    FilterRun,
    FilterParam,
    FilterConfig,
    FilterString,
    FilterStart,
    FilterEnd,
    &gScriptObject,
    FilterScriptString,
};
