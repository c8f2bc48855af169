#include "app/colour_text.h"

#include <gtest/gtest.h>

namespace tarn {
namespace {

TEST(ColourTextTest, NamesAndValuesRoundTrip) {
  EXPECT_EQ(StringToColor("clBlue"), 0xFF0000u);
  EXPECT_EQ(StringToColor("clLime"), 0x00FF00u);
  EXPECT_EQ(StringToColor("clMedGray"), 0xA4A0A0u);
  EXPECT_EQ(StringToColor("clMenuBar"), 0xFF00001Eu);
  EXPECT_EQ(StringToColor("clHotLight"), 0xFF00001Au);
  EXPECT_EQ(StringToColor("clNone"), 0x1FFFFFFFu);
  EXPECT_EQ(StringToColor("clDefault"), 0x20000000u);
  // Names are matched without regard to case, and written in their own case.
  EXPECT_EQ(ColorToString(StringToColor("CLFUCHSIA")), "clFuchsia");
  for (const char* name : {"clBlack", "clSkyBlue", "clCream", "clBtnFace", "cl3DDkShadow",
                           "clGradientInactiveCaption", "clInfoBk", "clNone", "clDefault"}) {
    EXPECT_EQ(ColorToString(StringToColor(name)), name);
  }
}

TEST(ColourTextTest, HexTextIsReadAndWrittenInUpperCase) {
  EXPECT_EQ(StringToColor("$00BBFFFF"), 0x00BBFFFFu);
  EXPECT_EQ(ColorToString(0x00BBFFFF), "$00BBFFFF");
  EXPECT_EQ(ColorToString(StringToColor("$00ff9191")), "$00FF9191");
  // A value that happens to have a name is written as the name.
  EXPECT_EQ(ColorToString(StringToColor("$0000FF00")), "clLime");
  // A value without a name keeps eight digits, leading zeros included.
  EXPECT_EQ(ColorToString(0x1234), "$00001234");
  // The system colour index with no name (0x19) has no entry.
  EXPECT_EQ(ColorToString(0xFF000019), "$FF000019");
}

TEST(ColourTextTest, DecimalAndOtherIntegerForms) {
  EXPECT_EQ(StringToColor("255"), 0xFFu);
  EXPECT_EQ(StringToColor("0x10"), 0x10u);
  EXPECT_EQ(StringToColor("-16777201"), 0xFF00000Fu);  // clBtnFace as a signed number
  EXPECT_EQ(ColorToString(StringToColor("-16777201")), "clBtnFace");
}

TEST(ColourTextTest, MalformedTextRaisesAConversionError) {
  for (const char* bad :
       {"", "clNoSuchColour", "$", "$00GG0000", "12abc", "$1FFFFFFFF", "4294967296", "blue"}) {
    EXPECT_THROW(StringToColor(bad), EConvertError) << bad;
  }
  try {
    StringToColor("clPink");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'clPink' is not a valid integer value");
  }
}

TEST(ColourTextTest, PaintColoursComeFromBlueGreenRedOrder) {
  EXPECT_EQ(ColorToQColor(0x00BBFFFF), QColor(0xFF, 0xFF, 0xBB));
  EXPECT_EQ(ColorToQColor(0x00FF9191), QColor(0x91, 0x91, 0xFF));
  EXPECT_EQ(ColorTextToQColor("clNavy"), QColor(0, 0, 0x80));
  EXPECT_EQ(ColorToQColor(0x1FFFFFFF).alpha(), 0);
}

}  // namespace
}  // namespace tarn
