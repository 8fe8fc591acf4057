#pragma once
// Helpers of the slice tests: a temporary directory that removes itself, the committed TIFF
// fixtures of tests/data/slices (made by real encoders, see make_fixtures.sh), and regex
// escaping for exact death-test texts.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

// True where the process runs under AddressSanitizer, whose shadow memory cannot live with an
// address-space limit.
#if defined(__SANITIZE_ADDRESS__)
#define VOXWRAP_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VOXWRAP_ASAN 1
#endif
#endif
#ifndef VOXWRAP_ASAN
#define VOXWRAP_ASAN 0
#endif

namespace slicetest {

namespace fs = std::filesystem;

inline fs::path FixturePath(const std::string& name) {
    return fs::path(VOXWRAP_SOURCE_DIR) / "tests" / "data" / "slices" / name;
}

class TempDir {
  public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "voxwrap-slices-XXXXXX").string();
        if (!mkdtemp(pattern.data())) ADD_FAILURE() << "mkdtemp failed";
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const fs::path& path() const { return path_; }
    std::string str() const { return path_.string(); }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

    // Copies fixture into the directory under name (which may hold subdirectories).
    void Put(const std::string& name, const std::string& fixture) const {
        const fs::path target = path_ / name;
        fs::create_directories(target.parent_path());
        fs::copy_file(FixturePath(fixture), target, fs::copy_options::overwrite_existing);
    }
    // Writes bytes verbatim (binary) under name.
    void Write(const std::string& name, const std::string& bytes) const {
        std::ofstream out(path_ / name, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

  private:
    fs::path path_;
};

// Escapes the extended-regex specials of a literal text, so that paths can go into ^...$ patterns.
inline std::string Quote(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (std::string(".[]{}()\\*+?^$|").find(c) != std::string::npos) out.push_back('\\');
        out.push_back(c);
    }
    return out;
}

}  // namespace slicetest
