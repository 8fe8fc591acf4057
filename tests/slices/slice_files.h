#pragma once
// The committed slice fixtures of tests/data/slices (made by real encoders, see
// make_fixtures.sh), and a copy of one into a scratch directory (tests/support.h).
#include <filesystem>
#include <string>

#include "support.h"

using namespace voxwrap;  // the tests speak the library's names

inline std::string FixturePath(const std::string& name) {
    return SourcePath("tests/data/slices/" + name);
}

// Copies fixture into directory under name (which may hold subdirectories).
inline void PutFixture(const std::string& directory, const std::string& name,
                       const std::string& fixture) {
    const std::filesystem::path target = std::filesystem::path(directory) / name;
    std::filesystem::create_directories(target.parent_path());
    std::filesystem::copy_file(FixturePath(fixture), target,
                               std::filesystem::copy_options::overwrite_existing);
}
