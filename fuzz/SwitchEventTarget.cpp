// The parsers of the switch's events: any body, under any letter, parses without reading past
// its end, and the texts it yields stay within what the body can carry.
//
// Input: the body of one event record, its letter at [0] as the switch sends it.

#include "FuzzCheck.h"

#include <engine/SwitchEventRecord.h>

#include <cstdint>
#include <memory>
#include <string>

using namespace engine;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    // The letter the input names, and every other letter over the same bytes, so a body meant
    // for one parser reaches all of them.
    for (int letter = 0; letter < 256; ++letter) {
        const std::uint8_t chosen = letter == 0 ? data[0] : static_cast<std::uint8_t>(letter);
        std::unique_ptr<SwitchEventRecord> record = MakeSwitchEventRecord(chosen);
        if (record == nullptr)
            continue; // a letter that has no parser
        record->Parse(protocol::ByteView(data, size));
        FUZZ_CHECK(record->m_strDeviceText.size() <= 2 * size + 16);
        FUZZ_CHECK(record->SecondDeliveryText().size() <= 2 * size + 16);
    }
    return 0;
}
