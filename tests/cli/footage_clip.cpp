#include "footage_clip.h"

#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <functional>

#include "frame_run.h"
#include "patch_settings.h"
#include "shell_run.h"

namespace {

const char kFfmpeg[] = "ffmpeg -hide_banner -v error -nostdin -y ";
const char kFont[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";

std::string Number(double v) {
    char text[32];
    snprintf(text, sizeof text, "%.4g", v);
    return text;
}

// Text of n letters in a font size that fits a box of w x h pixels (the
// font's capitals are about 0.8 of the size wide).
std::string Text(const char* text, int w, int h, double height, const std::string& look) {
    const double fit = std::min(h * height, w / (0.8 * strlen(text)));
    return std::string("drawtext=fontfile=") + kFont + ":text='" + text + "':fontsize=" +
           std::to_string(std::max(6, (int)fit)) + ":x=(w-text_w)/2:y=(h-text_h)/2" + look;
}

// The logo's picture, RGBA. Where text lies on a clear ground, the ground
// has the text's colour, so that its antialiased edges keep it.
std::string LogoSource(const FootageClip& c) {
    const std::string size = ":s=" + std::to_string(c.w) + "x" + std::to_string(c.h) + ",format=rgba,";
    switch (c.logo) {
    case kLogoPlateWithText: return "color=c=0x1a2a6c" + size + Text("NEWS", c.w, c.h, 0.6, ":fontcolor=white");
    case kLogoBug: return "color=c=0xd01828" + size + Text("24", c.w, c.h, 0.7, ":fontcolor=white");
    case kLogoText: return "color=c=white@0" + size + Text("TV5", c.w, c.h, 0.8, ":fontcolor=white");
    case kLogoOutlinedText:
        return "color=c=black@0" + size + Text("SPORT", c.w - 4, c.h - 4, 0.8, ":fontcolor=white:borderw=2:bordercolor=black");
    case kLogoShadowText: {
        const std::string offset = std::to_string(std::max(2, c.h / 12));
        return "color=c=black@0" + size +
               Text("ARTE", c.w - 4, c.h - 4, 0.8,
                    ":fontcolor=yellow:shadowcolor=black@0.6:shadowx=" + offset + ":shadowy=" + offset);
    }
    // Soft edges: the alpha blurred, the colour left white.
    case kLogoWatermark:
        return "color=c=white@0" + size + Text("PLUS", c.w, c.h, 0.7, ":fontcolor=white") +
               ",format=yuva444p,gblur=sigma=" + Number(std::max(1.0, c.h / 16.0)) + ":planes=8,format=rgba";
    case kLogoRedText: return "color=c=red@0" + size + Text("RED", c.w, c.h, 0.8, ":fontcolor=red");
    case kLogoNone: break;
    }
    return "";
}

// The picture `i` scaled to cover `zoom` times the frame, held for `frames`
// frames at `rate`: the graph's chain from input i, without its label.
std::string HeldPicture(const FootageClip& c, int i, double zoom, int rate, int frames) {
    return "[" + std::to_string(i) + "]scale=w=" + std::to_string((int)(c.width * zoom)) + ":h=" +
           std::to_string((int)(c.height * zoom)) +
           ":force_original_aspect_ratio=increase:force_divisible_by=2,setsar=1,loop=loop=-1:size=1:start=0,"
           "setpts=N/" + std::to_string(rate) + "/TB,trim=end_frame=" + std::to_string(frames);
}

// The frame's window moving over a held picture from (x0, y0) to (x1, y1)
// in `frames` frames.
std::string Window(const FootageClip& c, double x0, double y0, double x1, double y1, int frames) {
    const std::string along = "n/" + std::to_string(std::max(1, frames - 1));
    return ",crop=" + std::to_string(c.width) + ":" + std::to_string(c.height) + ":x='(iw-ow)*(" + Number(x0) + "+" +
           Number(x1 - x0) + "*" + along + ")':y='(ih-oh)*(" + Number(y0) + "+" + Number(y1 - y0) + "*" + along + ")'";
}

// The moving picture: its ffmpeg inputs, and the graph up to [v], at 25
// frames a second.
void PictureGraph(const FootageClip& c, std::string* inputs, std::string* graph) {
    const int rate = c.interlaced ? 2 * kFootageRate : kFootageRate;
    const int frames = (int)std::lround(c.seconds * rate);
    const size_t pictures = c.motion == kCuts ? c.pictures.size() : 1;
    for (size_t i = 0; i < pictures; i++) *inputs += " -framerate " + std::to_string(rate) + " -i " + Quote(c.pictures[i]);
    switch (c.motion) {
    case kPan: *graph = HeldPicture(c, 0, c.zoom, rate, frames) + Window(c, c.x0, c.y0, c.x1, c.y1, frames); break;
    case kZoom:
        *graph = HeldPicture(c, 0, c.zoom, rate, frames) + ",scale=w='iw*(1+0.5*n/" + std::to_string(frames) +
                 ")':h=-2:eval=frame,crop=" + std::to_string(c.width) + ":" + std::to_string(c.height) + ",setsar=1";
        break;
    case kCuts: {
        // A slideshow: each picture in turn, each panned its own way.
        std::string joined;
        for (size_t i = 0; i < pictures; i++) {
            const int first = (int)(frames * i / pictures), next = (int)(frames * (i + 1) / pictures);
            const bool back = i % 2;
            *graph += HeldPicture(c, (int)i, c.zoom, rate, next - first) +
                      Window(c, back ? c.x1 : c.x0, c.y0, back ? c.x0 : c.x1, c.y1, next - first) + "[p" +
                      std::to_string(i) + "];";
            joined += "[p" + std::to_string(i) + "]";
        }
        // concat may give a picture's first frame its predecessor's last
        // time, and the encoder drops one of two frames of one time: the
        // frames are timed afresh, so the clip holds every frame drawn.
        *graph += joined + "concat=n=" + std::to_string(pictures) + ",setpts=N/" + std::to_string(rate) + "/TB";
        break;
    }
    case kStillPicture: *graph = HeldPicture(c, 0, 1.0, rate, frames) + Window(c, 0.5, 0.5, 0.5, 0.5, frames); break;
    }
    if (c.stillThird)
        *graph += ",split[m][f];[f]trim=end_frame=1,crop=iw/3:ih:0:0,loop=loop=-1:size=1:start=0,setpts=N/" +
                  std::to_string(rate) + "/TB[s];[m][s]overlay=0:0:shortest=1";
    if (c.bars > 0)
        *graph += ",drawbox=x=0:y=0:w=iw:h=" + std::to_string(c.bars) + ":color=black:t=fill,drawbox=x=0:y=ih-" +
                  std::to_string(c.bars) + ":w=iw:h=" + std::to_string(c.bars) + ":color=black:t=fill";
    if (c.fades) *graph += ",fade=t=in:st=0:d=1,fade=t=out:st=" + Number(c.seconds - 1) + ":d=1";
    if (c.blackTo > c.blackFrom)
        *graph += ",drawbox=x=0:y=0:w=iw:h=ih:color=black:t=fill:enable='between(t," + Number(c.blackFrom) + "," +
                  Number(c.blackTo) + ")'";
    if (c.grain > 0) *graph += ",noise=alls=" + std::to_string(c.grain) + ":allf=t:all_seed=7";
    *graph += ",format=yuv420p";
    // Two pictures of the motion become one frame's top and bottom fields.
    if (c.interlaced) *graph += ",interlace=scan=tff:lowpass=complex";
    *graph += "[v]";
}

std::string Encoder(const FootageClip& c) {
    std::string encode;
    switch (c.codec) {
    case kCrf20: encode = " -c:v libx264 -preset veryfast -crf 20 -g 50 -pix_fmt yuv420p"; break;
    case kCrf30: encode = " -c:v libx264 -preset veryfast -crf 30 -g 50 -pix_fmt yuv420p"; break;
    // A low rate for its size, as recorders store broadcasts.
    case kMpeg2:
        encode = " -c:v mpeg2video -b:v " + std::to_string(c.height * 4) + "k -maxrate " +
                 std::to_string(c.height * 5) + "k -bufsize " + std::to_string(c.height * 3) + "k -g 12 -pix_fmt yuv420p";
        break;
    }
    if (c.interlaced) encode += " -flags +ildct+ilme -top 1";
    return encode;
}

}  // namespace

int FrameCount(const FootageClip& c) { return (int)std::lround(c.seconds * kFootageRate); }

bool IsOpaque(const FootageClip& c) { return c.opacity >= 1.0 && c.logo != kLogoWatermark; }

std::string ShownExpression(const std::vector<Span>& shown) {
    if (shown.empty()) return "1";
    std::string e;
    for (const Span& s : shown)
        e += (e.empty() ? "" : "+") + std::string("between(n,") + std::to_string(s.first) + "," +
             std::to_string(s.last) + ")";
    return e;
}

FootageCommands FootageCommandsFor(const FootageClip& c, const std::string& logoPath, const std::string& clipPath) {
    FootageCommands commands;
    std::string inputs, graph;
    PictureGraph(c, &inputs, &graph);
    if (c.logo != kLogoNone) {
        commands.logo = kFfmpeg + std::string("-f lavfi -i ") + Quote(LogoSource(c)) + " -frames:v 1 " + Quote(logoPath);
        const int input = c.motion == kCuts ? (int)c.pictures.size() : 1;
        inputs += " -i " + Quote(logoPath);
        graph += ";[" + std::to_string(input) + "]format=rgba,colorchannelmixer=aa=" + Number(c.opacity) +
                 "[l];[v][l]overlay=x=" + std::to_string(c.x) + ":y=" + std::to_string(c.y) + ":enable='" +
                 ShownExpression(c.shown) + "'[o]";
    } else {
        graph += ";[v]null[o]";
    }
    commands.clip = kFfmpeg + inputs + " -filter_complex " + Quote(graph) + " -map '[o]'" + Encoder(c) +
                    " -frames:v " + std::to_string(FrameCount(c)) + " " + Quote(clipPath);
    return commands;
}

std::string MakeFootageClip(const FootageClip& c, const std::string& dir, std::string* logoPath, std::string* error) {
    for (const std::string& needed : std::vector<std::string>{kFont, c.pictures.empty() ? "" : c.pictures[0]})
        if (needed.empty() || access(needed.c_str(), R_OK) != 0) {
            *error = "missing " + (needed.empty() ? std::string("a picture") : needed);
            return "";
        }
    const std::string suffix = c.codec == kMpeg2 ? ".mpg" : ".mp4";
    const FootageCommands named = FootageCommandsFor(c, "LOGO", "CLIP");
    const std::string stem = dir + "/" + c.name + "-" + std::to_string(std::hash<std::string>()(named.logo + named.clip));
    const std::string clip = stem + suffix, part = stem + ".part" + suffix;
    *logoPath = stem + "-logo.png";
    if (access(clip.c_str(), F_OK) == 0) return clip;
    const FootageCommands commands = FootageCommandsFor(c, *logoPath, part);
    std::string output;
    if ((!commands.logo.empty() && Shell(commands.logo, &output) != 0) || Shell(commands.clip, &output) != 0) {
        *error = "making " + c.name + " failed: " + output;
        return "";
    }
    rename(part.c_str(), clip.c_str());
    return clip;
}

bool VisibleBox(const std::string& picture, int w, int h, int x, int y, double opacity, int least, PixelRect* box) {
    FILE* p = popen(("ffmpeg -v error -nostdin -i " + Quote(picture) + " -vf alphaextract -f rawvideo -pix_fmt gray -")
                        .c_str(),
                    "r");
    if (!p) return false;
    std::vector<uint8_t> alpha((size_t)w * h);
    const bool read = fread(alpha.data(), 1, alpha.size(), p) == alpha.size();
    pclose(p);
    // overlay blends in 4:2:0 unless told otherwise, and puts the picture's
    // corner on the chroma grid: an odd x or y lands a pixel up or left.
    x &= ~1;
    y &= ~1;
    int x0 = w, y0 = h, x1 = -1, y1 = -1;
    for (int j = 0; j < h; j++)
        for (int i = 0; i < w; i++)
            if (alpha[(size_t)j * w + i] * opacity >= least)
                x0 = std::min(x0, i), x1 = std::max(x1, i), y0 = std::min(y0, j), y1 = std::max(y1, j);
    *box = {x + x0, y + y0, x1 - x0 + 1, y1 - y0 + 1};
    return read && x1 >= 0;
}

bool LogoTruth(const FootageClip& c, const std::string& logoPath, PixelRect* box) {
    return VisibleBox(logoPath, c.w, c.h, c.x, c.y, c.opacity, 8, box);
}

bool Covers(const PixelRect& outer, const PixelRect& inner) {
    return outer.x <= inner.x && outer.y <= inner.y && outer.x + outer.width >= inner.x + inner.width &&
           outer.y + outer.height >= inner.y + inner.height;
}

Judgement JudgeFound(const FootageClip& c, const PixelRect& truth, const PixelRect& region, const PixelRect& rectangle,
                     const PatchSettings& proposed, int near) {
    Judgement j;
    j.iou = RectIou(region, truth);
    j.iouHeld = j.iou >= (IsOpaque(c) ? 0.9 : 0.8);
    j.covers = Covers(rectangle, truth);
    j.ranges = CheckRanges(c.shown, FrameCount(c), proposed, near);
    return j;
}

RangeCheck CheckRanges(std::vector<Span> shown, int frameCount, const PatchSettings& proposed, int near) {
    RangeCheck check = {0, 0};
    if (shown.empty()) shown.push_back({0, frameCount - 1});
    for (int n = 0; n < frameCount; n++) {
        bool showing = false, close = false;
        for (const Span& s : shown) {
            showing |= n >= s.first && n <= s.last;
            close |= n >= s.first - near && n <= s.last + near;
        }
        const bool patched = FrameAlpha(&proposed, n) > 0;
        check.missed += showing && !patched;
        check.extra += !close && patched;
    }
    return check;
}
