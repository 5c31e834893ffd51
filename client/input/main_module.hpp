// The client's text helpers shared by the batch reader and the connection-string builder.
//
// Trimming in the client removes the space character (code 32) only: tabs and other
// white space are part of a value.
#pragma once

#include <string>
#include <string_view>
#include <vector>
#include <zembra/runtime.hpp>

namespace zembra::client {

// The text without leading and trailing space characters (a view into `text`).
std::string_view trimText(std::string_view text) noexcept;

// Null when the value is Null, when its text form trimmed is empty, or when it has no
// text form (an array, say); otherwise the trimmed text as a String. Never raises.
Variant NullIfBlank(const Variant& value);

// The empty text when NullIfBlank(value) is Null, otherwise the value's text form
// trimmed. Never raises.
std::string CleanValue(const Variant& value);

// For a text of the form name, delimiter, value: the piece after the first delimiter, up
// to the next one, trimmed. An empty delimiter means "="; the empty text when the
// delimiter does not occur. Never raises.
std::string GetPairValue(std::string_view text, std::string_view delimiter);

// The codes of a pasted text, in order: the pieces between line breaks, commas, tabs
// and blanks, empty pieces dropped.
std::vector<std::string> splitPastedCodes(std::string_view text);

}  // namespace zembra::client
