#include "support/JsonReader.h"

#include "core/Text/Text.h"

#include <charconv>

namespace Plumeria::Test {
namespace {

class TJsonParser
{
public:
    explicit TJsonParser(std::string_view Text) : FText(Text) {}

    TJsonValue ParseDocument()
    {
        if (!IsValidUtf8(FText))
            Fail("the text is not valid UTF-8");
        SkipBlanks();
        TJsonValue Value = ParseValue(0);
        SkipBlanks();
        if (FPos != FText.size())
            Fail("text after the value");
        return Value;
    }

private:
    [[noreturn]] void Fail(const std::string& What) const
    {
        throw std::runtime_error("JSON: " + What + " at offset " + std::to_string(FPos));
    }

    void SkipBlanks()
    {
        while (FPos < FText.size() && (FText[FPos] == ' ' || FText[FPos] == '\t' ||
                                       FText[FPos] == '\n' || FText[FPos] == '\r'))
            ++FPos;
    }

    char Peek() const { return FPos < FText.size() ? FText[FPos] : '\0'; }

    void Expect(char C)
    {
        if (Peek() != C)
            Fail(std::string("expected '") + C + "'");
        ++FPos;
    }

    void ExpectWord(std::string_view Word)
    {
        if (FText.substr(FPos, Word.size()) != Word)
            Fail("unknown word");
        FPos += Word.size();
    }

    TJsonValue ParseValue(int Depth)
    {
        if (Depth > 200)
            Fail("nested too deep");
        TJsonValue Value;
        switch (Peek()) {
        case '{':
            Value.Kind = TJsonValue::TKind::jkObject;
            ++FPos;
            SkipBlanks();
            if (Peek() == '}') {
                ++FPos;
                return Value;
            }
            for (;;) {
                SkipBlanks();
                if (Peek() != '"')
                    Fail("expected a member name");
                std::string Key = ParseString();
                SkipBlanks();
                Expect(':');
                SkipBlanks();
                Value.Members.push_back({std::move(Key), ParseValue(Depth + 1)});
                SkipBlanks();
                if (Peek() == ',') {
                    ++FPos;
                    continue;
                }
                Expect('}');
                return Value;
            }
        case '[':
            Value.Kind = TJsonValue::TKind::jkArray;
            ++FPos;
            SkipBlanks();
            if (Peek() == ']') {
                ++FPos;
                return Value;
            }
            for (;;) {
                SkipBlanks();
                Value.Array.push_back(ParseValue(Depth + 1));
                SkipBlanks();
                if (Peek() == ',') {
                    ++FPos;
                    continue;
                }
                Expect(']');
                return Value;
            }
        case '"':
            Value.Kind = TJsonValue::TKind::jkString;
            Value.String = ParseString();
            return Value;
        case 't':
            ExpectWord("true");
            Value.Kind = TJsonValue::TKind::jkBool;
            Value.Bool = true;
            return Value;
        case 'f':
            ExpectWord("false");
            Value.Kind = TJsonValue::TKind::jkBool;
            return Value;
        case 'n':
            ExpectWord("null");
            return Value;
        default:
            Value.Kind = TJsonValue::TKind::jkNumber;
            Value.Number = ParseNumber();
            return Value;
        }
    }

    std::string ParseNumber()
    {
        const std::size_t Start = FPos;
        const auto Digits = [&] {
            const std::size_t From = FPos;
            while (Peek() >= '0' && Peek() <= '9')
                ++FPos;
            if (FPos == From)
                Fail("expected a digit");
        };
        if (Peek() == '-')
            ++FPos;
        if (Peek() == '0')
            ++FPos;
        else
            Digits();
        if (Peek() == '.') {
            ++FPos;
            Digits();
        }
        if (Peek() == 'e' || Peek() == 'E') {
            ++FPos;
            if (Peek() == '+' || Peek() == '-')
                ++FPos;
            Digits();
        }
        return std::string(FText.substr(Start, FPos - Start));
    }

    unsigned Hex4()
    {
        if (FPos + 4 > FText.size())
            Fail("short \\u escape");
        unsigned Code = 0;
        for (int I = 0; I < 4; ++I) {
            const char C = FText[FPos++];
            Code <<= 4;
            if (C >= '0' && C <= '9')
                Code |= static_cast<unsigned>(C - '0');
            else if (C >= 'a' && C <= 'f')
                Code |= static_cast<unsigned>(C - 'a' + 10);
            else if (C >= 'A' && C <= 'F')
                Code |= static_cast<unsigned>(C - 'A' + 10);
            else
                Fail("bad hex digit");
        }
        return Code;
    }

    std::string ParseString()
    {
        Expect('"');
        std::string Out;
        for (;;) {
            if (FPos >= FText.size())
                Fail("unterminated string");
            const auto C = static_cast<unsigned char>(FText[FPos]);
            if (C == '"') {
                ++FPos;
                return Out;
            }
            if (C < 0x20)
                Fail("unescaped control character");
            if (C != '\\') {
                Out += static_cast<char>(C);
                ++FPos;
                continue;
            }
            ++FPos;
            const char E = Peek();
            ++FPos;
            switch (E) {
            case '"':
                Out += '"';
                break;
            case '\\':
                Out += '\\';
                break;
            case '/':
                Out += '/';
                break;
            case 'b':
                Out += '\b';
                break;
            case 'f':
                Out += '\f';
                break;
            case 'n':
                Out += '\n';
                break;
            case 'r':
                Out += '\r';
                break;
            case 't':
                Out += '\t';
                break;
            case 'u': {
                unsigned Code = Hex4();
                if (Code >= 0xD800 && Code <= 0xDBFF) {
                    if (FText.substr(FPos, 2) != "\\u")
                        Fail("lone high surrogate");
                    FPos += 2;
                    const unsigned Low = Hex4();
                    if (Low < 0xDC00 || Low > 0xDFFF)
                        Fail("bad low surrogate");
                    Code = 0x10000 + ((Code - 0xD800) << 10) + (Low - 0xDC00);
                } else if (Code >= 0xDC00 && Code <= 0xDFFF) {
                    Fail("lone low surrogate");
                }
                std::u16string Units;
                if (Code >= 0x10000) {
                    Units += static_cast<char16_t>(0xD800 + ((Code - 0x10000) >> 10));
                    Units += static_cast<char16_t>(0xDC00 + ((Code - 0x10000) & 0x3FF));
                } else {
                    Units += static_cast<char16_t>(Code);
                }
                Out += Utf16ToUtf8(Units);
                break;
            }
            default:
                Fail("bad escape");
            }
        }
    }

    std::string_view FText;
    std::size_t FPos = 0;
};

} // namespace

const TJsonValue& TJsonValue::operator[](std::string_view Key) const
{
    if (Kind != TKind::jkObject)
        throw std::runtime_error("JSON: not an object (looking for " + std::string(Key) + ")");
    for (const auto& [Name, Value] : Members)
        if (Name == Key)
            return Value;
    throw std::runtime_error("JSON: no member " + std::string(Key));
}

std::int64_t TJsonValue::Int() const
{
    std::int64_t Value = 0;
    const char* End = Number.data() + Number.size();
    const auto [Ptr, Ec] = std::from_chars(Number.data(), End, Value);
    if (Kind != TKind::jkNumber || Ec != std::errc() || Ptr != End)
        throw std::runtime_error("JSON: not an integer: " + Number);
    return Value;
}

std::vector<std::string> TJsonValue::Keys() const
{
    std::vector<std::string> Out;
    for (const auto& Member : Members)
        Out.push_back(Member.Name);
    return Out;
}

TJsonValue ParseJson(std::string_view Text)
{
    return TJsonParser(Text).ParseDocument();
}

} // namespace Plumeria::Test
