#pragma once
// A small JSON writer for the tool's machine-readable output. Texts are UTF-8; every control
// character is escaped, and bytes that are not valid UTF-8 become U+FFFD so the output is
// always valid JSON.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Plumeria::Tool {

/// Appends `Utf8` as a JSON string, quotes included.
void AppendJsonString(std::string& Out, std::string_view Utf8);

/// Builds one JSON value in a buffer; commas and colons are placed by the writer. `Take` hands
/// out what has been written so far (to print it) and keeps the nesting state, so long arrays
/// can be written out piece by piece.
class TJsonWriter
{
public:
    TJsonWriter& BeginObject();
    TJsonWriter& EndObject();
    TJsonWriter& BeginArray();
    TJsonWriter& EndArray();
    /// The name of the next member of the current object.
    TJsonWriter& Key(std::string_view Name);
    TJsonWriter& String(std::string_view Utf8);
    TJsonWriter& Int(std::int64_t Value);
    TJsonWriter& Bool(bool Value);

    const std::string& Text() const { return FOut; }
    std::string Take();

private:
    void BeforeValue();

    std::string FOut;
    std::vector<bool> FHasMember; // one per open object or array
    bool FAfterKey = false;
};

} // namespace Plumeria::Tool
