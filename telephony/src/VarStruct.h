#pragma once

// Fills a caller's variable-size structure by its growth rules: the fixed part always (when the
// buffer holds it), the variable part only when all of it fits.

#include <telephony/Tapi.h>

#include <cstring>
#include <string>
#include <vector>

namespace telephony::detail {

class VarStruct {
public:
    // The buffer starts with dwTotalSize, dwNeededSize, dwUsedSize.
    VarStruct(void* buffer, DWORD fixedSize)
        : base_(static_cast<unsigned char*>(buffer)), fixed_(fixedSize) {}

    // LINEERR_STRUCTURETOOSMALL when the buffer cannot hold the fixed part.
    int32_t Begin() {
        if (base_ == nullptr) {
            return LINEERR_INVALPOINTER;
        }
        std::memcpy(&total_, base_, sizeof total_);
        if (total_ < fixed_) {
            return LINEERR_STRUCTURETOOSMALL;
        }
        std::memset(base_ + 4, 0, fixed_ - 4);
        return 0;
    }

    // Queues a variable part whose size and offset go to the two fields at these byte offsets.
    void Add(DWORD sizeField, DWORD offsetField, const void* data, DWORD size) {
        parts_.push_back(
            {sizeField, offsetField, std::string(static_cast<const char*>(data), size)});
    }
    // A part that no field describes (it follows the previous part directly).
    void AddBlock(const void* data, DWORD size) { Add(kNoField, kNoField, data, size); }
    void AddString(DWORD sizeField, DWORD offsetField, const std::string& text) {
        Add(sizeField, offsetField, text.c_str(), static_cast<DWORD>(text.size() + 1));
    }

    bool VariablePartFits() const {
        DWORD needed = fixed_;
        for (const Part& part : parts_) {
            needed += static_cast<DWORD>(part.bytes.size());
        }
        return needed <= total_;
    }

    void SetField(DWORD offset, DWORD value) { std::memcpy(base_ + offset, &value, sizeof value); }

    // Writes the variable part when it fits and the three size fields.
    void Finish() {
        DWORD needed = fixed_;
        for (const Part& part : parts_) {
            needed += static_cast<DWORD>(part.bytes.size());
        }
        DWORD used = fixed_;
        if (needed <= total_) {
            for (const Part& part : parts_) {
                std::memcpy(base_ + used, part.bytes.data(), part.bytes.size());
                if (part.sizeField != kNoField) {
                    SetField(part.sizeField, static_cast<DWORD>(part.bytes.size()));
                    SetField(part.offsetField, used);
                }
                used += static_cast<DWORD>(part.bytes.size());
            }
        }
        SetField(4, needed);
        SetField(8, used);
    }

private:
    static constexpr DWORD kNoField = 0xFFFFFFFFu;
    struct Part {
        DWORD sizeField;
        DWORD offsetField;
        std::string bytes;
    };
    unsigned char* base_;
    DWORD fixed_;
    DWORD total_ = 0;
    std::vector<Part> parts_;
};

} // namespace telephony::detail
