#include "core/Delivery/DeliveryStatus.h"

#include "core/Journal/Journal.h"
#include "core/Text/Text.h"
#include "platform/AtomicFile.h"
#include "platform/Environment.h"

// As in the settings: names fold ASCII letters only and values pass through as UTF-8 bytes.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

#include <cerrno>
#include <charconv>
#include <exception>
#include <fstream>
#include <iterator>
#include <list>
#include <optional>
#include <sstream>
#include <system_error>
#include <vector>

namespace Plumeria {

namespace {

constexpr TDeliveryResult AllResults[] = {TDeliveryResult::drSent, TDeliveryResult::drFailed,
                                          TDeliveryResult::drNotSent};

/// False with `Reason` when the file cannot be read; `Missing` when there is none.
bool ReadStatusFile(const std::filesystem::path& Path, std::string& Bytes, bool& Missing,
                    std::string& Reason)
{
    Missing = false;
    std::error_code Status;
    const auto Kind = std::filesystem::status(Path, Status).type();
    if (Kind == std::filesystem::file_type::not_found) {
        Missing = true;
        return true;
    }
    if (Status) {
        Reason = Status.message();
        return false;
    }
    if (Kind != std::filesystem::file_type::regular) {
        Reason = "not a plain file";
        return false;
    }
    errno = 0;
    std::ifstream In(Path, std::ios::binary);
    if (In) {
        Bytes.assign(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
        if (!In.bad())
            return true;
    }
    Reason = std::error_code(errno != 0 ? errno : EIO, std::generic_category()).message();
    return false;
}

/// The INI reader takes almost any bytes for a document; this one names every line that Save
/// would not write (nor an editor make of it): lines that are blank, comments, sections or keys
/// inside a section are ours, anything else was damaged.
void CheckLines(std::string_view Text, std::vector<std::string>& Problems)
{
    bool InSection = false;
    std::size_t LineNo = 0;
    for (std::size_t Pos = 0; Pos <= Text.size();) {
        std::size_t End = Text.find('\n', Pos);
        if (End == std::string_view::npos)
            End = Text.size();
        const std::string_view Line = TrimView(Text.substr(Pos, End - Pos));
        ++LineNo;
        Pos = End + 1;
        if (Line.empty() || Line.front() == ';' || Line.front() == '#')
            continue;
        if (Line.front() == '[' && Line.back() == ']' && Line.size() > 2) {
            InSection = true;
            continue;
        }
        if (!InSection || Line.find('=') == std::string_view::npos || Line.front() == '=')
            Problems.push_back("line " + std::to_string(LineNo) +
                               " is not a section or a key=value");
    }
}

bool ParseResultWord(std::string_view Word, TDeliveryResult& Result)
{
    if (Word.empty()) {
        Result = TDeliveryResult::drNone;
        return true;
    }
    for (const TDeliveryResult Candidate : AllResults) {
        if (Word == DeliveryResultWord(Candidate)) {
            Result = Candidate;
            return true;
        }
    }
    return false;
}

bool ParseCount(std::string_view Text, std::size_t& Count)
{
    const auto [End, Error] = std::from_chars(Text.data(), Text.data() + Text.size(), Count);
    return Error == std::errc() && End == Text.data() + Text.size() && !Text.empty();
}

/// One section into a record; false with `Reason` when it makes no sense.
bool ReadRecord(const CSimpleIniA& Ini, const char* Section, TScaleDelivery& Record,
                std::string& Reason)
{
    const auto Text = [&](const char* Key) {
        const char* Value = Ini.GetValue(Section, Key, nullptr);
        return Value ? Trim(Value) : std::string();
    };
    const std::string Where = "section [" + std::string(Section) + "]";
    Record.Host = Text("Host");
    if (Record.Host.empty()) {
        Reason = Where + " has no Host";
        return false;
    }
    if (!TryParseInt32(Text("Port"), Record.Port)) {
        Reason = Where + " has no valid Port";
        return false;
    }
    Record.Name = Text("Name");
    Record.LastFile = Text("LastFile");
    Record.LastTime = Text("LastTime");
    Record.LastError = Text("LastError");
    const std::string Articles = Text("Articles");
    if (!Articles.empty() && !ParseCount(Articles, Record.Articles)) {
        Reason = Where + " has no valid Articles count";
        return false;
    }
    const std::string Word = Text("Result");
    if (!ParseResultWord(Word, Record.LastResult)) {
        Reason = Where + " has an unknown Result '" + Word + "'";
        return false;
    }
    return true;
}

void ConfigureIni(CSimpleIniA& Ini)
{
    Ini.SetUnicode(true);
    Ini.SetMultiKey(false);
    Ini.SetMultiLine(false);
    Ini.SetQuotes(false);
    Ini.SetSpaces(false);
}

/// Every record that makes sense; what does not is named in `Problems`, so one damaged record
/// never costs the others. Lines that are not UTF-8 (a file name in code page 1251 written by an
/// older version) are read as code page 1251.
void ParseStatus(std::string_view Bytes, std::map<std::string, TScaleDelivery>& Scales,
                 std::vector<std::string>& Problems)
{
    if (Bytes.starts_with("\xEF\xBB\xBF"))
        Bytes.remove_prefix(3);
    if (Bytes.find('\0') != std::string_view::npos) {
        Problems.push_back("not text");
        return;
    }
    const std::string Text = DecodeLinesUtf8Or1251(Bytes);
    CheckLines(Text, Problems);
    CSimpleIniA Ini;
    ConfigureIni(Ini);
    if (Ini.LoadData(Text.data(), Text.size()) < 0) {
        Problems.push_back("the file cannot be parsed");
        return;
    }
    CSimpleIniA::TNamesDepend Sections;
    Ini.GetAllSections(Sections);
    Sections.sort(CSimpleIniA::Entry::LoadOrder());
    for (const auto& Section : Sections) {
        TScaleDelivery Record;
        std::string Reason;
        if (ReadRecord(Ini, Section.pItem, Record, Reason))
            Scales[DeliveryKey(Record.Host, Record.Port)] = std::move(Record);
        else
            Problems.push_back(Reason + " (dropped)");
    }
}

std::string JoinProblems(const std::vector<std::string>& Problems)
{
    std::string Text;
    for (const std::string& Problem : Problems)
        Text += (Text.empty() ? "" : "; ") + Problem;
    return Text;
}

// A line break would end the value early and turn the rest into keys of their own.
std::string OneLine(std::string_view Value)
{
    std::string Line(Value);
    for (char& C : Line) {
        if (C == '\n' || C == '\r')
            C = ' ';
    }
    return Line;
}

// The section name is only a label (Host and Port say whose record it is); brackets and line
// breaks in an odd host must not break the line it stands on.
std::string SectionName(const TScaleDelivery& Record)
{
    std::string Name = DecodeLinesUtf8Or1251(OneLine(DeliveryKey(Record.Host, Record.Port)));
    for (char& C : Name) {
        if (C == '[' || C == ']')
            C = '_';
    }
    return Name;
}

// Values are UTF-8: a file name in another encoding (any bytes a folder can hold) is written as
// its code page 1251 reading, which the windows show the same way.
void Put(CSimpleIniA& Ini, const std::string& Section, const char* Key, std::string_view Value)
{
    if (Ini.SetValue(Section.c_str(), Key, DecodeLinesUtf8Or1251(OneLine(Value)).c_str()) < 0)
        throw std::runtime_error("cannot store " + Section + "/" + Key);
}

std::string FormatStatus(const std::map<std::string, TScaleDelivery>& Scales)
{
    CSimpleIniA Ini;
    ConfigureIni(Ini);
    for (const auto& [Key, Record] : Scales) {
        // A record without a host could never be read back, and would make the whole file look
        // damaged on the next start.
        if (TrimView(Record.Host).empty())
            continue;
        const std::string Section = SectionName(Record);
        Put(Ini, Section, "Host", Record.Host);
        Put(Ini, Section, "Port", std::to_string(Record.Port));
        Put(Ini, Section, "Name", Record.Name);
        Put(Ini, Section, "LastFile", Record.LastFile);
        Put(Ini, Section, "LastTime", Record.LastTime);
        Put(Ini, Section, "Articles", std::to_string(Record.Articles));
        Put(Ini, Section, "Result", DeliveryResultWord(Record.LastResult));
        Put(Ini, Section, "LastError", Record.LastError);
    }
    std::string Text;
    if (Ini.Save(Text, false) < 0)
        throw std::runtime_error("cannot format the delivery status");
    return Text;
}

/// Keeps a copy of the damaged file for a look later, in place of an older damaged one. A copy:
/// the records that could be read stay in the file until the next save. Written as any other
/// file of ours (std::filesystem::copy_file cannot replace a file with every standard library).
void KeepAside(const std::filesystem::path& File)
{
    std::filesystem::path Bad = File;
    Bad += ".bad";
    std::string Bytes;
    bool Missing = false;
    std::string Reason;
    if (!ReadStatusFile(File, Bytes, Missing, Reason) || Missing)
        return;
    try {
        WriteFileAtomically(Bad, Bytes);
    } catch (const std::exception& Failure) {
        LogError("cannot keep the damaged delivery status aside: " + std::string(Failure.what()));
    }
}

} // namespace

const char* DeliveryResultWord(TDeliveryResult Result)
{
    switch (Result) {
    case TDeliveryResult::drSent:
        return "sent";
    case TDeliveryResult::drFailed:
        return "failed";
    case TDeliveryResult::drNotSent:
        return "not sent";
    case TDeliveryResult::drNone:
        break;
    }
    return "";
}

std::string DeliveryKey(const std::string& Host, int Port)
{
    return Host + ":" + std::to_string(Port);
}

TDeliveryStatus::TDeliveryStatus(std::filesystem::path File) : FFile(std::move(File)) {}

bool TDeliveryStatus::Read(std::string& Error)
{
    FScales.clear();
    std::string Bytes;
    bool Missing = false;
    std::string Reason;
    if (!ReadStatusFile(FFile, Bytes, Missing, Reason)) {
        Error = PathToUtf8(FFile) + ": " + Reason;
        return false;
    }
    if (Missing)
        return true;
    std::vector<std::string> Problems;
    ParseStatus(Bytes, FScales, Problems);
    if (Problems.empty())
        return true;
    Error = PathToUtf8(FFile) + ": " + JoinProblems(Problems);
    return false;
}

bool TDeliveryStatus::Load(std::string& Error)
{
    if (Read(Error))
        return true;
    LogError("delivery status damaged: " + Error + "; " + std::to_string(FScales.size()) +
             " records kept");
    KeepAside(FFile);
    return false;
}

bool TDeliveryStatus::Save(std::string& Error) const
{
    try {
        WriteFileAtomically(FFile, FormatStatus(FScales));
        return true;
    } catch (const std::exception& Failure) {
        Error = Failure.what();
        return false;
    }
}

void TDeliveryStatus::Record(const std::string& Host, int Port, const std::string& Name,
                             const std::string& FileName, const std::string& Time,
                             std::size_t Articles, TDeliveryResult Result, const std::string& Error)
{
    TScaleDelivery& Record = FScales[DeliveryKey(Host, Port)];
    Record.Host = Host;
    Record.Port = Port;
    Record.Name = Name;
    Record.LastFile = FileName;
    Record.LastTime = Time;
    Record.Articles = Articles;
    Record.LastResult = Result;
    Record.LastError = Error;
}

void TDeliveryStatus::NoteError(const std::string& Host, int Port, const std::string& Text)
{
    const auto Found = FScales.find(DeliveryKey(Host, Port));
    if (Found == FScales.end())
        return;
    std::string& Error = Found->second.LastError;
    Error = Error.empty() ? Text : Error + "; " + Text;
}

const TScaleDelivery* TDeliveryStatus::Find(const std::string& Host, int Port) const
{
    const auto It = FScales.find(DeliveryKey(Host, Port));
    return It == FScales.end() ? nullptr : &It->second;
}

void TDeliveryStatus::Forget(const std::string& Host, int Port)
{
    FScales.erase(DeliveryKey(Host, Port));
}

} // namespace Plumeria
