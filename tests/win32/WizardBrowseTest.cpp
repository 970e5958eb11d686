// The folder browser keeps the last folder name of the destination.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "ui/Wizard.h"

namespace {

std::string Browsed(const char* current, const char* chosen) {
  char out[MAX_PATH] = "unchanged";
  if (!BrowsedDestination(current, chosen, out)) return std::string("refused, ") + out;
  return out;
}

TEST(WizardBrowse, TheChosenFolderTakesTheLastNameOfTheDestination) {
  EXPECT_EQ("D:\\Apps\\Example App", Browsed("C:\\Program Files\\Example App", "D:\\Apps"));
  // a drive root ends in a backslash already: none is doubled
  EXPECT_EQ("E:\\Example App", Browsed("C:\\Program Files\\Example App", "E:\\"));
  // a destination ending in a backslash has an empty last name
  EXPECT_EQ("D:\\Apps\\", Browsed("C:\\Program Files\\", "D:\\Apps"));
  // no backslash at all: the chosen folder alone
  EXPECT_EQ("D:\\Apps", Browsed("Example App", "D:\\Apps"));
  EXPECT_EQ("\\\\server\\share\\App", Browsed("C:\\App", "\\\\server\\share"));
}

TEST(WizardBrowse, AResultPastTheLimitLeavesTheDestinationAlone) {
  const std::string chosen = "D:\\" + std::string(250, 'a');
  EXPECT_EQ("refused, unchanged", Browsed("C:\\Program Files\\Example App", chosen.c_str()));
  const std::string fits = "D:\\" + std::string(259 - 3 - 4, 'a');  // + "\\App" = 259 characters
  EXPECT_EQ(fits + "\\App", Browsed("C:\\App", fits.c_str()));
  EXPECT_EQ("refused, unchanged", Browsed("C:\\Apps", fits.c_str()));
}

}  // namespace
