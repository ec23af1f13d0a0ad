// Reading the filter's settings from text. The host's script language is far
// larger than this; the command needs only the one call the filter saves, so
// it reads that call strictly and names the argument that does not fit.
#include "config_text.h"

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

bool FindScriptConfig(const char* script, std::string* callText, std::string* error,
                      std::string* warning) {
    // The host numbers filter instances in the order they are added, from 0,
    // and starts again after Clear(); a filter's settings follow as
    // "...instance[N].Config(...)".
    int added = 0;
    std::vector<int> tavrel;
    std::vector<std::string> lines;
    for (const char* p = script; *p;) {
        const char* end = strchr(p, '\n');
        if (!end) end = p + strlen(p);
        lines.emplace_back(p, end);
        p = *end ? end + 1 : end;
    }
    for (const std::string& line : lines) {
        if (line.find("filters.Clear(") != std::string::npos) {
            added = 0;
            tavrel.clear();
        }
        size_t add = line.find("filters.Add(");
        if (add != std::string::npos) {
            const char* name = SkipSpace(line.c_str() + add + 12);
            if (strncmp(name, "\"Tavrel\"", 8) == 0) tavrel.push_back(added);
            added++;
        }
    }
    if (tavrel.empty()) {
        *error = "the script adds no Tavrel filter (no filters.Add(\"Tavrel\") line)";
        return false;
    }
    if (tavrel.size() > 1)
        *warning = "the script holds " + std::to_string(tavrel.size()) +
                   " Tavrel filters; using the first (instance " + std::to_string(tavrel[0]) + ")";

    std::string wanted = "filters.instance[" + std::to_string(tavrel[0]) + "].Config";
    for (const std::string& line : lines) {
        size_t at = line.find(wanted);
        if (at == std::string::npos) continue;
        std::string call = line.substr(at + wanted.size() - 6);
        while (!call.empty() && (call.back() == '\r' || call.back() == ' ')) call.pop_back();
        *callText = call;
        return true;
    }
    *error = "the script adds Tavrel as instance " + std::to_string(tavrel[0]) +
             " but has no Config line for it";
    return false;
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
