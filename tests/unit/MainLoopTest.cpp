// Start-up helpers of the main loop: the executable's directory and the menu grid rows.
#include <gtest/gtest.h>

#include <string>

#include "app/MainLoop.h"

TEST(ExecutableDirectory, RelativePathGivesItsDirectory) {
  std::string Directory;
  ASSERT_TRUE(ExecutableDirectory("./cam", &Directory));
  EXPECT_EQ(Directory, ".");
  ASSERT_TRUE(ExecutableDirectory("/opt/cam/cam", &Directory));
  EXPECT_EQ(Directory, "/opt/cam");
}

TEST(ExecutableDirectory, NameWithoutSlashKeepsCurrentDirectory) {
  std::string Directory = "unchanged";
  EXPECT_FALSE(ExecutableDirectory("cam", &Directory));
  EXPECT_EQ(Directory, "unchanged");
}

TEST(ExecutableDirectory, FileBelowRootGivesEmptyDirectory) {
  std::string Directory;
  ASSERT_TRUE(ExecutableDirectory("/cam", &Directory));
  EXPECT_EQ(Directory, "");
}

TEST(ExecutableDirectory, VeryLongNameIsTakenWhole) {
  std::string Long(10000, 'd');
  Long += "/cam";
  std::string Directory;
  ASSERT_TRUE(ExecutableDirectory(Long.c_str(), &Directory));
  EXPECT_EQ(Directory.size(), 10000u);
}

TEST(MenuRows, DividesHeightLessBorderByItemHeight) {
  EXPECT_EQ(MenuRowsFor(24, 0, 2), 12);
  EXPECT_EQ(MenuRowsFor(24, 1, 2), 11);
  EXPECT_EQ(MenuRowsFor(24, 3, 4), 5);
}

TEST(MenuRows, ZeroItemHeightCountsAsTheTwoLinesOfAMenu) {
  EXPECT_EQ(MenuRowsFor(24, 2, 0), 11);
}

TEST(MenuRows, ExtremeValuesDoNotOverflow) {
  EXPECT_EQ(MenuRowsFor(24, -2147483647 - 1, -1), -2147483647 - 1);
  EXPECT_EQ(MenuRowsFor(0, 5, 2), -2);
}
