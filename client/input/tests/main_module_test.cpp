#include "input/main_module.hpp"

#include <gtest/gtest.h>

namespace zembra::client {
namespace {

TEST(MainModule, NullIfBlankTrimsSpacesOnlyAndTurnsBlankIntoNull) {
    EXPECT_TRUE(NullIfBlank(Variant::null()).isNull());
    EXPECT_TRUE(NullIfBlank(Variant()).isNull());  // Empty reads as ""
    EXPECT_TRUE(NullIfBlank(Variant("   ")).isNull());
    EXPECT_EQ(NullIfBlank(Variant(" 10001 ")), Variant("10001"));
    EXPECT_EQ(NullIfBlank(Variant(" a b ")), Variant("a b"));
    // Tabs and line breaks are not blanks.
    EXPECT_EQ(NullIfBlank(Variant("\t08873\t")), Variant("\t08873\t"));
    EXPECT_EQ(NullIfBlank(Variant("\r\n")), Variant("\r\n"));
    // A value without a text form counts as blank instead of raising.
    EXPECT_TRUE(NullIfBlank(Variant(std::vector<Variant>{Variant("x")})).isNull());
}

TEST(MainModule, CleanValueGivesTheTextFormOfNumbers) {
    EXPECT_EQ(CleanValue(Variant::null()), "");
    EXPECT_EQ(CleanValue(Variant("  ")), "");
    EXPECT_EQ(CleanValue(Variant(" 08873 ")), "08873");
    EXPECT_EQ(CleanValue(Variant(int32_t{8873})), "8873");  // leading zero lost
    EXPECT_EQ(CleanValue(Variant(8873.0)), "8873");
    EXPECT_EQ(CleanValue(Variant(0.5)), "0.5");
    EXPECT_EQ(CleanValue(Variant::int16(-7)), "-7");
    EXPECT_EQ(CleanValue(Variant(std::vector<Variant>{})), "");
}

TEST(MainModule, GetPairValueTakesTheTextBetweenFirstAndSecondDelimiter) {
    EXPECT_EQ(GetPairValue("Server = MYHOST ", "="), "MYHOST");
    EXPECT_EQ(GetPairValue(" Server=MYHOST", ""), "MYHOST");  // empty delimiter means "="
    EXPECT_EQ(GetPairValue("PWD=a=b", ""), "a");              // cut at the second "="
    EXPECT_EQ(GetPairValue("Server", "="), "");
    EXPECT_EQ(GetPairValue("", ""), "");
    EXPECT_EQ(GetPairValue("Server=", "="), "");
    EXPECT_EQ(GetPairValue("=x", "="), "x");
    EXPECT_EQ(GetPairValue("key::value::rest", "::"), "value");
    EXPECT_EQ(GetPairValue("key:value", "::"), "");
    // Comparison is case-sensitive.
    EXPECT_EQ(GetPairValue("aXbxc", "x"), "c");
    EXPECT_EQ(GetPairValue("k=\tv\t", "="), "\tv\t");
}

TEST(MainModule, TrimTextRemovesOnlyOuterBlanks) {
    EXPECT_EQ(trimText("  a  b  "), "a  b");
    EXPECT_EQ(trimText("    "), "");
    EXPECT_EQ(trimText(""), "");
    EXPECT_EQ(trimText(" \ta\t "), "\ta\t");
}

}  // namespace
}  // namespace zembra::client
