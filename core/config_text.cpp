// Reading the filter's settings from text. The host's script language is far
// larger than this; the command needs only the one call the filter saves, so
// it reads that call strictly and names the argument that does not fit.
#include "config_text.h"

#include "frame_ranges.h"

#include <ctype.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

namespace {

struct Argument {
    bool        quoted;
    std::string text;
};

const char* SkipSpace(const char* p) {
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') p++;
    return p;
}

// A whole-token signed 32-bit decimal; leading and trailing blanks allowed.
bool ParseInt32(const std::string& token, int32_t* value) {
    const char* start = SkipSpace(token.c_str());
    if (*start == '\0') return false;
    errno = 0;
    char* end = nullptr;
    long long v = strtoll(start, &end, 10);
    if (end == start || *SkipSpace(end) != '\0') return false;
    if (errno == ERANGE || v < INT32_MIN || v > INT32_MAX) return false;
    *value = static_cast<int32_t>(v);
    return true;
}

// Finds "Config" followed by "(" that is either the start of the text or the
// last member of a dotted object path. Returns the position after "(".
const char* FindCallStart(const char* text) {
    const char* p = SkipSpace(text);
    for (const char* hit = strstr(p, "Config"); hit; hit = strstr(hit + 1, "Config")) {
        bool starts = hit == p || hit[-1] == '.';
        const char* after = SkipSpace(hit + 6);
        if (starts && *after == '(') return after + 1;
    }
    return nullptr;
}

std::string Quote(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

ConfigCall DefaultConfigCall() {
    // What a new instance saves: the host hands out zero-filled records.
    PatchSettings settings;
    memset(&settings, 0, sizeof settings);
    InitSettings(&settings, nullptr);
    ConfigCall call;
    SaveConfigNumbers(&settings, call.numbers);
    return call;
}

void SettingsFromCall(const ConfigCall& call, PatchSettings* settings) {
    memset(settings, 0, sizeof *settings);
    InitSettings(settings, nullptr);
    StoreConfig(settings, call.numbers, call.rangeText.c_str());
}

bool ParseConfigCall(const char* text, ConfigCall* call, std::string* error) {
    const char* p = FindCallStart(text);
    if (!p) {
        *error = "expected a call Config(...), as the host saves it";
        return false;
    }

    // Split the arguments first, so that a wrong count is reported as such
    // rather than as a strange token.
    std::vector<Argument> arguments;
    p = SkipSpace(p);
    if (*p == ')') {
        p++;
    } else {
        for (;;) {
            Argument argument = {false, ""};
            p = SkipSpace(p);
            if (*p == '"') {
                argument.quoted = true;
                for (p++; *p != '"'; p++) {
                    if (*p == '\0') {
                        *error = "argument " + std::to_string(arguments.size() + 1) +
                                 ": the double-quoted text is not closed";
                        return false;
                    }
                    if (*p == '\\' && (p[1] == '"' || p[1] == '\\')) p++;
                    argument.text += *p;
                }
                p = SkipSpace(p + 1);
            } else {
                while (*p && *p != ',' && *p != ')' && *p != '"') argument.text += *p++;
                while (!argument.text.empty() && isspace(static_cast<unsigned char>(argument.text.back())))
                    argument.text.pop_back();
            }
            arguments.push_back(argument);
            if (*p == ',') { p++; continue; }
            if (*p == ')') { p++; break; }
            *error = "after argument " + std::to_string(arguments.size()) +
                     ": expected \",\" or \")\"" + (*p ? std::string(", found \"") + *p + "\"" : ", found the end of the line");
            return false;
        }
    }
    p = SkipSpace(p);
    if (*p == ';') p = SkipSpace(p + 1);
    if (*p != '\0') {
        *error = std::string("unexpected text after the call: \"") + p + "\"";
        return false;
    }

    if (arguments.size() != kConfigNumberCount + 1) {
        *error = "Config takes 13 arguments (12 integers, then the frame ranges in double quotes), "
                 "this line has " + std::to_string(arguments.size());
        return false;
    }
    for (int i = 0; i < kConfigNumberCount; i++) {
        const Argument& a = arguments[i];
        std::string where = "argument " + std::to_string(i + 1) + " (" + kConfigNumberNames[i] + ")";
        if (a.quoted) {
            *error = where + " must be an integer, not the text " + Quote(a.text);
            return false;
        }
        if (!ParseInt32(a.text, &call->numbers[i])) {
            *error = where + " must be a signed 32-bit integer, not " + Quote(a.text);
            return false;
        }
    }
    if (!arguments[kConfigNumberCount].quoted) {
        *error = "argument 13 (frame ranges) must be text in double quotes, not " +
                 Quote(arguments[kConfigNumberCount].text);
        return false;
    }
    call->rangeText = arguments[kConfigNumberCount].text;
    return true;
}

namespace {

// The script as statements: comments dropped, split at ";" outside text.
std::vector<std::string> ScriptStatements(const char* script) {
    std::vector<std::string> statements;
    std::string current;
    bool inText = false;
    for (const char* p = script; *p; p++) {
        if (inText) {
            current += *p;
            if (*p == '\\' && p[1]) current += *++p;
            else if (*p == '"') inText = false;
            continue;
        }
        if (p[0] == '/' && p[1] == '/') {
            while (p[1] && p[1] != '\n') p++;
            continue;
        }
        if (*p == ';') {
            statements.push_back(current);
            current.clear();
            continue;
        }
        if (*p == '"') inText = true;
        current += *p;
    }
    statements.push_back(current);
    return statements;
}

// Moves *p past `word` (blanks before it allowed) when the text goes on with it.
bool Take(const char** p, const char* word) {
    const char* at = SkipSpace(*p);
    const size_t n = strlen(word);
    if (strncmp(at, word, n) != 0) return false;
    *p = at + n;
    return true;
}

// The member a statement uses of the video filter chain,
// "[VirtualDub.]video.filters.MEMBER": the text from MEMBER on, or null for
// any other object (the audio filter chain has members of the same names).
const char* VideoChainMember(const std::string& statement) {
    const char* p = statement.c_str();
    const char* root = p;
    if (!Take(&root, "VirtualDub") || !Take(&root, ".")) root = p;
    p = root;
    if (!Take(&p, "video") || !Take(&p, ".") || !Take(&p, "filters") || !Take(&p, ".")) return nullptr;
    return SkipSpace(p);
}

// The text between "name(" and its last ")" when member is that call.
bool CallsMember(const char* member, const char* name, std::string* arguments) {
    const char* p = member;
    if (!Take(&p, name) || !Take(&p, "(")) return false;
    const char* close = strrchr(p, ')');
    if (!close) return false;
    *arguments = std::string(p, close);
    return true;
}

}  // namespace

bool FindScriptConfigs(const char* script, std::vector<std::string>* calls, std::string* error) {
    // The host numbers filter instances in the order they are added, from 0,
    // and starts again after Clear(); a filter's settings follow as
    // "...instance[N].Config(...)", the last such line for N counting.
    struct Instance {
        bool        tavrel;
        std::string config;
    };
    std::vector<Instance> instances;
    for (const std::string& statement : ScriptStatements(script)) {
        const char* member = VideoChainMember(statement);
        std::string arguments;
        if (!member) continue;
        if (CallsMember(member, "Clear", &arguments)) {
            instances.clear();
        } else if (CallsMember(member, "Add", &arguments)) {
            instances.push_back({strncmp(SkipSpace(arguments.c_str()), "\"Tavrel\"", 8) == 0, ""});
        } else if (Take(&member, "instance") && Take(&member, "[")) {
            char* end = nullptr;
            long number = strtol(member, &end, 10);
            const char* call = end;
            if (end == member || !Take(&call, "]") || !Take(&call, ".")) continue;
            call = SkipSpace(call);
            if (strncmp(call, "Config", 6) != 0) continue;
            if (number < 0 || number >= static_cast<long>(instances.size())) continue;
            std::string text = call;
            while (!text.empty() && isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
            instances[number].config = text;
        }
    }
    calls->clear();
    for (size_t i = 0; i < instances.size(); i++) {
        if (!instances[i].tavrel) continue;
        if (instances[i].config.empty()) {
            *error = "the script adds Tavrel as instance " + std::to_string(i) + " but has no Config line for it";
            return false;
        }
        calls->push_back(instances[i].config);
    }
    if (calls->empty()) {
        *error = "the script adds no Tavrel filter (no filters.Add(\"Tavrel\") after its last Clear())";
        return false;
    }
    return true;
}

bool CheckRangeText(const char* text, std::string* reason) {
    std::vector<std::string> tokens;
    std::string token;
    for (const char* p = text;; p++) {
        if (*p == '\0' || *p == ',' || *p == ' ' || *p == '\r' || *p == '\n') {
            if (!token.empty()) tokens.push_back(token);
            token.clear();
            if (*p == '\0') break;
        } else {
            token += *p;
        }
    }
    if (tokens.empty()) {
        *reason = "it holds no frame numbers";
        return false;
    }
    std::vector<int32_t> values;
    for (const std::string& t : tokens) {
        int32_t v;
        if (!ParseInt32(t, &v) || isspace(static_cast<unsigned char>(t[0]))) {
            *reason = "\"" + t + "\" is not a whole frame number (pairs are separated by spaces or commas)";
            return false;
        }
        values.push_back(v);
    }
    if (values.size() % 2 != 0) {
        *reason = "the last number, " + std::to_string(values.back()) + ", has no end frame";
        return false;
    }
    size_t normalLength = 0;
    for (size_t i = 0; i < values.size(); i += 2) {
        if (values[i + 1] <= values[i]) {
            *reason = "the range " + std::to_string(values[i]) + " " + std::to_string(values[i + 1]) +
                      " does not end after it starts";
            return false;
        }
        normalLength += std::to_string(values[i]).size() + std::to_string(values[i + 1]).size() + 3;
    }
    if (values.size() / 2 > kMaxRanges) {
        *reason = "it lists " + std::to_string(values.size() / 2) + " ranges; the filter keeps at most " +
                  std::to_string(kMaxRanges);
        return false;
    }
    if (normalLength > kRangeTextSize - 1) {
        *reason = "its ranges take " + std::to_string(normalLength) + " characters written out; the filter keeps " +
                  std::to_string(kRangeTextSize - 1);
        return false;
    }
    return true;
}

std::string DescribeKeptRanges(const char* text) {
    PatchSettings settings;
    memset(&settings, 0, sizeof settings);
    ParseRanges(&settings, text);
    if (settings.rangeCount == 0) return "none (every frame is patched)";
    std::string kept;
    for (int i = 0; i < settings.rangeCount; i++)
        kept += (i ? ", " : "") + std::to_string(settings.rangeStart[i]) + " " + std::to_string(settings.rangeEnd[i]);
    return kept;
}

bool ApplyFeatherOption(const char* value, ConfigCall* call, std::string* error) {
    if (!ParseInt32(value, &call->numbers[kConfigFeatherWidth])) {
        *error = std::string("--feather takes a width in pixels, not \"") + value + "\"";
        return false;
    }
    call->numbers[kConfigFeatherOn] = 1;
    return true;
}

bool ApplyFadeOption(const char* value, ConfigCall* call, std::string* error) {
    if (!ParseInt32(value, &call->numbers[kConfigFadeFrames])) {
        *error = std::string("--fade takes a length in frames, not \"") + value + "\"";
        return false;
    }
    call->numbers[kConfigFadeOn] = 1;
    return true;
}

bool ApplyRectOption(const char* value, ConfigCall* call, std::string* error) {
    // X,Y,W,H: the order a user reads a rectangle in, not the Config order.
    int32_t v[4];
    std::string text = value;
    size_t start = 0;
    for (int i = 0; i < 4; i++) {
        size_t comma = text.find(',', start);
        bool last = i == 3;
        if (last != (comma == std::string::npos) || !ParseInt32(text.substr(start, comma - start), &v[i])) {
            *error = std::string("--rect takes X,Y,W,H (four integers), not \"") + value + "\"";
            return false;
        }
        start = comma + 1;
    }
    if (v[2] < 1 || v[3] < 1) {
        *error = std::string("--rect: width and height must be at least 1 in \"") + value + "\"";
        return false;
    }
    call->numbers[kConfigX] = v[0];
    call->numbers[kConfigY] = v[1];
    call->numbers[kConfigWidth] = v[2];
    call->numbers[kConfigHeight] = v[3];
    return true;
}

bool ApplyCancelOption(const char* value, ConfigCall* call, std::string* error) {
    static const struct { const char* name; int index; } kSides[] = {
        {"top", kConfigCancelTop}, {"bottom", kConfigCancelBottom},
        {"left", kConfigCancelLeft}, {"right", kConfigCancelRight},
    };
    std::string text = value;
    size_t start = 0;
    for (;;) {
        size_t comma = text.find(',', start);
        std::string side = text.substr(start, comma - start);
        bool known = false;
        for (const auto& s : kSides)
            if (side == s.name) { call->numbers[s.index] = 1; known = true; }
        if (!known) {
            *error = "--cancel takes sides from top,bottom,left,right, not \"" + side + "\"";
            return false;
        }
        if (comma == std::string::npos) return true;
        start = comma + 1;
    }
}
