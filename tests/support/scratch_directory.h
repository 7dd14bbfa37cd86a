#pragma once

// A directory of a test's own under the test temporary directory, gone with what it holds when
// the test is done with it.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

namespace tavrolin::test {

struct ScratchDirectory {
    const std::string path = [] {
        std::string name = ::testing::TempDir() + "tavrolin-test-XXXXXX";
        if (!::mkdtemp(name.data())) throw std::runtime_error("cannot make " + name);
        return name;
    }();
    ~ScratchDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }

    std::string operator/(const std::string& file) const { return path + "/" + file; }
};

}  // namespace tavrolin::test
