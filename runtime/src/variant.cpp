// The tagged value and its conversions.
#include <algorithm>
#include <limits>
#include <utility>
#include <zembra/runtime.hpp>
#include <zembra/text.hpp>

namespace zembra {

namespace {

[[noreturn]] void typeMismatch() { throw Error::standard(err::kTypeMismatch); }
[[noreturn]] void invalidNull() { throw Error::standard(err::kInvalidUseOfNull); }

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

}  // namespace

Variant::Variant(bool value) : value_(value) {}
Variant::Variant(int32_t value) : value_(value) {}
Variant::Variant(double value) : value_(value) {}
Variant::Variant(std::string value) : value_(std::move(value)) {}
Variant::Variant(const char* value) : value_(std::string(value ? value : "")) {}
Variant::Variant(std::vector<uint8_t> bytes) : value_(std::move(bytes)) {}
Variant::Variant(std::vector<Variant> elements)
    : value_(std::make_shared<ArrayBox>(ArrayBox{std::move(elements), 0})) {}

Variant::Variant(const Variant& other) : value_(other.value_) {
    if (auto* box = std::get_if<std::shared_ptr<ArrayBox>>(&value_))
        *box = std::make_shared<ArrayBox>(**box);
}

Variant& Variant::operator=(const Variant& other) {
    if (this != &other) {
        Variant copy(other);
        value_ = std::move(copy.value_);
    }
    return *this;
}

Variant Variant::null() {
    Variant v;
    v.value_ = NullTag{};
    return v;
}

Variant Variant::int16(int16_t value) {
    Variant v;
    v.value_ = Int16Box{value};
    return v;
}

Variant Variant::array(std::vector<Variant> elements, int32_t lowerBound) {
    // The upper bound lowerBound + size - 1 must itself be an int32 (for an empty array
    // that is lowerBound - 1).
    const int64_t upper =
        static_cast<int64_t>(lowerBound) + static_cast<int64_t>(elements.size()) - 1;
    if (upper > std::numeric_limits<int32_t>::max() || upper < std::numeric_limits<int32_t>::min())
        throw Error::standard(err::kOverflow);
    Variant v;
    v.value_ = std::make_shared<ArrayBox>(ArrayBox{std::move(elements), lowerBound});
    return v;
}

Variant::Type Variant::type() const noexcept {
    // The alternatives of Storage are listed in the order of Type.
    return static_cast<Type>(value_.index());
}

bool Variant::isNumeric() const noexcept {
    const Type t = type();
    return t == Type::Boolean || t == Type::Int16 || t == Type::Int32 || t == Type::Double;
}

double Variant::toDouble() const {
    switch (type()) {
        case Type::Empty:
            return 0.0;
        case Type::Null:
            invalidNull();
        case Type::Boolean:
            return std::get<bool>(value_) ? -1.0 : 0.0;
        case Type::Int16:
            return std::get<Int16Box>(value_).value;
        case Type::Int32:
            return std::get<int32_t>(value_);
        case Type::Double:
            return std::get<double>(value_);
        case Type::String:
            return parseNumber(std::get<std::string>(value_));
        case Type::Bytes:
        case Type::Array:
            break;
    }
    typeMismatch();
}

int32_t Variant::toInt32() const {
    switch (type()) {
        case Type::Boolean:
            return std::get<bool>(value_) ? -1 : 0;
        case Type::Int16:
            return std::get<Int16Box>(value_).value;
        case Type::Int32:
            return std::get<int32_t>(value_);
        default:
            return roundToInt32(toDouble());
    }
}

int16_t Variant::toInt16() const {
    const int32_t value = toInt32();
    if (value < std::numeric_limits<int16_t>::min() || value > std::numeric_limits<int16_t>::max())
        throw Error::standard(err::kOverflow);
    return static_cast<int16_t>(value);
}

bool Variant::toBool() const {
    switch (type()) {
        case Type::Boolean:
            return std::get<bool>(value_);
        case Type::String: {
            const std::string_view text = trimBlanks(std::get<std::string>(value_));
            if (equalsIgnoreCase(text, "true")) return true;
            if (equalsIgnoreCase(text, "false")) return false;
            return parseNumber(text) != 0.0;
        }
        default:
            return toDouble() != 0.0;
    }
}

std::string Variant::toString() const {
    switch (type()) {
        case Type::Empty:
            return {};
        case Type::Null:
            invalidNull();
        case Type::Boolean:
            return std::get<bool>(value_) ? "True" : "False";
        case Type::Int16:
            return std::to_string(std::get<Int16Box>(value_).value);
        case Type::Int32:
            return std::to_string(std::get<int32_t>(value_));
        case Type::Double:
            return formatNumber(std::get<double>(value_));
        case Type::String:
            return std::get<std::string>(value_);
        case Type::Bytes:
        case Type::Array:
            break;
    }
    typeMismatch();
}

std::vector<uint8_t> Variant::toBytes() const {
    switch (type()) {
        case Type::Empty:
            return {};
        case Type::Null:
            invalidNull();
        case Type::Bytes:
            return std::get<std::vector<uint8_t>>(value_);
        case Type::String: {
            const auto& text = std::get<std::string>(value_);
            return {text.begin(), text.end()};
        }
        default:
            typeMismatch();
    }
}

int32_t Variant::lowerBound() const {
    const auto* box = std::get_if<std::shared_ptr<ArrayBox>>(&value_);
    if (!box) typeMismatch();
    return (*box)->lowerBound;
}

int32_t Variant::upperBound() const {
    const auto* box = std::get_if<std::shared_ptr<ArrayBox>>(&value_);
    if (!box) typeMismatch();
    return static_cast<int32_t>(static_cast<int64_t>((*box)->lowerBound) +
                                static_cast<int64_t>((*box)->elements.size()) - 1);
}

const Variant& Variant::at(int32_t index) const {
    const auto* box = std::get_if<std::shared_ptr<ArrayBox>>(&value_);
    if (!box) typeMismatch();
    const int64_t offset = static_cast<int64_t>(index) - (*box)->lowerBound;
    if (offset < 0 || offset >= static_cast<int64_t>((*box)->elements.size()))
        throw Error::standard(err::kSubscript);
    return (*box)->elements[static_cast<size_t>(offset)];
}

Variant& Variant::at(int32_t index) { return const_cast<Variant&>(std::as_const(*this).at(index)); }

const std::vector<Variant>& Variant::elements() const {
    const auto* box = std::get_if<std::shared_ptr<ArrayBox>>(&value_);
    if (!box) typeMismatch();
    return (*box)->elements;
}

bool operator==(const Variant& a, const Variant& b) {
    if (a.value_.index() != b.value_.index()) return false;
    if (const auto* boxA = std::get_if<std::shared_ptr<Variant::ArrayBox>>(&a.value_)) {
        const auto& boxB = std::get<std::shared_ptr<Variant::ArrayBox>>(b.value_);
        return (*boxA)->lowerBound == boxB->lowerBound && (*boxA)->elements == boxB->elements;
    }
    return a.value_ == b.value_;
}

}  // namespace zembra
