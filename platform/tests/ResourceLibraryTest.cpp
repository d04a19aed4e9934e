#include <platform/ResourceLibrary.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>
#include <utility>

using platform::ResourceLibrary;

namespace {

const std::string kLanguage = VELTRANE_FIXTURE_LANGUAGE_LIBRARY;
const std::string kPlain = VELTRANE_FIXTURE_PLAIN_LIBRARY;

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace

TEST(ResourceLibraryTest, ReadsTheTextsOfALanguageLibrary) {
    ResourceLibrary library;
    ASSERT_TRUE(library.Load(kLanguage)) << library.ErrorText();
    EXPECT_TRUE(library.IsLoaded());
    EXPECT_TRUE(library.ErrorText().empty());
    EXPECT_EQ(library.Path(), kLanguage);

    EXPECT_TRUE(library.Has(1));
    EXPECT_EQ(library.String(1), "Link is up");
    EXPECT_EQ(library.String(300), "Gr\xc3\xbc\xc3\x9f"
                                   "e");
    EXPECT_EQ(library.String(0xFFFFFFFFu), "last id");

    // Present but empty is not the same as absent.
    EXPECT_TRUE(library.Has(2));
    EXPECT_EQ(library.String(2), "");
    EXPECT_FALSE(library.Has(3));
    EXPECT_EQ(library.String(3), "");
    EXPECT_FALSE(library.Has(0));
}

TEST(ResourceLibraryTest, MissingLibraryIsReportedClearly) {
    ResourceLibrary library;
    const std::string path = "/nonexistent-folder/libResNowhere.so";
    EXPECT_FALSE(library.Load(path));
    EXPECT_FALSE(library.IsLoaded());
    EXPECT_TRUE(Contains(library.ErrorText(), path)) << library.ErrorText();
    EXPECT_TRUE(Contains(library.ErrorText(), "No such file")) << library.ErrorText();
    EXPECT_EQ(library.String(1), "");
    EXPECT_FALSE(library.Has(1));

    EXPECT_FALSE(library.Load(""));
    EXPECT_FALSE(library.ErrorText().empty());
}

TEST(ResourceLibraryTest, RefusesFilesThatAreNoLanguageLibrary) {
    ResourceLibrary library;
    EXPECT_FALSE(library.Load(kPlain));
    EXPECT_FALSE(library.IsLoaded());
    EXPECT_TRUE(Contains(library.ErrorText(), "veltrane_resource_string")) << library.ErrorText();
    EXPECT_TRUE(Contains(library.ErrorText(), kPlain)) << library.ErrorText();

    char path[] = "/tmp/resourcelibXXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    std::ofstream(path) << "this is not a shared library\n";
    EXPECT_FALSE(library.Load(path));
    EXPECT_TRUE(Contains(library.ErrorText(), path)) << library.ErrorText();
    ::unlink(path);
}

TEST(ResourceLibraryTest, LoadReplacesAndUnloadForgetsTheLibrary) {
    ResourceLibrary library;
    ASSERT_TRUE(library.Load(kLanguage));
    // A failed load leaves nothing of the earlier library behind.
    EXPECT_FALSE(library.Load(kPlain));
    EXPECT_EQ(library.String(1), "");

    ASSERT_TRUE(library.Load(kLanguage));
    EXPECT_TRUE(library.ErrorText().empty());
    ASSERT_TRUE(library.Load(kLanguage)); // loading it again is fine
    EXPECT_EQ(library.String(1), "Link is up");
    library.Unload();
    EXPECT_FALSE(library.IsLoaded());
    EXPECT_FALSE(library.Has(1));
    library.Unload();
}

TEST(ResourceLibraryTest, MovingHandsTheLibraryOver) {
    ResourceLibrary first;
    ASSERT_TRUE(first.Load(kLanguage));
    ResourceLibrary second(std::move(first));
    EXPECT_EQ(second.String(1), "Link is up");
    EXPECT_FALSE(first.IsLoaded()); // NOLINT(bugprone-use-after-move): moved-from state is defined
    EXPECT_EQ(first.String(1), "");

    ResourceLibrary third;
    ASSERT_TRUE(third.Load(kLanguage));
    third = std::move(second);
    EXPECT_EQ(third.String(1), "Link is up");
    EXPECT_FALSE(second.IsLoaded()); // NOLINT(bugprone-use-after-move)
}
