#include "cli/output.h"
#include "mesh/mesh.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

using namespace voxwrap;       // the tests speak the library's names
using namespace voxwrap::cli;  // and the command line's

namespace {

TEST(PutBytes, PutRReversesAndPutNKeepsOrder) {
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    const unsigned char data[5] = {1, 2, 3, 4, 5};
    PutN(f, data, 5);
    PutR(f, data, 4);
    std::rewind(f);
    unsigned char back[9] = {};
    ASSERT_EQ(std::fread(back, 1, 9, f), 9u);
    EXPECT_EQ(std::vector<unsigned char>(back, back + 9),
              (std::vector<unsigned char>{1, 2, 3, 4, 5, 4, 3, 2, 1}));
    std::fclose(f);
}

}  // namespace
