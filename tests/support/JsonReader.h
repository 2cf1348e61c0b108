#pragma once
// A strict JSON reader for tests that check machine-readable output: it rejects anything that is
// not exactly one well-formed JSON value (trailing text, unescaped control characters, bad
// escapes, invalid UTF-8), so a test that parses the output also proves it is valid JSON.

#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace Plumeria::Test {

struct TJsonMember;

class TJsonValue
{
public:
    enum class TKind
    {
        jkNull,
        jkBool,
        jkNumber,
        jkString,
        jkArray,
        jkObject
    };

    TKind Kind = TKind::jkNull;
    bool Bool = false;
    std::string Number; ///< the number's text as written
    std::string String; ///< UTF-8
    std::vector<TJsonValue> Array;
    /// Members in the order written (keys may repeat in JSON; tests check they do not). A
    /// vector of a type completed below: a pair would need TJsonValue complete here, which
    /// clang with libstdc++ refuses.
    std::vector<TJsonMember> Members;

    bool IsObject() const { return Kind == TKind::jkObject; }
    bool IsArray() const { return Kind == TKind::jkArray; }
    bool IsString() const { return Kind == TKind::jkString; }
    bool IsNumber() const { return Kind == TKind::jkNumber; }
    bool IsBool() const { return Kind == TKind::jkBool; }

    /// The member named `Key`; throws std::runtime_error when there is none or this is no object.
    const TJsonValue& operator[](std::string_view Key) const;
    /// The number as a 64-bit integer; throws when it is not an integer in range.
    std::int64_t Int() const;
    /// Member names in order.
    std::vector<std::string> Keys() const;
};

/// One member of an object: its name and its value.
struct TJsonMember
{
    std::string Name;
    TJsonValue Value;
};

/// Parses exactly one JSON value (surrounding white space allowed). Throws std::runtime_error
/// with the byte offset on any deviation from the JSON grammar.
TJsonValue ParseJson(std::string_view Text);

} // namespace Plumeria::Test
