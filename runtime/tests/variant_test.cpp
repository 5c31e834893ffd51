// Variant kinds, arrays, equality, copies, and Error values.
#include <gtest/gtest.h>

#include <zembra/runtime.hpp>

using zembra::Error;
using zembra::Variant;

namespace {

template <typename F>
int32_t raised(F&& f) {
    try {
        f();
    } catch (const Error& e) {
        return e.number();
    }
    return 0;
}

TEST(Variant, KindsOfEachConstructor) {
    EXPECT_EQ(Variant().type(), Variant::Type::Empty);
    EXPECT_EQ(Variant::null().type(), Variant::Type::Null);
    EXPECT_EQ(Variant(true).type(), Variant::Type::Boolean);
    EXPECT_EQ(Variant::int16(3).type(), Variant::Type::Int16);
    EXPECT_EQ(Variant(int32_t{3}).type(), Variant::Type::Int32);
    EXPECT_EQ(Variant(3.0).type(), Variant::Type::Double);
    EXPECT_EQ(Variant("x").type(), Variant::Type::String);
    EXPECT_EQ(Variant(std::string("x")).type(), Variant::Type::String);
    EXPECT_EQ(Variant(std::vector<uint8_t>{}).type(), Variant::Type::Bytes);
    EXPECT_EQ(Variant(std::vector<Variant>{}).type(), Variant::Type::Array);
    EXPECT_TRUE(Variant(true).isNumeric());
    EXPECT_TRUE(Variant::int16(1).isNumeric());
    EXPECT_FALSE(Variant("1").isNumeric());
    EXPECT_FALSE(Variant().isNumeric());
    EXPECT_EQ(Variant(static_cast<const char*>(nullptr)).toString(), "");
}

TEST(VariantArray, BoundsAndIndexing) {
    Variant a = Variant::array({Variant("10001"), Variant("90210"), Variant("02134")}, 1);
    EXPECT_EQ(a.lowerBound(), 1);
    EXPECT_EQ(a.upperBound(), 3);
    EXPECT_EQ(a.at(1).toString(), "10001");
    EXPECT_EQ(a.at(3).toString(), "02134");
    EXPECT_EQ(raised([&] { a.at(0); }), zembra::err::kSubscript);
    EXPECT_EQ(raised([&] { a.at(4); }), zembra::err::kSubscript);
    EXPECT_EQ(raised([&] { a.at(-2147483647 - 1); }), zembra::err::kSubscript);
    a.at(2) = Variant(5);
    EXPECT_EQ(a.elements()[1], Variant(5));

    const Variant zeroBased(std::vector<Variant>{Variant(1.5)});
    EXPECT_EQ(zeroBased.lowerBound(), 0);
    EXPECT_EQ(zeroBased.upperBound(), 0);

    const Variant empty(std::vector<Variant>{});
    EXPECT_EQ(empty.upperBound(), empty.lowerBound() - 1);
    EXPECT_EQ(raised([&] { empty.at(0); }), zembra::err::kSubscript);
    const Variant emptyFrom5 = Variant::array({}, 5);
    EXPECT_EQ(emptyFrom5.upperBound(), 4);

    // An array ending exactly at the top of the int32 range is fine; one past it is not.
    EXPECT_EQ(Variant::array({Variant(1)}, 2147483647).upperBound(), 2147483647);
    EXPECT_EQ(raised([] {
                  Variant::array({Variant(1), Variant(2)}, 2147483647);
              }),
              zembra::err::kOverflow);
    EXPECT_EQ(raised([] { Variant::array({}, -2147483647 - 1); }), zembra::err::kOverflow);
    EXPECT_EQ(Variant::array({Variant(1)}, -2147483647 - 1).upperBound(), -2147483647 - 1);
}

TEST(VariantArray, ScalarsAreNotArrays) {
    const Variant text("x");
    EXPECT_EQ(raised([&] { text.lowerBound(); }), zembra::err::kTypeMismatch);
    EXPECT_EQ(raised([&] { text.upperBound(); }), zembra::err::kTypeMismatch);
    EXPECT_EQ(raised([&] { text.at(0); }), zembra::err::kTypeMismatch);
    EXPECT_EQ(raised([&] { text.elements(); }), zembra::err::kTypeMismatch);
    EXPECT_EQ(raised([] { Variant(std::vector<uint8_t>{1}).at(0); }), zembra::err::kTypeMismatch);
}

TEST(VariantArray, CopiesAreIndependent) {
    Variant original = Variant::array({Variant(1), Variant::array({Variant(2)})});
    Variant copy = original;
    copy.at(0) = Variant(10);
    copy.at(1).at(0) = Variant(20);
    EXPECT_EQ(original.at(0), Variant(1));
    EXPECT_EQ(original.at(1).at(0), Variant(2));

    Variant assigned;
    assigned = original;
    assigned.at(0) = Variant("changed");
    EXPECT_EQ(original.at(0), Variant(1));
    assigned = assigned;  // self-assignment keeps the value
    EXPECT_EQ(assigned.at(0), Variant("changed"));

    Variant moved = std::move(copy);
    EXPECT_EQ(moved.at(0), Variant(10));
}

TEST(Variant, EqualityIsExactInTypeAndValue) {
    EXPECT_EQ(Variant(), Variant());
    EXPECT_EQ(Variant::null(), Variant::null());
    EXPECT_NE(Variant(), Variant::null());
    EXPECT_NE(Variant(int32_t{1}), Variant(1.0));
    EXPECT_NE(Variant(int32_t{1}), Variant::int16(1));
    EXPECT_EQ(Variant::int16(7), Variant::int16(7));
    EXPECT_NE(Variant("1"), Variant(int32_t{1}));
    EXPECT_EQ(Variant::array({Variant(1), Variant("a")}),
              Variant::array({Variant(1), Variant("a")}));
    EXPECT_NE(Variant::array({Variant(1)}, 0), Variant::array({Variant(1)}, 1));
    EXPECT_NE(Variant::array({Variant(1)}), Variant::array({Variant(2)}));
    EXPECT_NE(Variant(std::vector<uint8_t>{1}), Variant(std::vector<uint8_t>{1, 0}));
}

TEST(ErrorValue, CarriesNumberSourceAndDescription) {
    const Error e(zembra::err::kEngine, "Pixam.CMap", "No input map supplied");
    EXPECT_EQ(e.number(), -2147220504);
    EXPECT_EQ(e.source(), "Pixam.CMap");
    EXPECT_EQ(e.description(), "No input map supplied");
    EXPECT_STREQ(e.what(), "No input map supplied");

    const Error copy = e;  // a copy is independent of the original's lifetime
    EXPECT_EQ(copy.description(), e.description());

    const Error bare(1234, "X", "");
    EXPECT_STRNE(bare.what(), "");
}

TEST(ErrorValue, StandardDescriptions) {
    EXPECT_EQ(Error::standardDescription(5), "Invalid procedure call or argument");
    EXPECT_EQ(Error::standardDescription(6), "Overflow");
    EXPECT_EQ(Error::standardDescription(9), "Subscript out of range");
    EXPECT_EQ(Error::standardDescription(11), "Division by zero");
    EXPECT_EQ(Error::standardDescription(13), "Type mismatch");
    EXPECT_EQ(Error::standardDescription(53), "File not found");
    EXPECT_EQ(Error::standardDescription(70), "Permission denied");
    EXPECT_EQ(Error::standardDescription(76), "Path not found");
    EXPECT_EQ(Error::standardDescription(94), "Invalid use of Null");
    EXPECT_EQ(Error::standardDescription(380), "Invalid property value");
    EXPECT_EQ(Error::standardDescription(429), "Can't create object");
    EXPECT_EQ(Error::standardDescription(438), "Object doesn't support this property or method");
    EXPECT_EQ(Error::standardDescription(450),
              "Wrong number of arguments or invalid property assignment");
    EXPECT_EQ(Error::standardDescription(zembra::err::kDatabase), "");
    EXPECT_EQ(Error::standardDescription(zembra::err::kEngine), "");
    EXPECT_EQ(Error::standardDescription(0), "");
    // The numbers the runtime raises by name, each with its classic description.
    EXPECT_EQ(Error::standardDescription(zembra::err::kOutOfMemory), "Out of memory");
    EXPECT_EQ(zembra::err::kOutOfMemory, 7);
    EXPECT_EQ(Error::standardDescription(zembra::err::kLibraryLoad), "Error in loading DLL");
    EXPECT_EQ(zembra::err::kLibraryLoad, 48);
    EXPECT_EQ(Error::standardDescription(zembra::err::kInternal), "Internal error");
    EXPECT_EQ(Error::standardDescription(zembra::err::kPathFileAccess), "Path/File access error");
    EXPECT_EQ(zembra::err::kPathFileAccess, 75);
    EXPECT_EQ(Error::standardDescription(zembra::err::kObjectNotSet),
              "Object variable or With block variable not set");
    EXPECT_EQ(zembra::err::kObjectNotSet, 91);
    EXPECT_EQ(Error::standardDescription(zembra::err::kEntryPointNotFound),
              "Specified DLL function not found");
    EXPECT_EQ(zembra::err::kEntryPointNotFound, 453);
    EXPECT_EQ(zembra::err::kEngine, -2147220504);

    const Error plain = Error::standard(13);
    EXPECT_EQ(plain.number(), 13);
    EXPECT_EQ(plain.source(), "Zembra");
    EXPECT_EQ(plain.description(), "Type mismatch");
    const Error detailed = Error::standard(53, "Pixam.CMap", "/maps/usa.jpg");
    EXPECT_EQ(detailed.source(), "Pixam.CMap");
    EXPECT_EQ(detailed.description(), "File not found: /maps/usa.jpg");
}

}  // namespace
