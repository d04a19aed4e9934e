#include "AviClip.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>

namespace shell {

namespace {

constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiRle8 = 1;

std::uint32_t U32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t U16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
bool IsTag(const std::uint8_t* p, const char* tag) {
    return std::memcmp(p, tag, 4) == 0;
}

struct Span {
    const std::uint8_t* data;
    std::size_t size;
};

// Walks the chunks of a RIFF list body; false when one overruns it.
template <typename Visit> bool ForEachChunk(Span body, Visit visit) {
    std::size_t at = 0;
    while (at + 8 <= body.size) {
        const std::uint8_t* head = body.data + at;
        const std::uint32_t size = U32(head + 4);
        if (size > body.size - at - 8)
            return false;
        if (!visit(head, Span{head + 8, size}))
            return false;
        at += 8 + size + (size & 1);
    }
    return true;
}

struct Format {
    bool found = false;
    int width = 0, height = 0, bits = 0;
    bool topDown = false;
    std::uint32_t compression = 0;
    std::uint32_t palette[256] = {};
};

bool ReadFormat(Span strf, Format& f, std::string& error) {
    if (strf.size < 40) {
        error = "video format too short";
        return false;
    }
    const std::uint32_t headerSize = U32(strf.data);
    const std::int32_t width = static_cast<std::int32_t>(U32(strf.data + 4));
    const std::int32_t height = static_cast<std::int32_t>(U32(strf.data + 8));
    f.bits = U16(strf.data + 14);
    f.compression = U32(strf.data + 16);
    std::uint32_t colours = U32(strf.data + 32);
    if (headerSize < 40 || headerSize > strf.size || width <= 0 || height == 0 ||
        width > AviClip::kMaxSide || height > AviClip::kMaxSide || height < -AviClip::kMaxSide) {
        error = "bad frame size";
        return false;
    }
    f.width = width;
    f.topDown = height < 0;
    f.height = height < 0 ? -height : height;
    const bool rgb8 = f.compression == kBiRgb && f.bits == 8;
    const bool rgb24 = f.compression == kBiRgb && f.bits == 24;
    const bool rle8 = f.compression == kBiRle8 && f.bits == 8;
    if (!rgb8 && !rgb24 && !rle8) {
        error = "only uncompressed and RLE8 frames are played";
        return false;
    }
    if (rle8 && f.topDown) {
        error = "RLE8 frames are bottom-up";
        return false;
    }
    if (f.bits == 8) {
        if (colours == 0 || colours > 256)
            colours = 256;
        const std::size_t bytes = std::size_t{colours} * 4;
        if (bytes > strf.size - headerSize) {
            error = "palette overruns the format";
            return false;
        }
        for (std::uint32_t i = 0; i < colours; ++i) {
            const std::uint8_t* q = strf.data + headerSize + i * 4;
            f.palette[i] = 0xFF000000u | (q[2] << 16) | (q[1] << 8) | q[0];
        }
    }
    f.found = true;
    return true;
}

// Row y of the picture as stored (bottom-up unless topDown) into the frame's top-first order.
std::size_t PixelIndex(const Format& f, int x, int storedRow) {
    const int row = f.topDown ? storedRow : f.height - 1 - storedRow;
    return static_cast<std::size_t>(row) * f.width + x;
}

bool DecodeRaw(const Format& f, Span data, std::vector<std::uint32_t>& frame) {
    const std::size_t stride =
        ((std::size_t{static_cast<unsigned>(f.width)} * f.bits + 31) / 32) * 4;
    if (data.size < stride * f.height)
        return false;
    for (int y = 0; y < f.height; ++y) {
        const std::uint8_t* row = data.data + stride * y;
        for (int x = 0; x < f.width; ++x) {
            std::uint32_t pixel;
            if (f.bits == 8) {
                pixel = f.palette[row[x]];
            } else {
                const std::uint8_t* p = row + x * 3;
                pixel = 0xFF000000u | (p[2] << 16) | (p[1] << 8) | p[0];
            }
            frame[PixelIndex(f, x, y)] = pixel;
        }
    }
    return true;
}

// RLE8 onto the previous frame (a delta frame leaves what it skips).
bool DecodeRle8(const Format& f, Span data, std::vector<std::uint32_t>& frame) {
    int x = 0, y = 0;
    std::size_t at = 0;
    const auto put = [&](std::uint8_t index) {
        if (x >= f.width || y >= f.height)
            return false;
        frame[PixelIndex(f, x++, y)] = f.palette[index];
        return true;
    };
    while (at + 2 <= data.size) {
        const std::uint8_t count = data.data[at];
        const std::uint8_t value = data.data[at + 1];
        at += 2;
        if (count > 0) {
            for (int i = 0; i < count; ++i)
                if (!put(value))
                    return false;
            continue;
        }
        switch (value) {
        case 0: // end of line
            x = 0;
            ++y;
            break;
        case 1: // end of picture
            return true;
        case 2: // move right and up
            if (at + 2 > data.size)
                return false;
            x += data.data[at];
            y += data.data[at + 1];
            at += 2;
            if (x > f.width || y > f.height)
                return false;
            break;
        default: { // a literal run, padded to a whole word
            const std::size_t run = value;
            if (at + run > data.size)
                return false;
            for (std::size_t i = 0; i < run; ++i)
                if (!put(data.data[at + i]))
                    return false;
            at += run + (run & 1);
            break;
        }
        }
    }
    // A frame without its end mark is taken as far as it goes.
    return true;
}

} // namespace

std::optional<AviClip> AviClip::Load(const std::string& path, std::string* error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        if (error)
            *error = path + ": cannot be opened";
        return std::nullopt;
    }
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                          std::istreambuf_iterator<char>());
    return Parse(bytes, error);
}

std::optional<AviClip> AviClip::Parse(const std::vector<std::uint8_t>& bytes, std::string* error) {
    std::string why;
    const auto fail = [&](const char* text) -> std::optional<AviClip> {
        if (error)
            *error = why.empty() ? text : why;
        return std::nullopt;
    };
    if (bytes.size() < 12 || !IsTag(bytes.data(), "RIFF") || !IsTag(bytes.data() + 8, "AVI "))
        return fail("not an AVI file");
    const std::size_t riffSize = std::min<std::size_t>(U32(bytes.data() + 4), bytes.size() - 8);
    if (riffSize < 4)
        return fail("not an AVI file");

    Format format;
    std::uint32_t microsPerFrame = 0;
    bool sound = false, otherStream = false;
    std::vector<Span> frames;

    const auto streamList = [&](Span strl) {
        bool video = false;
        return ForEachChunk(strl, [&](const std::uint8_t* head, Span body) {
            if (IsTag(head, "strh") && body.size >= 4) {
                video = IsTag(body.data, "vids");
                sound = sound || IsTag(body.data, "auds");
                otherStream = otherStream || (!video && !IsTag(body.data, "auds"));
            } else if (IsTag(head, "strf") && video && !format.found) {
                return ReadFormat(body, format, why);
            }
            return true;
        });
    };
    // Frames of stream 0 ('00db' or '00dc'), also inside 'rec ' lists.
    std::function<bool(Span)> movieList = [&](Span movi) {
        return ForEachChunk(movi, [&](const std::uint8_t* head, Span body) {
            if (IsTag(head, "LIST") && body.size >= 4 && IsTag(body.data, "rec "))
                return movieList(Span{body.data + 4, body.size - 4});
            if (head[0] == '0' && head[1] == '0' &&
                ((head[2] == 'd' && head[3] == 'b') || (head[2] == 'd' && head[3] == 'c'))) {
                if (frames.size() >= 100000)
                    return false;
                frames.push_back(body);
            }
            return true;
        });
    };
    const bool walked = ForEachChunk(
        Span{bytes.data() + 12, riffSize - 4}, [&](const std::uint8_t* head, Span body) {
            if (!IsTag(head, "LIST") || body.size < 4)
                return true;
            const Span inner{body.data + 4, body.size - 4};
            if (IsTag(body.data, "hdrl")) {
                return ForEachChunk(inner, [&](const std::uint8_t* h, Span b) {
                    if (IsTag(h, "avih") && b.size >= 40)
                        microsPerFrame = U32(b.data);
                    if (IsTag(h, "LIST") && b.size >= 4 && IsTag(b.data, "strl"))
                        return streamList(Span{b.data + 4, b.size - 4});
                    return true;
                });
            }
            if (IsTag(body.data, "movi"))
                return movieList(inner);
            return true;
        });
    if (!walked)
        return fail("damaged clip");
    if (sound)
        return fail("clips with sound are not played");
    if (otherStream)
        return fail("clip has a stream that is not video");
    if (!format.found)
        return fail("no video stream");
    if (frames.empty())
        return fail("no frames");
    const std::size_t pixels = std::size_t{static_cast<unsigned>(format.width)} * format.height;
    if (pixels * frames.size() > kMaxPixels)
        return fail("clip too large");

    AviClip clip;
    clip.m_nWidth = format.width;
    clip.m_nHeight = format.height;
    clip.m_nIntervalMs = std::max<int>(10, static_cast<int>(microsPerFrame / 1000));
    std::vector<std::uint32_t> picture(pixels, format.palette[0] | 0xFF000000u);
    for (const Span& data : frames) {
        const bool ok = format.compression == kBiRle8 ? DecodeRle8(format, data, picture)
                                                      : DecodeRaw(format, data, picture);
        if (!ok)
            return fail("damaged frame");
        clip.m_Frames.push_back(picture);
    }
    return clip;
}

} // namespace shell
