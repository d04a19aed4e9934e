#include <shell/AviClip.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace shell;

namespace {

using Bytes = std::vector<std::uint8_t>;

void Put32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void Put16(Bytes& b, std::uint16_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
Bytes Chunk(const char* tag, const Bytes& data) {
    Bytes b(tag, tag + 4);
    Put32(b, static_cast<std::uint32_t>(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    if (data.size() & 1)
        b.push_back(0);
    return b;
}
Bytes List(const char* kind, const Bytes& data) {
    Bytes body(kind, kind + 4);
    body.insert(body.end(), data.begin(), data.end());
    return Chunk("LIST", body);
}
Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A clip of the given frame format; palette entries are 0x00RRGGBB.
struct ClipShape {
    int width = 4, height = 2, bits = 8, compression = 0;
    std::vector<std::uint32_t> palette = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF};
    std::vector<Bytes> frames;
    const char* frameTag = "00db";
    bool sound = false;
    std::uint32_t microsPerFrame = 50000;
};

Bytes Stream(const char* type, const Bytes& format) {
    Bytes strh(type, type + 4);
    strh.resize(56, 0);
    return List("strl", Cat({Chunk("strh", strh), Chunk("strf", format)}));
}

Bytes MakeClip(const ClipShape& s) {
    Bytes avih;
    Put32(avih, s.microsPerFrame);
    avih.resize(56, 0);
    Bytes bih;
    Put32(bih, 40);
    Put32(bih, static_cast<std::uint32_t>(s.width));
    Put32(bih, static_cast<std::uint32_t>(s.height));
    Put16(bih, 1);
    Put16(bih, static_cast<std::uint16_t>(s.bits));
    Put32(bih, static_cast<std::uint32_t>(s.compression));
    Put32(bih, 0);
    Put32(bih, 0);
    Put32(bih, 0);
    Put32(bih, s.bits == 8 ? static_cast<std::uint32_t>(s.palette.size()) : 0);
    Put32(bih, 0);
    if (s.bits == 8)
        for (std::uint32_t c : s.palette)
            Put32(bih, c);
    Bytes streams = Stream("vids", bih);
    if (s.sound)
        streams = Cat({streams, Stream("auds", Bytes(18, 0))});
    Bytes movi;
    for (const Bytes& f : s.frames)
        movi = Cat({movi, Chunk(s.frameTag, f)});
    const Bytes body =
        Cat({Bytes{'A', 'V', 'I', ' '}, List("hdrl", Cat({Chunk("avih", avih), streams})),
             List("movi", movi), Chunk("idx1", {})});
    return Chunk("RIFF", body);
}

constexpr std::uint32_t kBlack = 0xFF000000, kRed = 0xFFFF0000, kGreen = 0xFF00FF00,
                        kBlue = 0xFF0000FF;

TEST(AviClipTest, PlaysUncompressedPaletteAndTrueColourFramesBottomUp) {
    ClipShape s;
    // Stored bottom row first; each row is padded to four bytes already at width 4.
    s.frames = {{1, 1, 1, 1, 2, 2, 3, 0}};
    std::string error;
    auto clip = AviClip::Parse(MakeClip(s), &error);
    ASSERT_TRUE(clip) << error;
    EXPECT_EQ(clip->Width(), 4);
    EXPECT_EQ(clip->Height(), 2);
    EXPECT_EQ(clip->FrameCount(), 1);
    EXPECT_EQ(clip->FrameIntervalMs(), 50);
    EXPECT_EQ(clip->Frame(0),
              (std::vector<std::uint32_t>{kGreen, kGreen, kBlue, kBlack, kRed, kRed, kRed, kRed}));

    ClipShape rgb;
    rgb.width = 1;
    rgb.height = 1;
    rgb.bits = 24;
    rgb.frames = {{0x30, 0x20, 0x10, 0}}; // blue, green, red, padding
    rgb.frameTag = "00dc";
    clip = AviClip::Parse(MakeClip(rgb), &error);
    ASSERT_TRUE(clip) << error;
    EXPECT_EQ(clip->Frame(0)[0], 0xFF102030u);
}

TEST(AviClipTest, PlaysRle8KeyAndDeltaFrames) {
    ClipShape s;
    s.compression = 1;
    s.frameTag = "00dc";
    s.frames = {
        // Bottom row: four of colour 1; top row: a literal run 2 3 2 then one 0; end.
        {4, 1, 0, 0, 0, 3, 2, 3, 2, 0, 1, 0, 0, 1},
        // Delta: skip two pixels right, one row up, then one of colour 3; end.
        {0, 2, 2, 1, 1, 3, 0, 1},
    };
    std::string error;
    const auto clip = AviClip::Parse(MakeClip(s), &error);
    ASSERT_TRUE(clip) << error;
    ASSERT_EQ(clip->FrameCount(), 2);
    EXPECT_EQ(clip->Frame(0),
              (std::vector<std::uint32_t>{kGreen, kBlue, kGreen, kBlack, kRed, kRed, kRed, kRed}));
    EXPECT_EQ(clip->Frame(1),
              (std::vector<std::uint32_t>{kGreen, kBlue, kBlue, kBlack, kRed, kRed, kRed, kRed}));
}

TEST(AviClipTest, RefusesDamagedAndUnsupportedClipsWithoutReadingPastThem) {
    ClipShape good;
    good.frames = {{1, 1, 1, 1, 2, 2, 3, 0}};
    const Bytes clip = MakeClip(good);
    ASSERT_TRUE(AviClip::Parse(clip));

    // Every cut of the file: refused or whole, never a read beyond it.
    for (std::size_t cut = 0; cut < clip.size(); ++cut) {
        const Bytes part(clip.begin(), clip.begin() + static_cast<std::ptrdiff_t>(cut));
        const auto parsed = AviClip::Parse(part);
        if (parsed) {
            EXPECT_EQ(parsed->FrameCount(), 1);
        }
    }
    // A chunk whose size overruns its list.
    Bytes overrun = clip;
    overrun[16] = 0xFF;
    overrun[17] = 0xFF;
    EXPECT_FALSE(AviClip::Parse(overrun));

    const auto refused = [](ClipShape s, const std::string& why) {
        std::string error;
        EXPECT_FALSE(AviClip::Parse(MakeClip(s), &error)) << why;
        EXPECT_FALSE(error.empty()) << why;
    };
    ClipShape sound = good;
    sound.sound = true;
    refused(sound, "sound");
    ClipShape jpeg = good;
    jpeg.compression = 0x47504A4D;
    refused(jpeg, "another codec");
    ClipShape huge = good;
    huge.width = 100000;
    refused(huge, "frame size");
    ClipShape none = good;
    none.frames.clear();
    refused(none, "no frames");
    ClipShape shortFrame = good;
    shortFrame.frames = {{1, 1}};
    refused(shortFrame, "frame shorter than the picture");
    ClipShape wild = good;
    wild.compression = 1;
    wild.frames = {{200, 1}};
    refused(wild, "run beyond the row");
    wild.frames = {{0, 2, 90, 90}};
    refused(wild, "delta beyond the picture");
    wild.frames = {{0, 9, 1, 2}};
    refused(wild, "literal run beyond the data");
    EXPECT_FALSE(AviClip::Parse(Bytes{'R', 'I', 'F', 'F'}));
    EXPECT_FALSE(AviClip::Load("/nonexistent/OrbLogo.avi"));
}

#ifdef SHELL_MEDIA_DIR
TEST(AviClipTest, TheShippedLogoClipPlays) {
    std::string error;
    const auto clip = AviClip::Load(std::string(SHELL_MEDIA_DIR) + "/OrbLogo.avi", &error);
    ASSERT_TRUE(clip) << error;
    EXPECT_GT(clip->FrameCount(), 1);
    EXPECT_NE(clip->Frame(0), clip->Frame(1));
}
#endif

} // namespace
