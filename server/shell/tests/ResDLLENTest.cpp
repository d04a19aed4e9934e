#include <shell/RegistryConfig.h>

#include <platform/ResourceLibrary.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#ifdef RESDLL_DIR

using namespace shell;

namespace {

std::vector<unsigned> Range(unsigned first, unsigned last, unsigned step = 1) {
    std::vector<unsigned> ids;
    for (unsigned id = first; id <= last; id += step)
        ids.push_back(id);
    return ids;
}

// Every string id the server shows: the main window, link start and stop, recovery, the
// registry and settings messages, the stored users and their dialogs, the client lists and the
// log lines of client logins and disconnections.
std::vector<unsigned> ServerStringIds() {
    std::vector<unsigned> ids = {
        101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 111, 112, 113, 114, 115, 116, 117, 118,
        119, 120, 122, 123, 125, 126, 127, 128, 129, 130, 131, 132, 133, 134, 135, 136, 137, 138,
        140, 141, 142, 143, 144, 145, 146, 147, 148, 149, 150, 151, 152, 153, 154, 155, 161, 162,
        164, 165, 166, 167, 168, 170, 171, 172, 173, 174, 175, 178, 179, 180, 181, 182, 183, 184,
        185, 186, 188, 204, 205, 207, 208, 210, 211, 212, 213, 215, 216, 222, 223, 224, 225, 226,
        227, 229, 230, 232, 237, 311, 312, 313, 314, 315, 316, 317, 318, 362, 363, 364,
        // Logins accepted, refused and closed, by kind.
        271, 272, 273, 274, 275, 276, 277, 278, 279, 280, 281, 282, 283, 284, 285, 286, 291, 292,
        294, 295, 297, 298, 305, 306, 308, 309, 310, 319, 320, 367, 371, 374, 375, 376, 378, 379,
        380, 382, 383, 384};
    for (const std::vector<unsigned>& more : {Range(191, 203), Range(324, 350)})
        ids.insert(ids.end(), more.begin(), more.end());
    return ids;
}

class ResDLLENTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The name the start-up builds for English.
        ASSERT_TRUE(library_.Load(std::string(RESDLL_DIR) + LanguageLibraryName(1)))
            << library_.ErrorText();
    }
    platform::ResourceLibrary library_;
};

TEST_F(ResDLLENTest, EveryIdTheServerUsesHasAText) {
    for (const unsigned id : ServerStringIds()) {
        EXPECT_TRUE(library_.Has(id)) << "string " << id;
        EXPECT_FALSE(library_.String(id).empty()) << "string " << id;
    }
    // Below, above and far beyond the table.
    for (const unsigned id : {0u, 100u, 1000u, 65535u, 4294967295u})
        EXPECT_FALSE(library_.Has(id)) << "string " << id;
}

TEST_F(ResDLLENTest, OnlyTheRecoveryLineIsAFormat) {
    for (const unsigned id : ServerStringIds()) {
        const std::string text = library_.String(id);
        if (id == 315) {
            const auto at = text.find("%d");
            ASSERT_NE(at, std::string::npos);
            EXPECT_EQ(text.find('%', at + 2), std::string::npos) << text;
            EXPECT_EQ(text.find('%'), at) << text;
            char formatted[256];
            std::snprintf(formatted, sizeof formatted, text.c_str(), 7);
            EXPECT_NE(std::string(formatted).find(" 7 "), std::string::npos) << formatted;
        } else {
            // Texts go into formats as arguments, never as formats.
            EXPECT_EQ(text.find('%'), std::string::npos) << "string " << id << ": " << text;
        }
    }
}

} // namespace
#endif
