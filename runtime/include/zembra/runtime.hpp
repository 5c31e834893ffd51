// Zembra component runtime: values, errors, late-bound objects and object creation.
//
// Everything that crosses between a caller and a component goes through this header:
// a caller creates an object by its programmatic identifier with createObject() and
// reaches its members by name with Object::get/put/call. Failures are raised as
// zembra::Error values carrying a number, a source and a description.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#define ZEMBRA_RUNTIME_API __attribute__((visibility("default")))

namespace zembra {

// The run-time errors of the system: name, number and classic description, in one
// table. A description left empty is supplied by whoever raises the error (the database
// driver's text, the engine's own).
#define ZEMBRA_RUNTIME_ERRORS(X)                                                        \
    X(kReturnWithoutGoSub, 3, "Return without GoSub")                                   \
    X(kInvalidArgument, 5, "Invalid procedure call or argument")                        \
    X(kOverflow, 6, "Overflow")                                                         \
    X(kOutOfMemory, 7, "Out of memory")                                                 \
    X(kSubscript, 9, "Subscript out of range")                                          \
    X(kArrayLocked, 10, "This array is fixed or temporarily locked")                    \
    X(kDivisionByZero, 11, "Division by zero")                                          \
    X(kTypeMismatch, 13, "Type mismatch")                                               \
    X(kOutOfStack, 28, "Out of stack space")                                            \
    X(kLibraryLoad, 48, "Error in loading DLL")                                         \
    X(kInternal, 51, "Internal error")                                                  \
    X(kBadFileName, 52, "Bad file name or number")                                      \
    X(kFileNotFound, 53, "File not found")                                              \
    X(kBadFileMode, 54, "Bad file mode")                                                \
    X(kFileAlreadyOpen, 55, "File already open")                                        \
    X(kDeviceIo, 57, "Device I/O error")                                                \
    X(kFileExists, 58, "File already exists")                                           \
    X(kDiskFull, 61, "Disk full")                                                       \
    X(kInputPastEnd, 62, "Input past end of file")                                      \
    X(kTooManyFiles, 67, "Too many files")                                              \
    X(kDeviceUnavailable, 68, "Device unavailable")                                     \
    X(kPermissionDenied, 70, "Permission denied")                                       \
    X(kDiskNotReady, 71, "Disk not ready")                                              \
    X(kPathFileAccess, 75, "Path/File access error")                                    \
    X(kPathNotFound, 76, "Path not found")                                              \
    X(kObjectNotSet, 91, "Object variable or With block variable not set")              \
    X(kInvalidUseOfNull, 94, "Invalid use of Null")                                     \
    X(kInvalidPropertyValue, 380, "Invalid property value")                             \
    X(kObjectRequired, 424, "Object required")                                          \
    X(kCantCreateObject, 429, "Can't create object")                                    \
    X(kNoSuchMember, 438, "Object doesn't support this property or method")             \
    X(kWrongArguments, 450, "Wrong number of arguments or invalid property assignment") \
    X(kEntryPointNotFound, 453, "Specified DLL function not found")                     \
    X(kInvalidPicture, 481, "Invalid picture")                                          \
    X(kDatabase, -2147467259, "") /* 0x80004005, the driver's own text */               \
    X(kEngine, -2147220504, "")   /* 0x800403E8, the engine's own errors */

// The numbers by name: err::kOverflow, err::kFileNotFound, ...
namespace err {
#define ZEMBRA_ERROR_CONSTANT(name, number, description) inline constexpr int32_t name = number;
ZEMBRA_RUNTIME_ERRORS(ZEMBRA_ERROR_CONSTANT)
#undef ZEMBRA_ERROR_CONSTANT
}  // namespace err

// A raised failure: number, source and description.
class ZEMBRA_RUNTIME_API Error : public std::exception {
  public:
    Error(int32_t number, std::string source, std::string description);
    ~Error() override;

    int32_t number() const noexcept { return number_; }
    const std::string& source() const noexcept { return source_; }
    const std::string& description() const noexcept { return description_; }
    const char* what() const noexcept override;

    // The classic description of a run-time error number ("Overflow" for 6, ...);
    // empty for numbers without one.
    static std::string standardDescription(int32_t number);

    // An error with the classic description of `number`, optionally followed by
    // ": " and `detail` (a file name, a value) so the operator sees what failed.
    static Error standard(int32_t number, std::string source = "Zembra",
                          std::string_view detail = {});

    // The same error with `context` (what was being done, which input) put before its
    // description as "context: description"; number and source are kept, so callers
    // that test the number still see it.
    Error withContext(std::string_view context) const;

  private:
    int32_t number_;
    std::string source_;
    std::string description_;
    std::string what_;
};

// A tagged value: Empty, Null, Boolean, 16/32-bit integer, double, text (UTF-8),
// byte array, or a one-dimensional array of Variants with a lower bound.
//
// Conversions follow the late-bound platform's rules: numeric text converts to a
// number (anything else raises 13), doubles convert to integers rounding half to
// even and raise 6 outside the range, Null where a value is needed raises 94,
// Empty reads as 0, "" or false.
class ZEMBRA_RUNTIME_API Variant {
  public:
    enum class Type { Empty, Null, Boolean, Int16, Int32, Double, String, Bytes, Array };

    Variant() = default;  // Empty
    Variant(bool value);
    Variant(int32_t value);
    Variant(double value);
    Variant(std::string value);
    Variant(const char* value);
    Variant(std::vector<uint8_t> bytes);
    Variant(std::vector<Variant> elements);  // array with lower bound 0

    // Copies are deep: an array copied and then changed leaves the original alone,
    // as assigning an array does on the late-bound platform.
    Variant(const Variant& other);
    Variant& operator=(const Variant& other);
    Variant(Variant&&) noexcept = default;
    Variant& operator=(Variant&&) noexcept = default;
    ~Variant() = default;

    static Variant null();
    static Variant int16(int16_t value);
    static Variant array(std::vector<Variant> elements, int32_t lowerBound = 0);

    Type type() const noexcept;
    bool isEmpty() const noexcept { return type() == Type::Empty; }
    bool isNull() const noexcept { return type() == Type::Null; }
    bool isArray() const noexcept { return type() == Type::Array; }
    bool isBytes() const noexcept { return type() == Type::Bytes; }
    bool isString() const noexcept { return type() == Type::String; }
    bool isNumeric() const noexcept;  // Boolean, Int16, Int32 or Double

    // Conversions; each raises Error (13, 94, 6) as described above.
    double toDouble() const;
    int32_t toInt32() const;
    int16_t toInt16() const;
    bool toBool() const;
    std::string toString() const;
    std::vector<uint8_t> toBytes() const;  // Bytes as they are; Empty gives none

    // Array access; raise 13 when the value is not an array and 9 for an index
    // outside lowerBound()..upperBound(). An empty array has upperBound() == lowerBound() - 1.
    int32_t lowerBound() const;
    int32_t upperBound() const;
    const Variant& at(int32_t index) const;
    Variant& at(int32_t index);
    const std::vector<Variant>& elements() const;

    // Exact equality of type and value (arrays element-wise, bounds included).
    friend ZEMBRA_RUNTIME_API bool operator==(const Variant& a, const Variant& b);

  private:
    struct NullTag {
        friend bool operator==(NullTag, NullTag) { return true; }
    };
    struct Int16Box {
        int16_t value;
        friend bool operator==(Int16Box a, Int16Box b) { return a.value == b.value; }
    };
    struct ArrayBox {
        std::vector<Variant> elements;
        int32_t lowerBound = 0;
        friend bool operator==(const ArrayBox&, const ArrayBox&);
    };
    using Storage = std::variant<std::monostate, NullTag, bool, Int16Box, int32_t, double,
                                 std::string, std::vector<uint8_t>, std::shared_ptr<ArrayBox>>;
    Storage value_;
};

// Formats a double as the platform writes numbers: shortest form with up to 15
// significant digits, "." as decimal separator ("40.7", "-74", "1E+16").
ZEMBRA_RUNTIME_API std::string formatNumber(double value);

// Parses text as the platform reads numbers: optional blanks, sign, digits, decimal
// point, exponent. Raises 13 for anything else.
ZEMBRA_RUNTIME_API double parseNumber(std::string_view text);

// True when parseNumber would accept the text.
ZEMBRA_RUNTIME_API bool isNumericText(std::string_view text) noexcept;

// Rounds half to even (banker's rounding) whatever the floating-point rounding mode.
// NaN and infinities come back unchanged.
ZEMBRA_RUNTIME_API double roundHalfEven(double value) noexcept;

// Rounds half to even and raises 6 outside the int32 range (and for NaN).
ZEMBRA_RUNTIME_API int32_t roundToInt32(double value);

// The run-time error number for a failed file operation's errno: 53 for a missing file
// (76 when its folder is missing too, which `path` lets it check), 76 for a path through
// something that is not a folder, 70 for a refusal, 61 for a full disk or quota, and
// `fallback` for anything else.
ZEMBRA_RUNTIME_API int32_t fileErrorNumber(int errnoValue, std::string_view path = {},
                                           int32_t fallback = err::kPathFileAccess);

// An error for a failed file operation: fileErrorNumber()'s number with its classic
// description followed by ": " and `detail` (normally the path).
ZEMBRA_RUNTIME_API Error fileError(int errnoValue, std::string source, std::string_view path,
                                   std::string_view detail,
                                   int32_t fallback = err::kPathFileAccess);

// ---------------------------------------------------------------------------------
// Late binding.

enum class InvokeKind { Method, PropertyGet, PropertyPut };

// The interface a component implements so that callers can reach it by name.
// memberId() resolves a name (case-insensitively) to an id, or -1 when unknown;
// invoke() runs the member. Arguments are passed by reference: a method may write
// into them. For PropertyPut the new value is the last argument.
class ZEMBRA_RUNTIME_API Dispatch {
  public:
    virtual ~Dispatch();
    virtual int32_t memberId(std::string_view name) const = 0;
    virtual Variant invoke(int32_t id, InvokeKind kind, std::span<Variant> args) = 0;
};

class Library;  // a loaded component library (RAII dlopen handle)

// A late-bound handle on a component object. Copies share the object. The object's
// library stays loaded while any handle on one of its objects lives.
class ZEMBRA_RUNTIME_API Object {
  public:
    Object() = default;
    Object(std::shared_ptr<Dispatch> object, std::shared_ptr<Library> library = {});

    explicit operator bool() const noexcept { return static_cast<bool>(object_); }

    // Reads a property (or calls a method without arguments). 438 for an unknown member.
    Variant get(std::string_view member);
    // Assigns a property. 438 for an unknown member, 450 for a member that cannot be assigned.
    void put(std::string_view member, const Variant& value);
    // Calls a method. 438 for an unknown member, 450 for a wrong argument count.
    Variant call(std::string_view member, std::span<Variant> args = {});

    // Convenience for calls whose arguments need not be read back.
    template <typename... Args>
    Variant callWith(std::string_view member, Args&&... args) {
        std::vector<Variant> list{Variant(std::forward<Args>(args))...};
        return call(member, list);
    }

  private:
    int32_t resolve(std::string_view member) const;
    std::shared_ptr<Library> library_;  // declared first: destroyed after the object
    std::shared_ptr<Dispatch> object_;
};

// Creates an object of the component registered for `progId` (for example "Zembra.CMap"),
// loading its library with dlopen. Raises 429, naming the identifier, when nothing is
// registered for it or its library cannot be loaded or does not create the object.
ZEMBRA_RUNTIME_API Object createObject(std::string_view progId);

}  // namespace zembra
