#include "tool/Json.h"

#include "core/Text/Text.h"

namespace Plumeria::Tool {
namespace {

/// Length of the UTF-8 sequence that starts with `Lead`, 0 for a byte that cannot start one.
std::size_t SequenceLength(unsigned char Lead)
{
    if (Lead >= 0xC2 && Lead <= 0xDF)
        return 2;
    if (Lead >= 0xE0 && Lead <= 0xEF)
        return 3;
    if (Lead >= 0xF0 && Lead <= 0xF4)
        return 4;
    return 0;
}

} // namespace

void AppendJsonString(std::string& Out, std::string_view Utf8)
{
    static constexpr char Hex[] = "0123456789abcdef";
    Out += '"';
    std::size_t I = 0;
    while (I < Utf8.size()) {
        const auto C = static_cast<unsigned char>(Utf8[I]);
        if (C >= 0x80) {
            const std::size_t Length = SequenceLength(C);
            if (Length != 0 && I + Length <= Utf8.size() && IsValidUtf8(Utf8.substr(I, Length))) {
                Out.append(Utf8.substr(I, Length));
                I += Length;
            } else {
                Out += "\\ufffd";
                ++I;
            }
            continue;
        }
        switch (C) {
        case '"':
            Out += "\\\"";
            break;
        case '\\':
            Out += "\\\\";
            break;
        case '\n':
            Out += "\\n";
            break;
        case '\r':
            Out += "\\r";
            break;
        case '\t':
            Out += "\\t";
            break;
        default:
            if (C < 0x20) {
                Out += "\\u00";
                Out += Hex[C >> 4];
                Out += Hex[C & 0x0F];
            } else {
                Out += static_cast<char>(C);
            }
            break;
        }
        ++I;
    }
    Out += '"';
}

void TJsonWriter::BeforeValue()
{
    if (FAfterKey) {
        FAfterKey = false;
        return;
    }
    if (!FHasMember.empty()) {
        if (FHasMember.back())
            FOut += ',';
        FHasMember.back() = true;
    }
}

TJsonWriter& TJsonWriter::BeginObject()
{
    BeforeValue();
    FOut += '{';
    FHasMember.push_back(false);
    return *this;
}

TJsonWriter& TJsonWriter::EndObject()
{
    FOut += '}';
    FHasMember.pop_back();
    return *this;
}

TJsonWriter& TJsonWriter::BeginArray()
{
    BeforeValue();
    FOut += '[';
    FHasMember.push_back(false);
    return *this;
}

TJsonWriter& TJsonWriter::EndArray()
{
    FOut += ']';
    FHasMember.pop_back();
    return *this;
}

TJsonWriter& TJsonWriter::Key(std::string_view Name)
{
    BeforeValue();
    AppendJsonString(FOut, Name);
    FOut += ':';
    FAfterKey = true;
    return *this;
}

TJsonWriter& TJsonWriter::String(std::string_view Utf8)
{
    BeforeValue();
    AppendJsonString(FOut, Utf8);
    return *this;
}

TJsonWriter& TJsonWriter::Int(std::int64_t Value)
{
    BeforeValue();
    FOut += std::to_string(Value);
    return *this;
}

TJsonWriter& TJsonWriter::Bool(bool Value)
{
    BeforeValue();
    FOut += Value ? "true" : "false";
    return *this;
}

std::string TJsonWriter::Take()
{
    std::string Out;
    Out.swap(FOut);
    return Out;
}

} // namespace Plumeria::Tool
