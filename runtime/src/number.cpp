// Number <-> text conversions and integer rounding as the late-bound platform does them.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <zembra/runtime.hpp>

namespace zembra {

namespace {

constexpr int kSignificantDigits = 15;

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The parts of numeric text, as found by the grammar:
//   blanks [sign] digits [. digits] [(E|e) [sign] digits] blanks
// with at least one digit before or after the decimal point.
struct NumericText {
    bool negative = false;
    std::string_view body;  // from the first digit or point to the end of the exponent
    // Decimal exponent of the first significant digit estimated from the text; used only
    // to tell overflow from underflow when the value is outside a double's range.
    long long magnitude = 0;
    bool allZero = true;
};

std::optional<NumericText> scan(std::string_view text) noexcept {
    size_t i = 0;
    const size_t n = text.size();
    while (i < n && isBlank(text[i])) ++i;
    NumericText out;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        out.negative = text[i] == '-';
        ++i;
    }
    const size_t start = i;
    long long intDigits = 0;
    long long leadingFractionZeros = 0;
    bool seenSignificant = false;
    while (i < n && isDigit(text[i])) {
        if (text[i] != '0') seenSignificant = true;
        if (seenSignificant) ++intDigits;
        ++i;
    }
    size_t mantissaDigits = i - start;
    if (i < n && text[i] == '.') {
        ++i;
        const size_t fracStart = i;
        while (i < n && isDigit(text[i])) {
            if (text[i] != '0') seenSignificant = true;
            if (!seenSignificant) ++leadingFractionZeros;
            ++i;
        }
        mantissaDigits += i - fracStart;
    }
    if (mantissaDigits == 0) return std::nullopt;
    out.allZero = !seenSignificant;
    long long exponent = 0;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool negativeExponent = false;
        if (i < n && (text[i] == '+' || text[i] == '-')) {
            negativeExponent = text[i] == '-';
            ++i;
        }
        const size_t expStart = i;
        while (i < n && isDigit(text[i])) {
            if (exponent < 1'000'000) exponent = exponent * 10 + (text[i] - '0');
            ++i;
        }
        if (i == expStart) return std::nullopt;
        if (negativeExponent) exponent = -exponent;
    }
    out.body = text.substr(start, i - start);
    while (i < n && isBlank(text[i])) ++i;
    if (i != n) return std::nullopt;
    out.magnitude = (intDigits > 0 ? intDigits - 1 : -(leadingFractionZeros + 1)) + exponent;
    return out;
}

}  // namespace

bool isNumericText(std::string_view text) noexcept { return scan(text).has_value(); }

double parseNumber(std::string_view text) {
    const auto parts = scan(text);
    if (!parts) throw Error::standard(err::kTypeMismatch);
    double value = 0.0;
    if (!parts->allZero) {
        const char* first = parts->body.data();
        const char* last = first + parts->body.size();
        const auto result = std::from_chars(first, last, value, std::chars_format::general);
        if (result.ec == std::errc::result_out_of_range) {
            if (parts->magnitude > 0) throw Error::standard(err::kOverflow);
            value = 0.0;  // below the smallest double: reads as zero
        } else if (result.ec != std::errc() || result.ptr != last) {
            throw Error::standard(err::kTypeMismatch);
        }
    }
    return parts->negative ? -value : value;
}

std::string formatNumber(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";
    if (value == 0.0) return "0";  // negative zero too

    // Round to 15 significant digits, then drop the trailing zeros of the mantissa.
    // std::to_chars, unlike printf, ignores the C locale's decimal separator.
    char buffer[64];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, value,
                                       std::chars_format::scientific, kSignificantDigits - 1);
    const std::string_view text(buffer, static_cast<size_t>(written.ptr - buffer));
    const size_t ePos = text.find('e');
    std::string digits;
    for (char c : text.substr(0, ePos))
        if (isDigit(c)) digits += c;
    int exponent = 0;
    std::from_chars(text.data() + ePos + 1 + (text[ePos + 1] == '+'), text.data() + text.size(),
                    exponent);
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

    std::string out = value < 0 ? "-" : "";
    const int count = static_cast<int>(digits.size());
    if (exponent >= kSignificantDigits || exponent < -4) {
        out += digits[0];
        if (count > 1) {
            out += '.';
            out.append(digits, 1);
        }
        char exp[16];
        std::snprintf(exp, sizeof exp, "E%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
        out += exp;
    } else if (exponent < 0) {
        out += "0.";
        out.append(static_cast<size_t>(-exponent - 1), '0');
        out += digits;
    } else if (count <= exponent + 1) {
        out += digits;
        out.append(static_cast<size_t>(exponent + 1 - count), '0');
    } else {
        const auto integerDigits = static_cast<size_t>(exponent) + 1;
        out.append(digits, 0, integerDigits);
        out += '.';
        out.append(digits, integerDigits);
    }
    return out;
}

double roundHalfEven(double value) noexcept {
    if (!std::isfinite(value)) return value;
    // floor() and the subtraction are exact for every double, so no rounding mode is involved.
    double rounded = std::floor(value);
    const double fraction = value - rounded;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(rounded, 2.0) != 0.0)) rounded += 1.0;
    return rounded;
}

int32_t roundToInt32(double value) {
    if (std::isnan(value)) throw Error::standard(err::kOverflow);
    const double rounded = roundHalfEven(value);
    if (rounded < static_cast<double>(std::numeric_limits<int32_t>::min()) ||
        rounded > static_cast<double>(std::numeric_limits<int32_t>::max()))
        throw Error::standard(err::kOverflow);
    return static_cast<int32_t>(rounded);
}

}  // namespace zembra
