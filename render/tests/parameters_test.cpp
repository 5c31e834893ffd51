// The render parameters' table: what every front end builds from it, the one check of a
// value and its message, and the reading of the values into a request.
#include <gtest/gtest.h>

#include <set>
#include <zembra/render/parameters.hpp>
#include <zembra/runtime.hpp>

namespace zembra::render::test {
namespace {

// The front ends find rows by name and option, the page captions them: a repeated name or
// option would make two controls of one value, a web row without a caption a bare name.
TEST(ParameterTable, NamesAndOptionsAreUniqueAndEveryPageControlHasACaption) {
    std::set<std::string> names, options;
    for (const Parameter& p : renderParameters()) {
        EXPECT_TRUE(names.insert(p.name).second) << p.name;
        if (!p.flags.empty()) {
            EXPECT_TRUE(options.insert(p.longFlag()).second) << p.flags;
        }
        if (p.offeredIn(kWebRender)) {
            EXPECT_FALSE(p.label.empty()) << p.name;
        }
        // A default a front end shows must pass the row's own check.
        if (!p.defaultValue.empty()) {
            EXPECT_EQ(checkParameter(p, p.defaultValue), "") << p.name;
        }
    }
    EXPECT_EQ(findParameter("no such"), nullptr);
    EXPECT_THROW(parameter("no such"), Error);
}

TEST(ParameterTable, TheFormatsAreTheImagingTables) {
    const Parameter& format = parameter("format");
    ASSERT_EQ(format.choices.size(), imaging::formats().size());
    for (size_t i = 0; i < format.choices.size(); ++i) {
        EXPECT_EQ(format.choices[i].value, imaging::formats()[i].name);
        EXPECT_EQ(formatValue(format, format.choices[i].value), imaging::formats()[i].format);
    }
    EXPECT_EQ(checkParameter(format, "tiff"), "use " + imaging::formatNames());
    // A name, not a file's extension.
    EXPECT_NE(checkParameter(format, "." + format.choices[0].value), "");
}

TEST(ParameterTable, OneCheckWithOneMessage) {
    const Parameter& width = parameter("width");
    EXPECT_EQ(checkParameter(width, "1"), "");
    EXPECT_EQ(checkParameter(width, std::to_string(width.maximum)), "");
    for (const std::string& bad : std::vector<std::string>{
             "0", "-3", "1.5", "", "12345678901234567890", std::to_string(width.maximum + 1)}) {
        EXPECT_NE(
            checkParameter(width, bad).find("must be a whole number of at least 1 and at most"),
            std::string::npos)
            << bad;
    }
    const Parameter& exact = parameter("exact");
    EXPECT_EQ(checkParameter(exact, " On "), "");
    EXPECT_EQ(checkParameter(exact, "perhaps"), "must be true or false");
    const Parameter& bounds = parameter("bounds");
    EXPECT_EQ(checkParameter(bounds, "24, 50, -125, -66.44"), "");
    EXPECT_NE(checkParameter(bounds, "50,24,-125,-66").find("minimum latitude"), std::string::npos);
    EXPECT_NE(checkParameter(bounds, "24,50,-66,-125").find("minimum longitude"),
              std::string::npos);
    EXPECT_NE(checkParameter(bounds, "24,50,-125").find("four numbers"), std::string::npos);
    EXPECT_NE(checkParameter(bounds, "24,95,-125,-66").find("between -90 and 90"),
              std::string::npos);
    EXPECT_NE(checkParameter(bounds, "24,nan,-125,-66"), "");
    EXPECT_NE(checkParameter(bounds, "24,1e999,-125,-66").find("finite"), std::string::npos);
    EXPECT_NE(checkParameter(bounds, "24,50,-200,170").find("360"), std::string::npos);
    EXPECT_EQ(boundsValue(bounds, boundsText(Bounds{24, 50, -125, -66.44})),
              (Bounds{24, 50, -125, -66.44}));

    try {
        (void)switchValue(exact, "perhaps");
        FAIL() << "a refused value reads";
    } catch (const ParameterError& e) {
        EXPECT_EQ(&e.parameter(), &exact);
        EXPECT_EQ(e.message("\"exact\""), "\"exact\" 'perhaps': must be true or false");
        EXPECT_EQ(e.message("--exact"), "--exact 'perhaps': must be true or false");
    }
}

TEST(ParameterTable, ValuesReachTheRequestAndTheRestTakeTheDefaults) {
    RenderRequest untouched;
    RenderRequest request;
    applyParameters(ParameterValues(), request);
    EXPECT_EQ(request.format, untouched.format);
    EXPECT_EQ(request.chunkSize, untouched.chunkSize);
    EXPECT_EQ(request.towns, untouched.towns);
    EXPECT_EQ(request.exact, untouched.exact);
    EXPECT_EQ(request.worldFile, untouched.worldFile);

    ParameterValues values;
    values.set("exact", "yes");
    values.set("towns", "false");
    values.set("chunkSize", "7");
    values.set("format", imaging::formats().back().name.data());
    values.set("bounds", "18.5,22.5,-161,-154");
    applyParameters(values, request);
    EXPECT_TRUE(request.exact);
    EXPECT_FALSE(request.towns);
    EXPECT_EQ(request.chunkSize, 7u);
    EXPECT_EQ(request.format, imaging::formats().back().format);
    EXPECT_EQ(request.bounds, (Bounds{18.5, 22.5, -161, -154}));
    EXPECT_EQ(values.text("map"), parameter("map").defaultValue);

    values.set("chunkSize", "0");
    EXPECT_THROW(applyParameters(values, request), ParameterError);
}

}  // namespace
}  // namespace zembra::render::test
