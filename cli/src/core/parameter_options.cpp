#include "core/parameter_options.hpp"

#include <algorithm>

namespace zembra::cli {

void ParameterOptions::addTo(CLI::App& command, render::ParameterScope scope,
                             std::initializer_list<std::string_view> required) {
    for (const render::Parameter& p : render::renderParameters()) {
        if (!p.offeredIn(scope) || p.flags.empty()) continue;
        std::string& text = texts_[p.name];
        CLI::Option* option = nullptr;
        if (p.kind == render::ParameterKind::Switch) {
            // A "--no-" flag turns the switch off, any other turns it on.
            const bool off = p.longFlag().starts_with("--no-");
            option = command.add_flag_callback(
                p.flags, [&text, off] { text = off ? "false" : "true"; }, p.help);
        } else {
            option = command.add_option(p.flags, text, p.help)->type_name(p.typeName);
            const bool shownDefault =
                !p.defaultValue.empty() &&
                (p.kind == render::ParameterKind::Picture ||
                 p.kind == render::ParameterKind::Count || p.kind == render::ParameterKind::Choice);
            if (shownDefault) option->default_str(p.defaultValue);
            if (p.kind == render::ParameterKind::Count) {
                option->check(CLI::Validator(
                    [&p](std::string& value) { return render::checkParameter(p, value); },
                    p.typeName, "at least " + std::to_string(p.minimum)));
            }
            if (p.required || std::find(required.begin(), required.end(), p.name) != required.end())
                option->required();
        }
        options_.emplace_back(&p, option);
    }
}

render::ParameterValues ParameterOptions::values() const {
    render::ParameterValues values;
    for (const auto& [p, option] : options_) {
        if (option->count() > 0) values.set(p->name, texts_.at(p->name));
    }
    return values;
}

}  // namespace zembra::cli
