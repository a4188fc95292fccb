// The platform layer's Linux stand-ins.
#include "util/platform.h"

#include <gtest/gtest.h>

#include <cstring>

namespace Kavren::Platform {
namespace {

TEST(Platform, LocalTimeIsPlausible) {
  LocalTime now = CaptureLocalTime();
  EXPECT_GE(now.year, 2020);
  EXPECT_GE(now.month, 1);
  EXPECT_LE(now.month, 12);
  EXPECT_GE(now.millisecond, 0);
  EXPECT_LT(now.millisecond, 1000);
}

TEST(Platform, ExecutablePathNamesThisTest) {
  std::string path = ExecutablePath();
  EXPECT_NE(path.find("util_tests"), std::string::npos) << path;
  EXPECT_EQ(ExecutablePath(4).size(), 4u);
}

TEST(Platform, RegionsAreZeroedAndWritable) {
  auto* region = static_cast<unsigned char*>(AllocateRegion(65536));
  ASSERT_NE(region, nullptr);
  EXPECT_EQ(region[0], 0);
  EXPECT_EQ(region[65535], 0);
  std::memset(region, 0xAB, 65536);
  FreeRegion(region, 65536);
}

TEST(Platform, HighResolutionCounterAdvances) {
  std::uint64_t first = HighResolutionCounter();
  std::uint64_t second = HighResolutionCounter();
  EXPECT_GE(second, first);
  EXPECT_EQ(HighResolutionFrequency(), 1000000000ULL);
}

}  // namespace
}  // namespace Kavren::Platform
