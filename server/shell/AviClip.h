#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace shell {

// A silent video clip of the kind the logo plays: one video stream, frames either uncompressed
// (8 bits with a palette, or 24 bits) or RLE8-compressed, no sound. Anything else, and any clip
// whose structure does not hold together, is refused.
class AviClip {
public:
    // Frames are decoded at once: the logo clips are small.
    static std::optional<AviClip> Parse(const std::vector<std::uint8_t>& bytes,
                                        std::string* error = nullptr);
    static std::optional<AviClip> Load(const std::string& path, std::string* error = nullptr);

    int Width() const { return m_nWidth; }
    int Height() const { return m_nHeight; }
    int FrameCount() const { return static_cast<int>(m_Frames.size()); }
    // Time between frames in milliseconds, at least 10.
    int FrameIntervalMs() const { return m_nIntervalMs; }
    // Pixels 0xAARRGGBB, top row first.
    const std::vector<std::uint32_t>& Frame(int index) const { return m_Frames.at(index); }

    // Bounds that keep a damaged or hostile clip from taking the memory.
    static constexpr int kMaxSide = 2048;
    static constexpr std::size_t kMaxPixels = 32u * 1024 * 1024; // over all frames

private:
    AviClip() = default;

    int m_nWidth = 0;
    int m_nHeight = 0;
    int m_nIntervalMs = 100;
    std::vector<std::vector<std::uint32_t>> m_Frames;
};

} // namespace shell
