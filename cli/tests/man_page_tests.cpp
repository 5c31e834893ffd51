// The manual page agrees with --help: every command, option, description and footer line
// that --help prints is in the page that `zembra --man` writes, and troff renders that page
// without a warning. Pages are rendered with groff, as man shows them.
#include <gtest/gtest.h>

#include <CLI/CLI.hpp>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "man_page.hpp"
#include "support.hpp"

namespace fs = std::filesystem;
using namespace zembra::test;

namespace {

const fs::path kExe = ZEMBRA_CLI_EXE;
const fs::path kGroff = ZEMBRA_GROFF;

std::string squeezed(const std::string& text) {
    std::string out;
    bool space = true;
    for (const char c : text) {
        if (c == ' ' || c == '\n' || c == '\t') {
            if (!space) out += ' ';
            space = true;
        } else {
            out += c;
            space = false;
        }
    }
    if (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> all;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) all.push_back(line);
    return all;
}

// The page as plain text, on lines long enough that nothing is broken or hyphenated; any
// troff warning fails the test.
std::string rendered(const std::string& page) {
    const ScratchDir dir("man");
    const fs::path file = dir.path() / "page.1";
    std::ofstream(file) << page;
    const auto run =
        runProgram(kGroff, {"-man", "-Tascii", "-P-cbou", "-rLL=4000n", "-ww", file.string()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "") << "troff warnings";
    return run.out;
}

// The text of each section of a rendered page, by heading ("ZEMBRA RENDER").
std::map<std::string, std::string> sections(const std::string& text) {
    std::map<std::string, std::string> all;
    std::string current;
    for (const auto& line : lines(text)) {
        if (!line.empty() && std::isupper(static_cast<unsigned char>(line[0])) != 0 &&
            line.find("  ") == std::string::npos) {
            current = line;
            continue;
        }
        all[current] += line + '\n';
    }
    return all;
}

struct HelpOption {
    std::vector<std::string> names;  // "-f", "--file"; or the positional's name
    std::string description;
};

struct Help {
    std::vector<HelpOption> options;
    std::vector<std::string> subcommands;
    std::vector<std::string> footer;  // paragraphs
};

// What --help prints, read back: the option and subcommand lists and the footer.
Help parseHelp(const std::string& text) {
    Help help;
    const auto all = lines(text);
    std::string block;
    size_t i = 0;
    for (; i < all.size(); ++i) {
        const std::string& line = all[i];
        if (line == "Positionals:" || line == "Options:" || line == "Subcommands:") {
            block = line;
            continue;
        }
        if (line.empty()) {
            if (i + 1 < all.size() && all[i + 1].empty()) break;  // the footer follows
            block.clear();
            continue;
        }
        if (block.empty() || line.rfind("   ", 0) == 0) continue;
        std::string entry = line.substr(2);
        std::string head = entry.substr(0, entry.find("  "));
        std::string description =
            entry.size() > head.size() ? squeezed(entry.substr(head.size())) : std::string();
        if (description.empty() && i + 1 < all.size() && all[i + 1].rfind("   ", 0) == 0) {
            description = squeezed(all[i + 1]);
        }
        const std::string names = head.substr(0, head.find(' '));
        if (block == "Subcommands:") {
            help.subcommands.push_back(names);
            continue;
        }
        HelpOption option{{}, description};
        std::istringstream in(names);
        for (std::string name; std::getline(in, name, ',');) option.names.push_back(name);
        help.options.push_back(option);
    }
    std::string paragraph;
    for (++i; i <= all.size(); ++i) {
        if (i == all.size() || all[i].empty()) {
            if (!paragraph.empty()) help.footer.push_back(squeezed(paragraph));
            paragraph.clear();
        } else {
            paragraph += all[i] + '\n';
        }
    }
    return help;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Walks the program's commands as a user of --help would, checking each against the page.
void expectCommandInPage(const std::vector<std::string>& command,
                         const std::map<std::string, std::string>& page, const std::string& whole) {
    std::vector<std::string> args(command.begin() + 1, command.end());
    args.push_back("--help");
    const auto run = runProgram(kExe, args);
    ASSERT_EQ(run.status, 0) << run.err;
    const Help help = parseHelp(run.out);

    std::string heading;
    for (const auto& word : command) heading += (heading.empty() ? "" : " ") + word;
    for (char& c : heading) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const bool top = command.size() == 1;
    const auto found = page.find(top ? std::string("OPTIONS") : heading);
    ASSERT_NE(found, page.end()) << "no section " << heading;
    const std::string text = squeezed(found->second);

    for (const auto& option : help.options) {
        if (!top && option.names.back() == "--help") continue;  // said once, at the top
        for (const auto& name : option.names) {
            EXPECT_TRUE(contains(text, name)) << heading << ": option " << name;
        }
        EXPECT_TRUE(contains(text, option.description))
            << heading << ": description of " << option.names.back() << ": " << option.description;
    }
    for (const auto& paragraph : help.footer) {
        EXPECT_TRUE(contains(whole, paragraph)) << heading << ": footer: " << paragraph;
    }
    for (const auto& sub : help.subcommands) {
        auto next = command;
        next.push_back(sub);
        expectCommandInPage(next, page, whole);
    }
}

}  // namespace

TEST(ManPage, SaysWhatTheHelpSaysForEveryCommand) {
    const auto man = runProgram(kExe, {"--man"});
    ASSERT_EQ(man.status, 0) << man.err;
    const std::string text = rendered(man.out);
    const auto page = sections(text);
    expectCommandInPage({"zembra"}, page, squeezed(text));

    // The commands every user has, whatever else is added beside them.
    for (const char* section : {"ZEMBRA RENDER", "ZEMBRA POINTS", "ZEMBRA LOOKUP", "ZEMBRA LIST",
                                "ZEMBRA DB LOAD", "ZEMBRA SERVE"}) {
        EXPECT_EQ(page.count(section), 1U) << section;
    }
    EXPECT_TRUE(contains(page.at("NAME"), "zembra - puts US zip codes on a map picture"));
    // The flag that writes the page is not part of the interface the page describes.
    EXPECT_FALSE(contains(text, "--man"));
    EXPECT_FALSE(contains(runProgram(kExe, {"--help"}).out, "--man"));
}

TEST(ManPage, KeepsTroffFromReadingTheTextAsRequests) {
    CLI::App app{"Does things.", "tool"};
    std::string value = "a-b";
    bool flag = false;
    app.add_option("--path", value, "A path such as C:\\temp or -")->capture_default_str();
    app.add_flag("--secret", flag, "Never shown")->group("");
    auto* sub = app.add_subcommand("db", "Database work");
    auto* load = sub->add_subcommand("load", "Load it");
    load->add_option("--from", value, "Source")->required();
    load->footer(
        "\n.This line starts with a dot\n'and this one with a quote.\n\nExamples:\n"
        "  tool db load --from x\n  .hidden\n\nShared paragraph.\n");
    app.footer("\nShared paragraph.\n");

    const std::string text = rendered(zembra::cli::manPage(app, "1.2"));
    const auto page = sections(text);
    ASSERT_EQ(page.count("TOOL DB LOAD"), 1U) << text;
    const std::string load_text = page.at("TOOL DB LOAD");
    EXPECT_TRUE(contains(load_text, ".This line starts with a dot")) << load_text;
    EXPECT_TRUE(contains(load_text, "'and this one with a quote.")) << load_text;
    EXPECT_TRUE(contains(load_text, "tool db load --from x\n")) << load_text;
    EXPECT_TRUE(contains(load_text, ".hidden\n")) << load_text;
    EXPECT_TRUE(contains(load_text, "--from TEXT REQUIRED")) << load_text;
    EXPECT_TRUE(contains(text, "C:\\temp or -")) << text;
    EXPECT_TRUE(contains(text, "--path TEXT=a-b")) << text;
    EXPECT_FALSE(contains(text, "--secret"));
    // A paragraph the top-level footer holds is said once, not again under the command.
    const std::regex shared("Shared paragraph");
    EXPECT_EQ(std::distance(std::sregex_iterator(text.begin(), text.end(), shared),
                            std::sregex_iterator()),
              1)
        << text;
}
