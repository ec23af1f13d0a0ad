// tavrel.so driven through its frei0r entry points, loaded with dlopen as a
// host loads it: its frames against the core's, the Config line against the
// separate parameters, hostile values and several threads on one instance.
#include <dlfcn.h>
#include <math.h>
#include <string.h>

#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

extern "C" {
#include <frei0r.h>
}

#include "config_text.h"
#include "frame_run.h"
#include "script_line.h"

namespace {

enum {
    kX, kY, kWidth, kHeight, kFeather, kFeatherWidth, kFade, kFadeLength,
    kCancelTop, kCancelBottom, kCancelLeft, kCancelRight, kRanges, kFrameRate, kConfig, kParams,
};

struct Plugin {
    void* handle = nullptr;
    int (*init)();
    void (*deinit)();
    void (*getPluginInfo)(f0r_plugin_info_t*);
    void (*getParamInfo)(f0r_param_info_t*, int);
    f0r_instance_t (*construct)(unsigned, unsigned);
    void (*destruct)(f0r_instance_t);
    void (*setParam)(f0r_instance_t, f0r_param_t, int);
    void (*getParam)(f0r_instance_t, f0r_param_t, int);
    void (*update)(f0r_instance_t, double, const uint32_t*, uint32_t*);
};

template <typename F>
void Bind(void* handle, const char* name, F* function) {
    *function = reinterpret_cast<F>(dlsym(handle, name));
    ASSERT_NE(*function, nullptr) << name;
}

const Plugin& Loaded() {
    static Plugin plugin = [] {
        Plugin p;
        p.handle = dlopen(TAVREL_PLUGIN, RTLD_NOW | RTLD_LOCAL);
        EXPECT_NE(p.handle, nullptr) << dlerror();
        if (!p.handle) abort();
        Bind(p.handle, "f0r_init", &p.init);
        Bind(p.handle, "f0r_deinit", &p.deinit);
        Bind(p.handle, "f0r_get_plugin_info", &p.getPluginInfo);
        Bind(p.handle, "f0r_get_param_info", &p.getParamInfo);
        Bind(p.handle, "f0r_construct", &p.construct);
        Bind(p.handle, "f0r_destruct", &p.destruct);
        Bind(p.handle, "f0r_set_param_value", &p.setParam);
        Bind(p.handle, "f0r_get_param_value", &p.getParam);
        Bind(p.handle, "f0r_update", &p.update);
        EXPECT_EQ(p.init(), 1);
        return p;
    }();
    return plugin;
}

// One instance, destroyed with the test.
struct Effect {
    const Plugin& p = Loaded();
    f0r_instance_t instance;
    int width, height;
    Effect(int w, int h) : instance(p.construct(w, h)), width(w), height(h) {
        EXPECT_NE(instance, nullptr);
    }
    ~Effect() { p.destruct(instance); }
    void Set(int index, double value) { p.setParam(instance, &value, index); }
    void Set(int index, const char* text) { p.setParam(instance, &text, index); }
    std::vector<uint32_t> Run(const std::vector<uint32_t>& in, double time) {
        std::vector<uint32_t> out(in.size(), 0xDEADBEEF);
        p.update(instance, time, in.data(), out.data());
        return out;
    }
};

std::vector<uint32_t> RandomFrame(int w, int h, std::mt19937* random) {
    std::vector<uint32_t> frame(static_cast<size_t>(w) * h);
    for (uint32_t& pixel : frame) pixel = (*random)();
    return frame;
}

// What the filter makes of a top-down frame: the core run on the picture
// stored the Windows host's way (bottom row first, positive pitch), and the
// input's alpha kept in every pixel.
std::vector<uint32_t> CorePatched(const std::vector<uint32_t>& in, int w, int h, const ConfigCall& call,
                                  int32_t frameNumber) {
    std::vector<uint32_t> bottomUp(in.size());
    for (int y = 0; y < h; y++)
        memcpy(&bottomUp[static_cast<size_t>(h - 1 - y) * w], &in[static_cast<size_t>(y) * w], w * 4);
    PatchSettings settings;
    memset(&settings, 0, sizeof settings);
    InitSettings(&settings, nullptr);
    StoreConfig(&settings, call.numbers, call.rangeText.c_str());
    FrameView view = {reinterpret_cast<uint8_t*>(bottomUp.data()), w, h, w * 4};
    PatchFrame(&settings, view, frameNumber);
    std::vector<uint32_t> out(in.size());
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            const size_t i = static_cast<size_t>(y) * w + x;
            out[i] = (bottomUp[static_cast<size_t>(h - 1 - y) * w + x] & 0x00FFFFFF) | (in[i] & 0xFF000000);
        }
    return out;
}

std::string ConfigLine(const ConfigCall& call) {
    std::string line = "Config(";
    for (int i = 0; i < kConfigNumberCount; i++) line += std::to_string(call.numbers[i]) + ", ";
    return line + "\"" + call.rangeText + "\")";
}

// The same settings through the separate parameters, the pixel amounts off
// whole numbers by less than a half so that they round back.
void SetSeparately(Effect* effect, const ConfigCall& call, std::mt19937* random) {
    std::uniform_real_distribution<double> off(-0.49, 0.49);
    const struct { int param, number; } amounts[] = {
        {kX, kConfigX}, {kY, kConfigY}, {kWidth, kConfigWidth}, {kHeight, kConfigHeight},
        {kFeatherWidth, kConfigFeatherWidth}, {kFadeLength, kConfigFadeFrames},
    };
    for (const auto& a : amounts) effect->Set(a.param, call.numbers[a.number] + off(*random));
    const struct { int param, number; } switches[] = {
        {kFeather, kConfigFeatherOn}, {kFade, kConfigFadeOn}, {kCancelTop, kConfigCancelTop},
        {kCancelBottom, kConfigCancelBottom}, {kCancelLeft, kConfigCancelLeft}, {kCancelRight, kConfigCancelRight},
    };
    for (const auto& s : switches) effect->Set(s.param, call.numbers[s.number] ? 1.0 : 0.0);
    effect->Set(kRanges, call.rangeText.c_str());
}

ConfigCall RandomCall(int w, int h, std::mt19937* random) {
    static const char* const kRangeTexts[] = {"", "2 5", "2 5, 8 10, ", "0 3\r\n6 9", "1 100", "4 4 junk"};
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(*random); };
    ConfigCall call = DefaultConfigCall();
    call.numbers[kConfigX] = pick(-4, w);
    call.numbers[kConfigY] = pick(-4, h);
    call.numbers[kConfigWidth] = pick(0, w + 4);
    call.numbers[kConfigHeight] = pick(0, h + 4);
    for (int n : {kConfigFeatherOn, kConfigFadeOn, kConfigCancelTop, kConfigCancelBottom, kConfigCancelLeft,
                  kConfigCancelRight})
        call.numbers[n] = pick(0, 1);
    call.numbers[kConfigFeatherWidth] = pick(0, 12);
    call.numbers[kConfigFadeFrames] = pick(0, 4);
    call.rangeText = kRangeTexts[pick(0, 5)];
    return call;
}

TEST(TavrelPlugin, DescribesItselfAsABgraFilterWithFifteenParameters) {
    const Plugin& p = Loaded();
    f0r_plugin_info_t info;
    p.getPluginInfo(&info);
    EXPECT_STREQ(info.name, "Tavrel");
    EXPECT_EQ(info.plugin_type, F0R_PLUGIN_TYPE_FILTER);
    EXPECT_EQ(info.color_model, F0R_COLOR_MODEL_BGRA8888);
    EXPECT_EQ(info.frei0r_version, FREI0R_MAJOR_VERSION);
    ASSERT_EQ(info.num_params, kParams);
    const int expectedTypes[kParams] = {
        F0R_PARAM_DOUBLE, F0R_PARAM_DOUBLE, F0R_PARAM_DOUBLE, F0R_PARAM_DOUBLE, F0R_PARAM_BOOL,
        F0R_PARAM_DOUBLE, F0R_PARAM_BOOL,   F0R_PARAM_DOUBLE, F0R_PARAM_BOOL,   F0R_PARAM_BOOL,
        F0R_PARAM_BOOL,   F0R_PARAM_BOOL,   F0R_PARAM_STRING, F0R_PARAM_DOUBLE, F0R_PARAM_STRING,
    };
    for (int i = 0; i < kParams; i++) {
        f0r_param_info_t param = {nullptr, -1, nullptr};
        p.getParamInfo(&param, i);
        ASSERT_NE(param.name, nullptr);
        EXPECT_EQ(param.type, expectedTypes[i]) << param.name;
    }
    // A fresh effect changes nothing.
    Effect effect(16, 12);
    std::mt19937 random(1);
    const std::vector<uint32_t> in = RandomFrame(16, 12, &random);
    EXPECT_EQ(effect.Run(in, 0.0), in);
}

// The property the hosts rely on: for any settings, either way of giving
// them, at the host's time in seconds or in milliseconds, in place or not,
// the plug-in's frame is the core's.
TEST(TavrelPlugin, FramesMatchTheCoreForRandomSettings) {
    std::mt19937 random(20261207);
    for (int trial = 0; trial < 300; trial++) {
        const int w = std::uniform_int_distribution<int>(1, 40)(random);
        const int h = std::uniform_int_distribution<int>(1, 30)(random);
        const ConfigCall call = RandomCall(w, h, &random);
        const int32_t frameNumber = std::uniform_int_distribution<int>(0, 12)(random);
        const std::vector<uint32_t> in = RandomFrame(w, h, &random);
        Effect effect(w, h);
        const bool byConfig = trial % 2 == 0;
        if (byConfig) {
            effect.Set(kConfig, ConfigLine(call).c_str());
        } else {
            SetSeparately(&effect, call, &random);
        }
        const bool milliseconds = trial % 3 == 0;
        effect.Set(kFrameRate, milliseconds ? 0.025 : 25.0);
        const double time = milliseconds ? frameNumber * 40.0 : frameNumber / 25.0;
        const std::vector<uint32_t> expected = CorePatched(in, w, h, call, frameNumber);
        SCOPED_TRACE(ConfigLine(call) + " frame " + std::to_string(frameNumber) + " " + std::to_string(w) + "x" +
                     std::to_string(h) + (byConfig ? " by config" : " by parameters"));
        ASSERT_EQ(effect.Run(in, time), expected);
        std::vector<uint32_t> inPlace = in;
        effect.p.update(effect.instance, time, inPlace.data(), inPlace.data());
        ASSERT_EQ(inPlace, expected);
    }
}

TEST(TavrelPlugin, ConfigLineWinsAndAnUnreadableOneLeavesFramesAlone) {
    std::mt19937 random(7);
    const std::vector<uint32_t> in = RandomFrame(32, 24, &random);
    Effect effect(32, 24);
    ConfigCall byParams = DefaultConfigCall();
    byParams.numbers[kConfigX] = 2;
    byParams.numbers[kConfigY] = 3;
    byParams.numbers[kConfigWidth] = 8;
    byParams.numbers[kConfigHeight] = 6;
    SetSeparately(&effect, byParams, &random);
    ConfigCall byConfig = byParams;
    byConfig.numbers[kConfigX] = 20;
    byConfig.numbers[kConfigFeatherOn] = 1;
    byConfig.numbers[kConfigFeatherWidth] = 3;

    effect.Set(kConfig, ConfigLine(byConfig).c_str());
    EXPECT_EQ(effect.Run(in, 0.0), CorePatched(in, 32, 24, byConfig, 0));
    // The host's script form, with its object path and semicolon, reads too.
    effect.Set(kConfig, ("VirtualDub.video.filters.instance[0]." + ConfigLine(byConfig) + ";").c_str());
    EXPECT_EQ(effect.Run(in, 0.0), CorePatched(in, 32, 24, byConfig, 0));

    for (const char* unreadable : {"Config(1, 2)", "patch it", "Config(8, 6, 2, 3, 0, 0, 0, 0, 0, 0, 10, 5, 7)",
                                   "Config(8, 6, 2, 3, 0, 0, 0, 0, 0, 0, 10, 99999999999, \"\")",
                                   "Config(8, 6, 2, 3, 0, 0, 0, 0, 0, 0, 10, 5, \"1 2"}) {
        effect.Set(kConfig, unreadable);
        EXPECT_EQ(effect.Run(in, 0.0), in) << unreadable;
    }
    effect.Set(kConfig, "");
    EXPECT_EQ(effect.Run(in, 0.0), CorePatched(in, 32, 24, byParams, 0));

    // The host reads back what it set.
    const char* text = nullptr;
    effect.Set(kRanges, "3 9");
    effect.p.getParam(effect.instance, &text, kRanges);
    EXPECT_STREQ(text, "3 9");
    double value = 0;
    effect.Set(kX, 4.25);
    effect.p.getParam(effect.instance, &value, kX);
    EXPECT_EQ(value, 4.25);
}

// The frame number is the host's time times the frame rate, to the nearest
// whole frame. "0 2" patches frame 1 alone.
TEST(TavrelPlugin, FrameNumberIsTheHostsTimeRoundedToNearest) {
    std::mt19937 random(3);
    const std::vector<uint32_t> in = RandomFrame(16, 16, &random);
    Effect effect(16, 16);
    effect.Set(kConfig, "Config(8, 8, 4, 4, 0, 0, 0, 0, 0, 0, 0, 0, \"0 2\")");
    effect.Set(kFrameRate, 0.025);
    const struct { double time; bool patched; } cases[] = {
        {40.0, true}, {20.1, true}, {59.9, true}, {19.9, false}, {60.1, false}, {0.0, false},
        {NAN, false}, {INFINITY, false}, {-INFINITY, false}, {1e300, false},
    };
    for (const auto& c : cases) EXPECT_EQ(effect.Run(in, c.time) != in, c.patched) << c.time;
    effect.Set(kFrameRate, NAN);
    EXPECT_EQ(effect.Run(in, 40.0), in);
}

// Whatever a host or a user sets, nothing outside the rectangle cut to the
// frame changes, no alpha changes, and nothing crashes.
TEST(TavrelPlugin, HostileValuesLeaveFramesUntouchedOrClipped) {
    const Plugin& p = Loaded();
    EXPECT_EQ(p.construct(0, 10), nullptr);
    EXPECT_EQ(p.construct(10, 0), nullptr);
    EXPECT_EQ(p.construct(0x40000000u, 1), nullptr);
    // Calls without an instance, a value or a frame are ignored.
    double value = 1;
    p.setParam(nullptr, &value, kX);
    p.getParam(nullptr, &value, kX);
    p.update(nullptr, 0, nullptr, nullptr);
    p.destruct(nullptr);
    f0r_param_info_t info = {"unchanged", -1, nullptr};
    p.getParamInfo(&info, -1);
    p.getParamInfo(&info, kParams);
    p.getParamInfo(nullptr, 0);
    EXPECT_STREQ(info.name, "unchanged");

    const int w = 24, h = 20;
    std::mt19937 random(11);
    const std::vector<uint32_t> in = RandomFrame(w, h, &random);
    Effect effect(w, h);
    effect.p.setParam(effect.instance, nullptr, kX);
    effect.p.setParam(effect.instance, &value, -1);
    effect.p.setParam(effect.instance, &value, kParams);
    effect.p.getParam(effect.instance, &value, kParams);
    effect.p.update(effect.instance, 0, in.data(), nullptr);
    const char* nothing = nullptr;
    effect.p.setParam(effect.instance, &nothing, kRanges);
    effect.p.setParam(effect.instance, &nothing, kConfig);

    const double hostile[] = {NAN, INFINITY, -INFINITY, 1e300, -1e300, 2147483647.5, -2147483648.7,
                              4294967296.0, -3.0, 5e-324};
    const int numbers[] = {kX, kY, kWidth, kHeight, kFeatherWidth, kFadeLength};
    for (double v : hostile) {
        for (int param : numbers) {
            effect.Set(kX, 3.0);
            effect.Set(kY, 2.0);
            effect.Set(kWidth, 10.0);
            effect.Set(kHeight, 8.0);
            effect.Set(kFeather, 1.0);
            effect.Set(kFade, 1.0);
            effect.Set(kFeatherWidth, 4.0);
            effect.Set(kFadeLength, 3.0);
            effect.Set(kRanges, "0 5");
            effect.Set(param, v);
            for (int flag : {kFeather, kFade, kCancelTop}) effect.Set(flag, v);
            // The rectangle the plug-in may touch: what it reads back, as
            // pixels (nearest whole number, NaN as 0, clamped to int32), cut
            // to the frame.
            PixelRect rect;
            int32_t* sides[] = {&rect.x, &rect.y, &rect.width, &rect.height};
            const int params[] = {kX, kY, kWidth, kHeight};
            for (int k = 0; k < 4; k++) {
                double d;
                effect.p.getParam(effect.instance, &d, params[k]);
                *sides[k] = isnan(d) ? 0 : d <= INT32_MIN ? INT32_MIN : d >= INT32_MAX ? INT32_MAX
                                                                      : static_cast<int32_t>(floor(d + 0.5));
            }
            rect = ClipRectToFrame(rect, w, h);
            const std::vector<uint32_t> out = effect.Run(in, 2 / 25.0);
            for (int py = 0; py < h; py++)
                for (int px = 0; px < w; px++) {
                    const size_t i = static_cast<size_t>(py) * w + px;
                    const bool inside = px >= rect.x && px < rect.x + rect.width && py >= rect.y &&
                                        py < rect.y + rect.height;
                    ASSERT_EQ(out[i] >> 24, in[i] >> 24);
                    if (!inside) ASSERT_EQ(out[i], in[i]) << "param " << param << " = " << v;
                }
        }
    }
    const std::string longText(100000, '7');
    for (const char* text : {"-5 -1, 2147483647 -2147483648", "1 2 3", "\"\\\"", longText.c_str()}) {
        effect.Set(kRanges, text);
        EXPECT_EQ(effect.Run(in, 0.0).size(), in.size());
        effect.Set(kConfig, (std::string("Config(10, 8, 3, 2, 1, 1, 0, 0, 0, 0, 4, 3, \"") + text + "\")").c_str());
        EXPECT_EQ(effect.Run(in, 0.0).size(), in.size());
    }
}

// MLT may run one instance's updates on several threads while parameters are
// set: every frame comes out as one of the two settings makes it, never a mix.
TEST(TavrelPlugin, UpdatesOnSeveralThreadsEachSeeWholeSettings) {
    const int w = 48, h = 32;
    std::mt19937 random(5);
    const std::vector<uint32_t> in = RandomFrame(w, h, &random);
    ConfigCall a = DefaultConfigCall();
    a.numbers[kConfigX] = 4;
    a.numbers[kConfigY] = 4;
    a.numbers[kConfigWidth] = 20;
    a.numbers[kConfigHeight] = 12;
    a.numbers[kConfigFeatherOn] = 1;
    a.numbers[kConfigFeatherWidth] = 5;
    ConfigCall b = a;
    b.numbers[kConfigX] = 22;
    b.numbers[kConfigY] = 15;
    b.numbers[kConfigCancelLeft] = 1;
    b.rangeText = "0 100";
    const std::vector<uint32_t> expectA = CorePatched(in, w, h, a, 7);
    const std::vector<uint32_t> expectB = CorePatched(in, w, h, b, 7);
    ASSERT_NE(expectA, expectB);

    Effect effect(w, h);
    const std::string lineA = ConfigLine(a), lineB = ConfigLine(b);
    effect.Set(kConfig, lineA.c_str());
    std::atomic<int> mixed{0};
    std::atomic<bool> done{false};
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; t++)
        workers.emplace_back([&] {
            std::vector<uint32_t> out(in.size());
            for (int i = 0; i < 2000; i++) {
                effect.p.update(effect.instance, 7 / 25.0, in.data(), out.data());
                if (out != expectA && out != expectB) mixed++;
            }
        });
    std::thread setter([&] {
        for (int i = 0; !done; i++) {
            effect.Set(kConfig, (i % 2 ? lineA : lineB).c_str());
            effect.Set(kFrameRate, 25.0);
        }
    });
    for (std::thread& t : workers) t.join();
    done = true;
    setter.join();
    EXPECT_EQ(mixed, 0);
}

}  // namespace
