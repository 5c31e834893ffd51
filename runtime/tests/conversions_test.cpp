// Number <-> text and between-kind conversions.
#include <gtest/gtest.h>

#include <cerrno>
#include <cfenv>
#include <cmath>
#include <filesystem>
#include <limits>
#include <zembra/runtime.hpp>
#include <zembra/text.hpp>

using zembra::Error;
using zembra::Variant;

namespace {

// Runs `f` and returns the number of the Error it raises (0 when it raises none).
template <typename F>
int32_t raised(F&& f) {
    try {
        f();
    } catch (const Error& e) {
        return e.number();
    }
    return 0;
}

TEST(FormatNumber, ShortestFormWithFifteenSignificantDigits) {
    EXPECT_EQ(zembra::formatNumber(40.7), "40.7");
    EXPECT_EQ(zembra::formatNumber(-74), "-74");
    EXPECT_EQ(zembra::formatNumber(0.1), "0.1");
    EXPECT_EQ(zembra::formatNumber(0.5), "0.5");
    EXPECT_EQ(zembra::formatNumber(0.1 + 0.2), "0.3");
    EXPECT_EQ(zembra::formatNumber(1.0 / 3.0), "0.333333333333333");
    EXPECT_EQ(zembra::formatNumber(2.0 / 3.0), "0.666666666666667");
    EXPECT_EQ(zembra::formatNumber(39.9275851696165), "39.9275851696165");
    EXPECT_EQ(zembra::formatNumber(-125.0), "-125");
    EXPECT_EQ(zembra::formatNumber(0.0), "0");
    EXPECT_EQ(zembra::formatNumber(-0.0), "0");
}

TEST(FormatNumber, ExponentFormOutsideFixedRange) {
    EXPECT_EQ(zembra::formatNumber(1e16), "1E+16");
    EXPECT_EQ(zembra::formatNumber(1e15), "1E+15");
    EXPECT_EQ(zembra::formatNumber(1e14), "100000000000000");
    EXPECT_EQ(zembra::formatNumber(123456789012345678.0), "1.23456789012346E+17");
    EXPECT_EQ(zembra::formatNumber(-2.5e300), "-2.5E+300");
    EXPECT_EQ(zembra::formatNumber(0.0001), "0.0001");
    EXPECT_EQ(zembra::formatNumber(0.00001), "1E-05");
    EXPECT_EQ(zembra::formatNumber(1.5e-7), "1.5E-07");
    // Rounding to 15 digits can carry into a new leading digit.
    EXPECT_EQ(zembra::formatNumber(999999999999999.9), "1E+15");
    EXPECT_EQ(zembra::formatNumber(9.9999999999999999e-5), "0.0001");
}

TEST(FormatNumber, RoundTripsThroughParse) {
    for (double v : {40.7, -74.0, 0.1, 1e16, 39.9275851696165, 1.5e-7, -66.4, 123456.789}) {
        EXPECT_DOUBLE_EQ(zembra::parseNumber(zembra::formatNumber(v)), v) << v;
    }
}

TEST(ParseNumber, AcceptsBlanksSignDecimalsAndExponent) {
    EXPECT_EQ(zembra::parseNumber("  12.5e1 "), 125.0);
    EXPECT_EQ(zembra::parseNumber("-74"), -74.0);
    EXPECT_EQ(zembra::parseNumber("+.5"), 0.5);
    EXPECT_EQ(zembra::parseNumber("5."), 5.0);
    EXPECT_EQ(zembra::parseNumber("1E-2"), 0.01);
    EXPECT_EQ(zembra::parseNumber("\t007\t"), 7.0);
    EXPECT_EQ(zembra::parseNumber("-0"), 0.0);
    EXPECT_EQ(zembra::parseNumber("1e-400"), 0.0);  // below the smallest double
    EXPECT_TRUE(zembra::isNumericText(" 3 "));
}

TEST(ParseNumber, RejectsEverythingElseWithTypeMismatch) {
    for (const char* text : {"12a", "", "   ", ".", "-", "1e", "1e+", "1 2", "--1", "0x10", "1,5",
                             "e5", "1.2.3", "Infinity", "nan", "12 a"}) {
        EXPECT_EQ(raised([&] { zembra::parseNumber(text); }), zembra::err::kTypeMismatch)
            << "'" << text << "'";
        EXPECT_FALSE(zembra::isNumericText(text)) << "'" << text << "'";
    }
    EXPECT_EQ(raised([] { zembra::parseNumber(std::string_view("1\0", 2)); }),
              zembra::err::kTypeMismatch);
    EXPECT_EQ(raised([] { zembra::parseNumber("1e999"); }), zembra::err::kOverflow);
    EXPECT_EQ(raised([] { zembra::parseNumber("-1e400"); }), zembra::err::kOverflow);
}

TEST(RoundToInt32, HalfToEven) {
    EXPECT_EQ(zembra::roundToInt32(2.5), 2);
    EXPECT_EQ(zembra::roundToInt32(3.5), 4);
    EXPECT_EQ(zembra::roundToInt32(-2.5), -2);
    EXPECT_EQ(zembra::roundToInt32(-3.5), -4);
    EXPECT_EQ(zembra::roundToInt32(0.5), 0);
    EXPECT_EQ(zembra::roundToInt32(1.5), 2);
    EXPECT_EQ(zembra::roundToInt32(2.4999999999), 2);
    EXPECT_EQ(zembra::roundToInt32(-0.4), 0);
    EXPECT_EQ(zembra::roundToInt32(-0.6), -1);
}

TEST(RoundToInt32, OverflowsOutsideTheRange) {
    EXPECT_EQ(zembra::roundToInt32(2147483647.0), 2147483647);
    EXPECT_EQ(zembra::roundToInt32(2147483647.4), 2147483647);
    EXPECT_EQ(zembra::roundToInt32(-2147483648.0), -2147483648);
    EXPECT_EQ(zembra::roundToInt32(-2147483648.5), -2147483648);  // half to even stays in
    EXPECT_EQ(raised([] { zembra::roundToInt32(2147483647.5); }), zembra::err::kOverflow);
    EXPECT_EQ(raised([] { zembra::roundToInt32(-2147483649.0); }), zembra::err::kOverflow);
    EXPECT_EQ(raised([] { zembra::roundToInt32(1e300); }), zembra::err::kOverflow);
    EXPECT_EQ(raised([] { zembra::roundToInt32(std::nan("")); }), zembra::err::kOverflow);
    EXPECT_EQ(raised([] { zembra::roundToInt32(-std::numeric_limits<double>::infinity()); }),
              zembra::err::kOverflow);
}

// Half to even must not depend on the floating-point rounding mode a caller (a codec, a
// plugin) may have left set.
TEST(RoundHalfEven, SameResultInEveryRoundingMode) {
    for (const int mode : {FE_TONEAREST, FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
        ASSERT_EQ(std::fesetround(mode), 0);
        const double ties[] = {0.5, 1.5, 2.5, -0.5, -1.5, -2.5, 1234567.5};
        const double even[] = {0, 2, 2, -0.0, -2, -2, 1234568};
        for (size_t i = 0; i < std::size(ties); ++i) {
            EXPECT_EQ(zembra::roundHalfEven(ties[i]), even[i]) << ties[i] << " mode " << mode;
        }
        EXPECT_EQ(zembra::roundHalfEven(2.4999999999), 2);
        EXPECT_EQ(zembra::roundHalfEven(-2.5000000001), -3);
        EXPECT_EQ(zembra::roundToInt32(-1.5), -2);
        EXPECT_EQ(zembra::roundHalfEven(1e300), 1e300);
        EXPECT_TRUE(std::isnan(zembra::roundHalfEven(std::nan(""))));
    }
    std::fesetround(FE_TONEAREST);
}

TEST(CaseFolding, AsciiOnlyAndOrderLikeTheFolderListing) {
    EXPECT_EQ(zembra::lowerAscii("USA.JPG"), "usa.jpg");
    EXPECT_EQ(zembra::lowerAscii("\xC3\x89tat"), "\xC3\x89tat");  // UTF-8 left alone
    EXPECT_TRUE(zembra::equalsIgnoreCase("MapZips", "mAPzIPS"));
    EXPECT_FALSE(zembra::equalsIgnoreCase("MapZip", "MapZips"));
    EXPECT_LT(zembra::compareIgnoreCase("alaska.jpg", "Hawaii.jpg"), 0);
    EXPECT_GT(zembra::compareIgnoreCase("usa.jpg", "USA"), 0);
    EXPECT_EQ(zembra::compareIgnoreCase("[x", "[X"), 0);
    // '_' lies between the upper and lower case letters: names fold to lower case first.
    EXPECT_GT(zembra::compareIgnoreCase("A", "_"), 0);
    EXPECT_TRUE(zembra::containsIgnoreCase("my-USA-map.jpg", "usa"));
}

TEST(FileErrors, OneMappingFromErrno) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path();
    EXPECT_EQ(zembra::fileErrorNumber(ENOENT, (folder / "missing.png").string()), 53);
    EXPECT_EQ(zembra::fileErrorNumber(ENOENT, (folder / "no-such-folder/x.png").string()), 76);
    EXPECT_EQ(zembra::fileErrorNumber(ENOTDIR, "/etc/hostname/x.png"), 76);
    EXPECT_EQ(zembra::fileErrorNumber(ENOENT), 53);
    EXPECT_EQ(zembra::fileErrorNumber(EACCES), 70);
    EXPECT_EQ(zembra::fileErrorNumber(EROFS), 70);
    EXPECT_EQ(zembra::fileErrorNumber(ENOSPC), 61);
    EXPECT_EQ(zembra::fileErrorNumber(EIO), 75);
    EXPECT_EQ(zembra::fileErrorNumber(EISDIR, {}, 70), 70);

    const Error e = zembra::fileError(EACCES, "Zembra", "/x/y.jpg", "/x/y.jpg");
    EXPECT_EQ(e.number(), 70);
    EXPECT_EQ(e.source(), "Zembra");
    EXPECT_EQ(e.description(), "Permission denied: /x/y.jpg");
}

TEST(ErrorContext, PrefixesTheDescriptionAndKeepsNumberAndSource) {
    const Error engine(zembra::err::kEngine, "Pixam.CMap", "Invalid latitude");
    const Error passed = engine.withContext("zip code 08873");
    EXPECT_EQ(passed.number(), zembra::err::kEngine);
    EXPECT_EQ(passed.source(), "Pixam.CMap");
    EXPECT_EQ(passed.description(), "zip code 08873: Invalid latitude");
    EXPECT_STREQ(passed.what(), "zip code 08873: Invalid latitude");
    EXPECT_EQ(engine.withContext("").description(), "Invalid latitude");
}

TEST(VariantConversion, Int16RangeAndRounding) {
    EXPECT_EQ(Variant(32767.4).toInt16(), 32767);
    EXPECT_EQ(Variant(-32768.5).toInt16(), -32768);
    EXPECT_EQ(Variant(4.5).toInt16(), 4);
    EXPECT_EQ(raised([] { Variant(32767.5).toInt16(); }), zembra::err::kOverflow);
    EXPECT_EQ(raised([] { Variant(int32_t{-32769}).toInt16(); }), zembra::err::kOverflow);
    EXPECT_EQ(raised([] { Variant("40000").toInt16(); }), zembra::err::kOverflow);
    EXPECT_EQ(Variant::int16(-5).toInt32(), -5);
    EXPECT_EQ(Variant::int16(-5).toString(), "-5");
}

TEST(VariantConversion, TextToNumbers) {
    EXPECT_EQ(Variant("  12.5e1 ").toInt32(), 125);
    EXPECT_EQ(Variant("2.5").toInt32(), 2);
    EXPECT_EQ(Variant("-66.4").toDouble(), -66.4);
    EXPECT_EQ(raised([] { Variant("12a").toDouble(); }), zembra::err::kTypeMismatch);
    EXPECT_EQ(raised([] { Variant("").toInt32(); }), zembra::err::kTypeMismatch);
    EXPECT_EQ(raised([] { Variant("True").toInt32(); }), zembra::err::kTypeMismatch);
}

TEST(VariantConversion, EmptyNullAndBoolean) {
    const Variant empty;
    EXPECT_EQ(empty.toDouble(), 0.0);
    EXPECT_EQ(empty.toInt32(), 0);
    EXPECT_EQ(empty.toString(), "");
    EXPECT_FALSE(empty.toBool());
    EXPECT_TRUE(empty.toBytes().empty());

    const Variant null = Variant::null();
    EXPECT_EQ(raised([&] { null.toDouble(); }), zembra::err::kInvalidUseOfNull);
    EXPECT_EQ(raised([&] { null.toInt32(); }), zembra::err::kInvalidUseOfNull);
    EXPECT_EQ(raised([&] { null.toInt16(); }), zembra::err::kInvalidUseOfNull);
    EXPECT_EQ(raised([&] { null.toString(); }), zembra::err::kInvalidUseOfNull);
    EXPECT_EQ(raised([&] { null.toBool(); }), zembra::err::kInvalidUseOfNull);
    EXPECT_EQ(raised([&] { null.toBytes(); }), zembra::err::kInvalidUseOfNull);

    EXPECT_EQ(Variant(true).toInt32(), -1);
    EXPECT_EQ(Variant(true).toDouble(), -1.0);
    EXPECT_EQ(Variant(true).toInt16(), -1);
    EXPECT_EQ(Variant(false).toInt32(), 0);
    EXPECT_EQ(Variant(true).toString(), "True");
    EXPECT_EQ(Variant(false).toString(), "False");
    EXPECT_TRUE(Variant("tRUE").toBool());
    EXPECT_FALSE(Variant(" false ").toBool());
    EXPECT_TRUE(Variant("-1").toBool());
    EXPECT_FALSE(Variant("0.0").toBool());
    EXPECT_TRUE(Variant(0.25).toBool());
    EXPECT_EQ(raised([] { Variant("yes").toBool(); }), zembra::err::kTypeMismatch);
}

TEST(VariantConversion, NumbersToText) {
    EXPECT_EQ(Variant(40.7).toString(), "40.7");
    EXPECT_EQ(Variant(1e16).toString(), "1E+16");
    EXPECT_EQ(Variant(int32_t{-2147483647 - 1}).toString(), "-2147483648");
}

TEST(VariantConversion, BytesAndArraysAreNotScalars) {
    const Variant bytes(std::vector<uint8_t>{1, 2, 3});
    const Variant array(std::vector<Variant>{Variant(1), Variant(2)});
    for (const Variant* v : {&bytes, &array}) {
        EXPECT_EQ(raised([&] { v->toDouble(); }), zembra::err::kTypeMismatch);
        EXPECT_EQ(raised([&] { v->toInt32(); }), zembra::err::kTypeMismatch);
        EXPECT_EQ(raised([&] { v->toString(); }), zembra::err::kTypeMismatch);
        EXPECT_EQ(raised([&] { v->toBool(); }), zembra::err::kTypeMismatch);
    }
    EXPECT_EQ(bytes.toBytes(), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(Variant("AB").toBytes(), (std::vector<uint8_t>{'A', 'B'}));
    EXPECT_EQ(raised([&] { array.toBytes(); }), zembra::err::kTypeMismatch);
    EXPECT_EQ(raised([] { Variant(3.0).toBytes(); }), zembra::err::kTypeMismatch);
}

}  // namespace
