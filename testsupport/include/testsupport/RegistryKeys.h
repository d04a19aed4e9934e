#pragma once

// A key of HKEY_LOCAL_MACHINE in the test's own registry, made when it is missing; one that cannot
// be made fails the running test. Header only, for GoogleTest programs.

#include <platform/Registry.h>

#include <gtest/gtest.h>

#include <string>

namespace testsupport {

inline platform::RegKey CreateKey(const std::string& path) {
    platform::RegKey key;
    EXPECT_EQ(platform::RegKey::Create(platform::RegRoot::LocalMachine, path, key),
              platform::RegStatus::Ok)
        << path;
    return key;
}

} // namespace testsupport
