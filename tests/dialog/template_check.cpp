#include "template_check.h"

#include <string>

#include "dialog_harness.h"
#include "dialog_ids.h"

namespace {

enum : WORD { kButton = 0x80, kEdit = 0x81, kStatic = 0x82, kNamedClass = 0 };

struct ExpectedControl {
    DWORD          id;
    WORD           classOrdinal;  // kNamedClass: the up-down class, by name
    const wchar_t* text;
    DWORD          style;
    DWORD          exStyle;
    short          x, y, cx, cy;
};

const wchar_t kUpDown[] = L"msctls_updown32";

const ExpectedControl kControls[] = {
    {1, kButton, L"确定", 0x50010000, 0, 250, 135, 25, 15},
    {1000, kButton, L"预览", 0x50010000, 0, 170, 135, 65, 15},
    {1005, kEdit, L"", 0x50810000, 0, 45, 25, 40, 12},
    {1006, kNamedClass, L"Spin1", 0x500000D6, 0, 85, 25, 10, 10},
    {1007, kEdit, L"", 0x50810000, 0, 45, 45, 40, 12},
    {1008, kNamedClass, L"Spin1", 0x50000096, 0, 85, 45, 11, 15},
    {1009, kEdit, L"", 0x50810000, 0, 45, 86, 39, 12},
    {1010, kNamedClass, L"Spin1", 0x500000D6, 0, 84, 85, 10, 10},
    {1011, kEdit, L"", 0x50810000, 0, 45, 105, 39, 12},
    {1012, kNamedClass, L"Spin1", 0x50000096, 0, 84, 105, 11, 15},
    {1003, kButton, L"边框 (黑白点线)", 0x50010003, 0, 53, 138, 81, 8},
    {1002, kButton, L"", 0x50010003, 0, 139, 35, 10, 8},
    {1013, kButton, L"", 0x50010003, 0, 139, 55, 10, 8},
    {1014, kButton, L"左", 0x50010223, 0, 112, 45, 26, 8},
    {1015, kButton, L"右", 0x50010003, 0, 149, 45, 33, 8},
    {0xFFFF, kStatic, L"下", 0x50020000, 0, 140, 65, 25, 8},
    {0xFFFF, kStatic, L"上", 0x50020000, 0, 140, 23, 20, 8},
    {0xFFFF, kButton, L"取消渐变", 0x50000007, 0, 105, 10, 80, 70},
    {0xFFFF, kButton, L"擦除位置", 0x50000007, 0, 10, 10, 90, 60},
    {0xFFFF, kStatic, L"左右", 0x50020002, 0, 18, 27, 22, 8},
    {0xFFFF, kStatic, L"上下", 0x50020002, 0, 18, 47, 22, 8},
    {0xFFFF, kButton, L"像素大小", 0x50000007, 0, 10, 70, 90, 60},
    {0xFFFF, kStatic, L"宽度", 0x50020002, 0, 15, 89, 25, 8},
    {0xFFFF, kStatic, L"高度", 0x50020002, 0, 15, 107, 25, 8},
    {0xFFFF, kButton, L"羽化边缘", 0x50000007, 0, 105, 80, 80, 50},
    {1018, kButton, L"使用", 0x50090003, 0, 139, 94, 31, 8},
    {1019, kEdit, L"", 0x50810000, 0, 135, 110, 34, 12},
    {1021, kNamedClass, L"Spin1", 0x500000B6, 0, 159, 110, 11, 14},
    {0xFFFF, kStatic, L"像素", 0x50020002, 0, 110, 112, 20, 8},
    {0xFFFF, kButton, L"按 ' 帧 ' 打开 滤镜", 0x50000007, 0, 190, 10, 90, 120},
    {1022, kEdit, L"", 0x50A11004, 0, 195, 20, 80, 45},
    {1023, kButton, L"使用", 0x50010103, 0, 240, 93, 31, 10},
    {1024, kEdit, L"", 0x50810000, 0, 230, 110, 35, 12},
    {1025, kNamedClass, L"Spin1", 0x500000B6, 0, 257, 110, 11, 15},
    {1001, kButton, L"更新", 0x50010000, 0, 244, 67, 32, 12},
    {0xFFFF, kStatic, L"如: 100 200\n\n渐变过渡", 0x50020000, 0x20, 196, 69, 44, 34},
    {0xFFFF, kStatic, L"帧", 0x50020000, 0, 200, 112, 25, 10},
};

// Reads the template's little-endian fields in order, never past its end.
struct TemplateReader {
    const BYTE* data;
    DWORD       size;
    DWORD       at;
    bool        overrun;
};

WORD ReadWord(TemplateReader* r)
{
    if (r->at + 2 > r->size) {
        r->overrun = true;
        return 0;
    }
    const WORD value = static_cast<WORD>(r->data[r->at] | r->data[r->at + 1] << 8);
    r->at += 2;
    return value;
}

DWORD ReadDword(TemplateReader* r)
{
    const DWORD low = ReadWord(r);
    return low | static_cast<DWORD>(ReadWord(r)) << 16;
}

// A name-or-ordinal field: 0xFFFF and an ordinal, or a terminated UTF-16 text.
void ReadNameOrOrdinal(TemplateReader* r, std::wstring* name, WORD* ordinal)
{
    name->clear();
    *ordinal = 0;
    WORD first = ReadWord(r);
    if (first == 0xFFFF) {
        *ordinal = ReadWord(r);
        return;
    }
    while (first != 0 && !r->overrun) {
        name->push_back(static_cast<wchar_t>(first));
        first = ReadWord(r);
    }
}

std::string Narrow(const std::wstring& text)
{
    std::string utf8;
    for (wchar_t c : text) {
        char buffer[8];
        const int n = WideCharToMultiByte(CP_UTF8, 0, &c, 1, buffer, sizeof buffer, nullptr, nullptr);
        utf8.append(buffer, n > 0 ? n : 0);
    }
    return utf8;
}

}  // namespace

bool CheckSettingsTemplate(HMODULE module)
{
    HRSRC resource = FindResourceExA(module, reinterpret_cast<LPCSTR>(RT_DIALOG),
                                     MAKEINTRESOURCEA(IDD_SETTINGS),
                                     MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    EXPECT_TRUE(resource != nullptr);
    if (!resource)
        return false;
    HGLOBAL loaded = LoadResource(module, resource);
    TemplateReader r{static_cast<const BYTE*>(LockResource(loaded)),
                     SizeofResource(module, resource), 0, false};

    EXPECT_EQ_INT(ReadWord(&r), 1);       // extended template, version 1
    EXPECT_EQ_INT(ReadWord(&r), 0xFFFF);
    EXPECT_EQ_INT(ReadDword(&r), 0);      // help id
    EXPECT_EQ_INT(ReadDword(&r), 0);      // extended style
    EXPECT_EQ_INT(ReadDword(&r), 0x80C000C0);
    const WORD count = ReadWord(&r);
    EXPECT_EQ_INT(count, 37);
    EXPECT_EQ_INT(ReadWord(&r), 0);       // x
    EXPECT_EQ_INT(ReadWord(&r), 0);       // y
    EXPECT_EQ_INT(ReadWord(&r), 290);
    EXPECT_EQ_INT(ReadWord(&r), 158);
    std::wstring name;
    WORD ordinal;
    ReadNameOrOrdinal(&r, &name, &ordinal);
    EXPECT_TRUE(name.empty() && ordinal == 0);  // no menu
    ReadNameOrOrdinal(&r, &name, &ordinal);
    EXPECT_TRUE(name.empty() && ordinal == 0);  // the standard dialog class
    ReadNameOrOrdinal(&r, &name, &ordinal);
    EXPECT_EQ_STR(Narrow(name), "Tavrel");
    EXPECT_EQ_INT(ReadWord(&r), 8);       // points
    EXPECT_EQ_INT(ReadWord(&r), 0);       // weight
    const WORD italicAndCharset = ReadWord(&r);
    EXPECT_EQ_INT(italicAndCharset & 0xFF, 0);
    EXPECT_EQ_INT(italicAndCharset >> 8, 1);
    ReadNameOrOrdinal(&r, &name, &ordinal);
    EXPECT_EQ_STR(Narrow(name), "MS Sans Serif");

    const size_t expectedCount = sizeof kControls / sizeof kControls[0];
    for (size_t i = 0; i < count && i < expectedCount && !r.overrun; ++i) {
        const ExpectedControl& want = kControls[i];
        const std::string where = "control " + std::to_string(i + 1) + ": ";
        r.at = (r.at + 3) & ~3u;  // every item starts on a 32-bit boundary
        const DWORD helpId = ReadDword(&r);
        const DWORD exStyle = ReadDword(&r);
        const DWORD style = ReadDword(&r);
        const short x = static_cast<short>(ReadWord(&r));
        const short y = static_cast<short>(ReadWord(&r));
        const short cx = static_cast<short>(ReadWord(&r));
        const short cy = static_cast<short>(ReadWord(&r));
        const DWORD id = ReadDword(&r);
        std::wstring className, text;
        WORD classOrdinal, textOrdinal;
        ReadNameOrOrdinal(&r, &className, &classOrdinal);
        ReadNameOrOrdinal(&r, &text, &textOrdinal);
        const WORD extraBytes = ReadWord(&r);
        r.at += extraBytes;

        if (helpId != 0 || exStyle != want.exStyle || style != want.style || id != want.id ||
            x != want.x || y != want.y || cx != want.cx || cy != want.cy || extraBytes != 0)
            Fail(__FILE__, __LINE__, where + "id " + std::to_string(id) + " style " +
                 std::to_string(style) + " ex " + std::to_string(exStyle) + " at " +
                 std::to_string(x) + "," + std::to_string(y) + " " + std::to_string(cx) +
                 "x" + std::to_string(cy));
        if (textOrdinal != 0 || text != want.text)
            Fail(__FILE__, __LINE__, where + "text \"" + Narrow(text) + "\"");
        const bool classMatches = want.classOrdinal == kNamedClass
                                      ? className == kUpDown
                                      : className.empty() && classOrdinal == want.classOrdinal;
        if (!classMatches)
            Fail(__FILE__, __LINE__, where + "class \"" + Narrow(className) + "\" ordinal " +
                 std::to_string(classOrdinal));
    }
    EXPECT_TRUE(!r.overrun);
    return true;
}
