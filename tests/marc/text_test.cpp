#include "text.h"

#include <gtest/gtest.h>

TEST(Placeholder, Builds) { EXPECT_EQ(marc::PosText("$", "ab$"), 3); }
