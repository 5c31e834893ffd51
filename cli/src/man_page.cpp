#include "man_page.hpp"

#include <CLI/CLI.hpp>
#include <cctype>
#include <memory>
#include <sstream>
#include <vector>

namespace zembra::cli {

namespace {

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// A footer's paragraphs: runs of lines between blank lines.
std::vector<std::vector<std::string>> paragraphs(const std::string& text) {
    std::vector<std::vector<std::string>> blocks(1);
    for (const auto& line : splitLines(text)) {
        if (line.find_first_not_of(' ') == std::string::npos) {
            if (!blocks.back().empty()) blocks.emplace_back();
        } else {
            blocks.back().push_back(line);
        }
    }
    if (blocks.back().empty()) blocks.pop_back();
    return blocks;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += line + '\n';
    return text;
}

bool visible(const CLI::App* sub) {
    return !sub->get_name().empty() && !sub->get_group().empty() && !sub->get_disabled();
}

std::vector<const CLI::App*> visibleSubcommands(const CLI::App& app) {
    return app.get_subcommands([](const CLI::App* sub) { return visible(sub); });
}

// The command's name as --help prints it in its usage line: "zembra db load".
std::string fullName(const CLI::App& app) {
    std::string name = app.get_name();
    for (const CLI::App* parent = app.get_parent(); parent != nullptr;
         parent = parent->get_parent()) {
        name.insert(0, parent->get_name() + ' ');
    }
    return name;
}

class Writer {
  public:
    Writer(const CLI::App& root, std::string_view version) : root_(root), version_(version) {
        auto shared = std::dynamic_pointer_cast<CLI::Formatter>(root.get_formatter());
        formatter_ = shared ? std::move(shared) : std::make_shared<CLI::Formatter>();
        for (const auto& block : paragraphs(root.get_footer())) rootFooter_ += joined(block);
    }

    std::string page() {
        const std::string name = root_.get_name();
        out_ << ".TH " << troffEscape(upper(name)) << " 1 \"\" \"" << troffEscape(name) << ' '
             << troffEscape(std::string(version_)) << "\" \"User Commands\"\n";
        out_ << ".SH NAME\n" << troffEscape(name) << " \\- " << troffEscape(summary()) << '\n';

        out_ << ".SH SYNOPSIS\n";
        synopsis(root_);

        out_ << ".SH DESCRIPTION\n" << troffEscape(root_.get_description()) << '\n';
        const auto subs = visibleSubcommands(root_);
        if (!subs.empty()) {
            out_ << ".PP\nCommands:\n";
            commandList(subs);
        }
        for (const auto& block : paragraphs(root_.get_footer())) paragraph(block);

        out_ << ".SH OPTIONS\n";
        options(root_, true);

        for (const CLI::App* sub : subs) section(*sub);
        return out_.str();
    }

  private:
    // The description as a man page's one-line summary: "puts US zip codes on a map picture".
    std::string summary() const {
        std::string text = root_.get_description();
        while (!text.empty() && (text.back() == '.' || text.back() == ' ')) text.pop_back();
        if (text.size() > 1 && std::isupper(static_cast<unsigned char>(text[0])) != 0 &&
            std::islower(static_cast<unsigned char>(text[1])) != 0) {
            text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
        }
        return text;
    }

    // "zembra render [OPTIONS] [zips...]", the usage line of --help without its label.
    std::string usage(const CLI::App& app) const {
        std::string line = formatter_->make_usage(&app, fullName(app));
        const auto colon = line.find(':');
        if (colon != std::string::npos) line.erase(0, colon + 1);
        while (!line.empty() && (line.front() == ' ')) line.erase(0, 1);
        while (!line.empty() && (line.back() == '\n' || line.back() == ' ')) line.pop_back();
        return line;
    }

    void usageLine(const CLI::App& app) {
        const std::string name = fullName(app);
        std::string line = usage(app);
        std::string rest =
            line.compare(0, name.size(), name) == 0 ? line.substr(name.size()) : line;
        out_ << "\\fB" << troffEscape(name) << "\\fR" << troffEscape(rest) << '\n';
    }

    void synopsis(const CLI::App& app) {
        usageLine(app);
        for (const CLI::App* sub : visibleSubcommands(app)) {
            out_ << ".br\n";
            synopsis(*sub);
        }
    }

    void commandList(const std::vector<const CLI::App*>& subs) {
        for (const CLI::App* sub : subs) {
            out_ << ".TP\n\\fB" << troffEscape(sub->get_name()) << "\\fR\n"
                 << troffEscape(sub->get_description()) << '\n';
        }
    }

    void option(const CLI::Option& opt) {
        out_ << ".TP\n";
        if (opt.get_positional()) {
            out_ << "\\fI" << troffEscape(formatter_->make_option_name(&opt, true)) << "\\fR";
        } else {
            std::string names = formatter_->make_option_name(&opt, false);
            std::string separator;
            std::istringstream in(names);
            for (std::string one; std::getline(in, one, ',');) {
                out_ << separator << "\\fB" << troffEscape(one) << "\\fR";
                separator = ", ";
            }
        }
        out_ << troffEscape(formatter_->make_option_opts(&opt)) << '\n';
        const std::string description = formatter_->make_option_desc(&opt);
        out_ << (description.empty() ? std::string("\\&") : troffEscape(description)) << '\n';
    }

    // Positionals first, then options, each in the order they were declared, as --help
    // lists them; the help flag only for the top-level command.
    void options(const CLI::App& app, bool withHelp) {
        const auto all =
            app.get_options([](const CLI::Option* opt) { return !opt->get_group().empty(); });
        for (const CLI::Option* opt : all) {
            if (opt->get_positional()) option(*opt);
        }
        for (const CLI::Option* opt : all) {
            if (opt->get_positional()) continue;
            if (!withHelp && (opt == app.get_help_ptr() || opt == app.get_help_all_ptr())) {
                continue;
            }
            option(*opt);
        }
    }

    // A footer paragraph: prose lines become filled text, indented lines (examples, sample
    // output) stay as they are.
    void paragraph(const std::vector<std::string>& lines) {
        out_ << ".PP\n";
        bool literal = false;
        for (const auto& line : lines) {
            const bool indented = line.rfind("  ", 0) == 0;
            if (indented && !literal) out_ << ".RS 4\n.nf\n";
            if (!indented && literal) out_ << ".fi\n.RE\n";
            literal = indented;
            out_ << troffEscape(indented ? line.substr(2) : line) << '\n';
        }
        if (literal) out_ << ".fi\n.RE\n";
    }

    void section(const CLI::App& app) {
        out_ << ".SH \"" << troffEscape(upper(fullName(app))) << "\"\n";
        out_ << troffEscape(app.get_description()) << "\n.PP\n";
        usageLine(app);
        options(app, false);
        const auto subs = visibleSubcommands(app);
        if (!subs.empty()) {
            out_ << ".PP\nCommands:\n";
            commandList(subs);
        }
        // Paragraphs the top-level footer holds (the exit statuses, which subcommands
        // repeat or inherit) are said once, at the top.
        for (const auto& block : paragraphs(app.get_footer())) {
            if (rootFooter_.find(joined(block)) == std::string::npos) paragraph(block);
        }
        for (const CLI::App* sub : subs) section(*sub);
    }

    const CLI::App& root_;
    std::string_view version_;
    std::shared_ptr<CLI::Formatter> formatter_;
    std::string rootFooter_;
    std::ostringstream out_;
};

}  // namespace

std::string troffEscape(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    bool lineStart = true;
    for (const char c : text) {
        if (lineStart && (c == '.' || c == '\'')) escaped += "\\&";
        if (c == '\\') {
            escaped += "\\e";
        } else if (c == '-') {
            escaped += "\\-";
        } else {
            escaped += c;
        }
        lineStart = c == '\n';
    }
    return escaped;
}

std::string manPage(const CLI::App& app, std::string_view version) {
    return Writer(app, version).page();
}

}  // namespace zembra::cli
