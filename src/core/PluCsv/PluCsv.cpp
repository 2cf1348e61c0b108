#include "core/PluCsv/PluCsv.h"

#include "core/Text/Text.h"
#include "core/Types/Threads.h"
#include "platform/Environment.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

namespace Plumeria {
namespace {

constexpr std::string_view MsgNeedsEightFields = "PLU record needs 8 fields";
constexpr std::string_view MsgPluOutOfRange = "PLU is out of range";
constexpr std::string_view MsgDuplicatePlu = "duplicate PLU";
constexpr std::string_view MsgBadBarcode = "barcode must be 1 to 14 digits";
constexpr std::string_view MsgBadPrice = "price is invalid";
constexpr std::string_view MsgBadItemType = "item type must be 0 or 1";
constexpr std::string_view MsgBadPriceBase = "price base must be 0 or 1";
constexpr std::string_view MsgBadShelfLife = "shelf life days are invalid";
constexpr std::string_view MsgNameEmpty = "name is empty";
constexpr std::string_view MsgNameTooLong = "name is longer than 80 characters";
constexpr std::string_view MsgIngredientNeedsPlu = "ingredient record needs a PLU";
constexpr std::string_view MsgDeleteRecord = "delete records are not sent";
constexpr std::string_view MsgUnknownRecord = "expected record A or I";
constexpr std::string_view MsgOrphanIngredient = "ingredient without a PLU record: ";
constexpr std::string_view MsgNoRecords = "no PLU records";

constexpr std::size_t MaxBarcodeDigits = 14;
constexpr std::int32_t MaxShelfLifeDays = 999;
constexpr std::string_view Utf8Bom = "\xEF\xBB\xBF";
/// "A;1;;0;0;0;0;x" and its line feed: no accepted article line is shorter.
constexpr std::size_t ShortestArticleLine = 15;

bool IsDigit(char C)
{
    return C >= '0' && C <= '9';
}

bool IsBlank(char C)
{
    return static_cast<unsigned char>(C) <= 32;
}

/// `TrimView` for the hot path: nearly every field has nothing to trim, and that answer needs
/// no call into the text module.
std::string_view Trimmed(std::string_view Field)
{
    if (Field.empty() || (!IsBlank(Field.front()) && !IsBlank(Field.back())))
        return Field;
    return TrimView(Field);
}

/// The high bit of every byte of `Word` that equals `Byte`, and no other bit: the bytes that
/// differ stay non-zero after the XOR, and the sum sets their high bit without carrying into
/// the next byte.
std::uint64_t ByteMarks(std::uint64_t Word, char Byte)
{
    constexpr std::uint64_t Ones = 0x0101010101010101ull;
    constexpr std::uint64_t Low7 = 0x7F7F7F7F7F7F7F7Full;
    const std::uint64_t Diff = Word ^ (Ones * static_cast<unsigned char>(Byte));
    return ~(((Diff & Low7) + Low7) | Diff | Low7);
}

/// Cuts the line that starts at `Begin` into its ";"-separated fields, up to its line feed.
/// Returns that line feed, or `End` when there is none before it. This is the one step that
/// looks at every byte of a file, so it looks at eight at a time where the byte order allows.
const char* SplitLine(const char* Begin, const char* End, std::vector<std::string_view>& Fields)
{
    Fields.clear();
    const char* Start = Begin;
    const auto Cut = [&](const char* At) {
        Fields.emplace_back(Start, static_cast<std::size_t>(At - Start));
        Start = At + 1;
    };
    const char* P = Begin;
    if constexpr (std::endian::native == std::endian::little) {
        for (; End - P >= 8; P += 8) {
            std::uint64_t Word = 0;
            std::memcpy(&Word, P, sizeof Word);
            const std::uint64_t Feeds = ByteMarks(Word, '\n');
            std::uint64_t Semicolons = ByteMarks(Word, ';');
            if (Feeds != 0)
                Semicolons &= (Feeds & -Feeds) - 1; // only those before the line feed
            for (; Semicolons != 0; Semicolons &= Semicolons - 1)
                Cut(P + std::countr_zero(Semicolons) / 8);
            if (Feeds != 0) {
                P += std::countr_zero(Feeds) / 8;
                Fields.emplace_back(Start, static_cast<std::size_t>(P - Start));
                return P;
            }
        }
    }
    for (; P != End && *P != '\n'; ++P)
        if (*P == ';')
            Cut(P);
    Fields.emplace_back(Start, static_cast<std::size_t>(P - Start));
    return P;
}

/// False for the empty text.
bool IsAllDigits(std::string_view Text)
{
    if (Text.empty())
        return false;
    for (const char C : Text)
        if (!IsDigit(C))
            return false;
    return true;
}

bool IsZeroOrOne(std::string_view Field, bool& Value)
{
    const auto Text = Trimmed(Field);
    if (Text.size() != 1 || (Text[0] != '0' && Text[0] != '1'))
        return false;
    Value = Text[0] == '1';
    return true;
}

/// `TryParseInt32` with a shortcut for the plain decimal numbers that nearly every field holds;
/// signs, hexadecimal prefixes and long digit runs take the full reader.
bool TryParseNumber(std::string_view Field, std::int32_t& Value)
{
    const auto Text = Trimmed(Field);
    if (Text.empty() || Text.size() > 9) // nine digits cannot overflow
        return TryParseInt32(Text, Value);
    std::int32_t Number = 0;
    for (const char C : Text) {
        if (!IsDigit(C))
            return TryParseInt32(Text, Value);
        Number = Number * 10 + (C - '0');
    }
    Value = Number;
    return true;
}

bool TryParsePlu(std::string_view Field, std::int32_t& Plu)
{
    return TryParseNumber(Field, Plu) && Plu >= 1 && Plu <= MaxPluNumber;
}

/// No file of `Size` bytes holds more accepted articles than this, so `Items` reserved to it
/// never moves its records while it fills. The room beyond the real count is address space only:
/// pages that are never written cost no memory.
std::size_t MostArticles(std::uintmax_t Size)
{
    return static_cast<std::size_t>(
        std::min<std::uintmax_t>((Size + 1) / ShortestArticleLine, MaxPluNumber));
}

/// Code page bytes to UTF-8 by a table of every byte's UTF-8 form. The table is taken from
/// `DecodeCodePage` itself, so both always agree; it only saves the walk through a general
/// decoder and lets a name be built with one allocation of the exact size.
class TNameDecoder
{
public:
    explicit TNameDecoder(int CodePage)
    {
        for (int Byte = 0; Byte < 256; ++Byte) {
            const char C = static_cast<char>(Byte);
            const std::string Form = DecodeCodePage(std::string_view(&C, 1), CodePage);
            std::memcpy(FForms[Byte].Bytes, Form.data(), std::min<std::size_t>(Form.size(), 4));
            FForms[Byte].Length = static_cast<std::uint8_t>(Form.size());
        }
    }

    /// `Raw` holds at most `MaxPluNameLength` bytes, the names that pass the length rule.
    std::string Decode(std::string_view Raw) const
    {
        // Each form is stored in 4 bytes and copied whole; the buffer has room for the last
        // copy's spill.
        char Buffer[MaxPluNameLength * 3 + 4];
        char* Out = Buffer;
        for (const char C : Raw) {
            const TForm& Form = FForms[static_cast<unsigned char>(C)];
            std::memcpy(Out, Form.Bytes, 4);
            Out += Form.Length;
        }
        return std::string(Buffer, static_cast<std::size_t>(Out - Buffer));
    }

private:
    struct TForm
    {
        char Bytes[4] = {};
        std::uint8_t Length = 0;
    };
    std::array<TForm, 256> FForms{};
};

const TNameDecoder& NameDecoder(int CodePage)
{
    static const TNameDecoder Cp866(866);
    static const TNameDecoder Cp1251(1251);
    return CodePage == 866 ? Cp866 : Cp1251;
}

/// One article name still to decode: its record in `Items` and its bytes in a read buffer.
struct TNameJob
{
    std::size_t Item = 0;
    std::string_view Raw;
};

/// Decodes the article names of large files on a second thread. Allocating and filling a
/// million name strings costs about as much as checking the lines themselves, and the two do
/// not depend on each other: the reading thread fills every other field of a record and hands
/// the names of each piece over here while it goes on with the next piece. Each name is decoded
/// by the same function as on one thread, so the result is the same.
class TNameWorker
{
public:
    explicit TNameWorker(const TNameDecoder& Decoder) : FDecoder(Decoder) {}

    ~TNameWorker()
    {
        if (!FThread.joinable())
            return;
        {
            const std::lock_guard Lock(FLock);
            FStop = true;
        }
        FChanged.notify_all();
        FThread.join();
    }

    /// Starts the thread; false when the system would not give one (the names are then
    /// decoded on the reading thread).
    bool Start()
    {
        return TryStartThread(FThread, [this] { Run(); });
    }

    TNameWorker(const TNameWorker&) = delete;
    TNameWorker& operator=(const TNameWorker&) = delete;

    /// Takes the jobs of one piece (leaving `Jobs` empty) for records at `Items`. Waits for the
    /// batch before, so the buffer of that earlier piece is free again when this returns.
    void Submit(TPluRecord* Items, std::vector<TNameJob>& Jobs)
    {
        std::unique_lock Lock(FLock);
        WaitIdle(Lock);
        FJobs.swap(Jobs);
        Jobs.clear();
        FItems = Items;
        FHasBatch = true;
        Lock.unlock();
        FChanged.notify_all();
    }

    /// Waits until every name handed over is in its record.
    void Wait()
    {
        std::unique_lock Lock(FLock);
        WaitIdle(Lock);
    }

private:
    void WaitIdle(std::unique_lock<std::mutex>& Lock)
    {
        FChanged.wait(Lock, [this] { return !FHasBatch; });
        if (FError)
            std::rethrow_exception(std::exchange(FError, nullptr));
    }

    void Run()
    {
        std::unique_lock Lock(FLock);
        for (;;) {
            FChanged.wait(Lock, [this] { return FStop || FHasBatch; });
            if (FStop)
                return;
            Lock.unlock();
            std::exception_ptr Error;
            try {
                for (const TNameJob& Job : FJobs)
                    FItems[Job.Item].Name = FDecoder.Decode(Job.Raw);
            } catch (...) {
                Error = std::current_exception(); // out of memory: raised on the reading thread
            }
            Lock.lock();
            FError = Error;
            FHasBatch = false;
            FChanged.notify_all();
        }
    }

    const TNameDecoder& FDecoder;
    std::mutex FLock;
    std::condition_variable FChanged;
    std::vector<TNameJob> FJobs;
    TPluRecord* FItems = nullptr;
    bool FHasBatch = false;
    bool FStop = false;
    std::exception_ptr FError;
    std::thread FThread;
};

struct TFreeDeleter
{
    void operator()(void* P) const { std::free(P); }
};

/// Applies the record rules to one physical line after another and collects the result.
///
/// Lines come either as UTF-8 text or as the file's own code page bytes. Every rule can be
/// checked on the raw bytes: record letters, digits, ";", "#" and the trimmed codes 0-32 are the
/// same bytes in both code pages, a byte from 0x80 up is never any of them, and each byte is one
/// UTF-16 code unit. So only the texts that enter the result (names, ingredients) are decoded.
class TPluParser
{
public:
    /// `CodePage` 866 or 1251 for raw file bytes, 0 for UTF-8 text. `MostArticles` must not be
    /// below the number of articles that will be accepted (see `MostArticles()`).
    TPluParser(TPluParseResult& Result, std::size_t MostArticles, int CodePage)
        : FResult(Result), FCodePage(CodePage),
          FDecoder(CodePage != 0 ? &NameDecoder(CodePage) : nullptr)
    {
        FResult.Items.clear();
        FResult.Errors.clear();
        FResult.Warnings.clear();
        FResult.Items.reserve(MostArticles);
        FAccepted.assign(static_cast<std::size_t>(MaxPluNumber) / 64 + 1, 0);
    }

    /// Parses every line of `Data` that ends with a line feed; returns the bytes they took.
    std::size_t ParseWholeLines(std::string_view Data)
    {
        const char* P = Data.data();
        const char* const End = P + Data.size();
        while (P != End) {
            const char* const Feed = SplitLine(P, End, FFields);
            if (Feed == End)
                break;
            ParseSplitLine({P, static_cast<std::size_t>(Feed - P)});
            P = Feed + 1;
        }
        return static_cast<std::size_t>(P - Data.data());
    }

    /// Parses all of `Data`, whose end is the end of the text: the piece after the last line
    /// feed is a line too.
    void ParseRest(std::string_view Data)
    {
        Data.remove_prefix(ParseWholeLines(Data));
        SplitLine(Data.data(), Data.data() + Data.size(), FFields);
        ParseSplitLine(Data);
    }

    /// From now on article names are left to `Worker` (see `HandOverNames`).
    void DecodeNamesOn(TNameWorker& Worker) { FNameWorker = &Worker; }

    /// Gives the names of the lines parsed since the last call to the name thread. Returns once
    /// the names handed over before are in place: their piece's buffer may be used again.
    void HandOverNames()
    {
        if (FNameWorker)
            FNameWorker->Submit(FResult.Items.data(), FNameJobs);
    }

    /// Returns once every name is in its record, and decodes names here again from then on.
    void FinishNames()
    {
        if (!FNameWorker)
            return;
        HandOverNames();
        FNameWorker->Wait();
        FNameWorker = nullptr;
    }

    void Finish()
    {
        // Ingredient text still waiting belongs to a PLU whose article never came or was
        // rejected. Reported in the order the PLUs first appeared.
        for (const std::int32_t Plu : FWaitingOrder)
            if (FWaiting.count(Plu))
                FResult.Warnings.push_back(std::string(MsgOrphanIngredient) + std::to_string(Plu));
        if (FResult.Items.empty() && FResult.Errors.empty())
            FResult.Errors.push_back({0, std::string(MsgNoRecords)});
    }

private:
    /// One line without its line feed, already cut into `FFields`.
    void ParseSplitLine(std::string_view Line)
    {
        if (FLineNo < std::numeric_limits<std::int32_t>::max())
            ++FLineNo;
        if (FCodePage == 0 && Line.starts_with(Utf8Bom)) {
            Line.remove_prefix(Utf8Bom.size());
            FFields.front().remove_prefix(Utf8Bom.size());
        }
        if (!Line.empty() && Line.back() == '\r') {
            Line.remove_suffix(1);
            FFields.back().remove_suffix(1);
        }
        const auto First =
            std::find_if(Line.begin(), Line.end(), [](char C) { return !IsBlank(C); });
        if (First == Line.end() || *First == '#')
            return; // blank or comment

        const auto Letter = Trimmed(FFields[0]);
        const char Kind = Letter.size() == 1 ? Letter[0] : '\0';
        switch (Kind) {
        case 'A':
        case 'a':
            ParseArticle();
            break;
        case 'I':
        case 'i':
            ParseIngredient();
            break;
        case 'D':
        case 'd':
            AddError(MsgDeleteRecord);
            break;
        default:
            AddError(MsgUnknownRecord);
            break;
        }
    }

    /// A piece of the line as UTF-8 text for the result.
    std::string Text(std::string_view Raw) const
    {
        return FCodePage == 0 ? std::string(Raw) : DecodeCodePage(Raw, FCodePage);
    }

    /// A name that passed the length rule, as UTF-8 text.
    std::string NameText(std::string_view Raw) const
    {
        return FDecoder ? FDecoder->Decode(Raw) : std::string(Raw);
    }

    std::size_t CharLength(std::string_view Raw) const
    {
        return FCodePage == 0 ? Utf16Length(Raw) : Raw.size();
    }
    // Which PLUs have an accepted article is one bit each (125 KB, stays in cache however the
    // numbers are ordered). Where each article sits in `Items` is only needed by ingredient
    // lines that follow their article; that table is built on the first such line.
    bool IsAccepted(std::int32_t Plu) const
    {
        const auto Bit = static_cast<std::uint32_t>(Plu);
        return (FAccepted[Bit >> 6] >> (Bit & 63)) & 1;
    }

    void MarkAccepted(std::int32_t Plu)
    {
        const auto Bit = static_cast<std::uint32_t>(Plu);
        FAccepted[Bit >> 6] |= std::uint64_t{1} << (Bit & 63);
        if (FItemByPlu)
            FItemByPlu.get()[Plu] = static_cast<std::int32_t>(FResult.Items.size());
    }

    TPluRecord& AcceptedItem(std::int32_t Plu)
    {
        if (!FItemByPlu) {
            // 1 + the index of the PLU's article, 0 for none.
            FItemByPlu.reset(static_cast<std::int32_t*>(
                std::calloc(static_cast<std::size_t>(MaxPluNumber) + 1, sizeof(std::int32_t))));
            if (!FItemByPlu)
                throw std::bad_alloc();
            for (std::size_t I = 0; I < FResult.Items.size(); ++I)
                FItemByPlu.get()[FResult.Items[I].Plu] = static_cast<std::int32_t>(I + 1);
        }
        return FResult.Items[static_cast<std::size_t>(FItemByPlu.get()[Plu] - 1)];
    }

    /// Only for a file that grew after its size was taken: more articles than `Items` has room
    /// for. Every name waiting so far is put in place here, so nothing points into `Items`.
    void SettleNames()
    {
        FNameWorker->Wait();
        for (const TNameJob& Job : FNameJobs)
            FResult.Items[Job.Item].Name = NameText(Job.Raw);
        FNameJobs.clear();
    }

    void AddError(std::string_view Text) { FResult.Errors.push_back({FLineNo, std::string(Text)}); }

    void ParseArticle()
    {
        if (FFields.size() < 8)
            return AddError(MsgNeedsEightFields);
        std::int32_t Plu = 0;
        if (!TryParsePlu(FFields[1], Plu))
            return AddError(MsgPluOutOfRange);
        if (IsAccepted(Plu))
            return AddError(MsgDuplicatePlu);
        const auto Barcode = Trimmed(FFields[2]);
        if (!Barcode.empty() && (Barcode.size() > MaxBarcodeDigits || !IsAllDigits(Barcode)))
            return AddError(MsgBadBarcode);
        std::int64_t Cents = 0;
        if (!TryParsePriceCents(FFields[3], Cents))
            return AddError(MsgBadPrice);
        bool Piece = false;
        if (!IsZeroOrOne(FFields[4], Piece))
            return AddError(MsgBadItemType);
        bool Per100g = false;
        if (!IsZeroOrOne(FFields[5], Per100g))
            return AddError(MsgBadPriceBase);
        std::int32_t Days = 0;
        if (!TryParseNumber(FFields[6], Days) || Days < 0 || Days > MaxShelfLifeDays)
            return AddError(MsgBadShelfLife);
        const auto Name = Trimmed(FFields[7]);
        if (Name.empty())
            return AddError(MsgNameEmpty);
        if (CharLength(Name) > MaxPluNameLength)
            return AddError(MsgNameTooLong);

        if (FNameWorker && FResult.Items.size() == FResult.Items.capacity())
            SettleNames(); // growing `Items` moves the records the name thread writes into
        TPluRecord& Record = FResult.Items.emplace_back();
        Record.Plu = Plu;
        if (FNameWorker)
            FNameJobs.push_back({FResult.Items.size() - 1, Name});
        else
            Record.Name = NameText(Name);
        Record.PriceCents = Cents;
        Record.Barcode = Barcode;
        Record.ItemType = Piece ? TItemType::itPiece : TItemType::itWeight;
        Record.PricePer100g = Per100g;
        Record.SellByDays = Days;
        MarkAccepted(Plu);
        if (!FWaiting.empty()) {
            if (const auto It = FWaiting.find(Plu); It != FWaiting.end()) {
                Record.Ingredients = std::move(It->second);
                FWaiting.erase(It);
            }
        }
    }
    void ParseIngredient()
    {
        if (FFields.size() < 2)
            return AddError(MsgIngredientNeedsPlu);
        std::int32_t Plu = 0;
        if (!TryParsePlu(FFields[1], Plu))
            return AddError(MsgPluOutOfRange);

        std::string* Target = nullptr;
        if (IsAccepted(Plu)) {
            Target = &AcceptedItem(Plu).Ingredients;
        } else if (const auto It = FWaiting.find(Plu); It != FWaiting.end()) {
            Target = &It->second;
        }

        std::string Joined;
        for (std::size_t I = 2; I < FFields.size(); ++I) {
            const auto Piece = TrimView(FFields[I]);
            if (Piece.empty())
                continue;
            if (!Joined.empty())
                Joined += '\n';
            Joined += Piece;
        }
        if (Joined.empty())
            return;
        Joined = Text(Joined);

        if (!Target) {
            FWaiting.emplace(Plu, std::move(Joined));
            FWaitingOrder.push_back(Plu);
        } else {
            if (!Target->empty())
                *Target += '\n';
            *Target += Joined;
        }
    }

    TPluParseResult& FResult;
    const int FCodePage;
    const TNameDecoder* const FDecoder; ///< null for UTF-8 text
    std::int32_t FLineNo = 0;
    std::vector<std::uint64_t> FAccepted;
    std::unique_ptr<std::int32_t, TFreeDeleter> FItemByPlu;
    std::unordered_map<std::int32_t, std::string> FWaiting;
    std::vector<std::int32_t> FWaitingOrder;
    std::vector<std::string_view> FFields;
    TNameWorker* FNameWorker = nullptr; ///< set while names are decoded on another thread
    std::vector<TNameJob> FNameJobs;    ///< names of the current piece not handed over yet
};

[[noreturn]] void ThrowReadError(const std::filesystem::path& FileName, int Error)
{
    const std::string Reason =
        Error != 0 ? std::generic_category().message(Error) : std::string("read failed");
    throw TPluReadError("cannot read file " + PathToUtf8(FileName) + ": " + Reason);
}

/// A file is read in pieces of this size into one buffer that is used again for every piece:
/// the whole file is never held, and the buffer's memory is only made ready by the system once.
constexpr std::size_t ReadPieceSize = std::size_t{1} << 20;

std::ifstream OpenPluFile(const std::filesystem::path& FileName, std::uintmax_t& Size)
{
    // A folder, a device or a pipe is no PLU file; reading one could also never end
    // (/dev/zero, a pipe without writer).
    std::error_code Ignored;
    const auto Status = std::filesystem::status(FileName, Ignored);
    if (std::filesystem::is_directory(Status))
        ThrowReadError(FileName, static_cast<int>(std::errc::is_a_directory));
    if (std::filesystem::exists(Status) && !std::filesystem::is_regular_file(Status))
        throw TPluReadError("cannot read file " + PathToUtf8(FileName) + ": not a regular file");

    errno = 0;
    std::ifstream In(FileName, std::ios::binary);
    if (!In.is_open())
        ThrowReadError(FileName, errno);
    // Only a hint for the room of `Items`: a file that grows meanwhile is still read to its end.
    Size = std::filesystem::file_size(FileName, Ignored);
    if (Ignored)
        Size = 0;
    return In;
}

/// From this size on, a file's names are decoded on a second thread (see `TNameWorker`).
constexpr std::uintmax_t NameThreadFrom = 2 * ReadPieceSize;

bool UseNameThread(std::uintmax_t FileSize)
{
    return FileSize >= NameThreadFrom && std::thread::hardware_concurrency() > 1;
}

/// Reads `In` piece by piece and parses each piece's whole lines. The start of a line that
/// continues in the next piece is carried to the front of the next buffer; a line longer than
/// a piece makes the buffer grow, and is only parsed once its line feed has been read. With a
/// name thread, two buffers take turns: the names of one piece are decoded from its buffer
/// while the next piece is read into the other.
void ReadAndParse(const std::filesystem::path& FileName, std::ifstream& In, bool NameThread,
                  int CodePage, TPluParser& Parser)
{
    std::vector<char> Buffer(ReadPieceSize);
    std::vector<char> Spare;
    std::optional<TNameWorker> Names; // after the buffers: stops before they are freed
    if (NameThread && !Names.emplace(NameDecoder(CodePage)).Start())
        Names.reset(); // no second thread to be had: one thread parses the same result
    if (Names)
        Parser.DecodeNamesOn(*Names);
    std::size_t Kept = 0;
    for (;;) {
        if (Buffer.size() < Kept + ReadPieceSize)
            Buffer.resize(Kept + ReadPieceSize);
        errno = 0;
        In.read(Buffer.data() + Kept, static_cast<std::streamsize>(ReadPieceSize));
        if (In.bad() || (In.fail() && !In.eof()))
            ThrowReadError(FileName, errno);
        const auto Got = static_cast<std::size_t>(In.gcount());
        const std::string_view Data(Buffer.data(), Kept + Got);
        if (In.eof()) {
            Parser.ParseRest(Data);
            return Parser.FinishNames();
        }
        if (std::memchr(Data.data() + Kept, '\n', Got) == nullptr) {
            Kept = Data.size();
            continue;
        }
        const std::size_t Used = Parser.ParseWholeLines(Data);
        Kept = Data.size() - Used;
        if (!Names) {
            std::memmove(Buffer.data(), Buffer.data() + Used, Kept);
            continue;
        }
        Parser.HandOverNames(); // the names of the piece before are done: `Spare` is free
        if (Spare.size() < Kept + ReadPieceSize)
            Spare.resize(Kept + ReadPieceSize);
        std::memcpy(Spare.data(), Buffer.data() + Used, Kept);
        Buffer.swap(Spare);
    }
}

} // namespace

int NormalizeCodePage(int CodePage)
{
    return CodePage == 866 ? 866 : 1251;
}
bool TryParsePriceCents(std::string_view Text, std::int64_t& Cents)
{
    constexpr std::int64_t Max = std::numeric_limits<std::int64_t>::max();
    Cents = 0;
    auto Price = Trimmed(Text);
    if (Price.empty())
        return false;
    if (Price.front() == '+')
        Price.remove_prefix(1);
    if (Price.empty() || Price.front() == '-')
        return false;

    // The integer part runs up to the first "." or "," (the same decimal point); any other
    // byte before it makes the text no price.
    std::size_t I = 0;
    std::int64_t Units = 0;
    for (; I < Price.size() && IsDigit(Price[I]); ++I) {
        const int Digit = Price[I] - '0';
        if (Units >= Max / 10 && (Units > Max / 10 || Digit > Max % 10))
            return false;
        Units = Units * 10 + Digit;
    }
    std::string_view Fraction = "00";
    if (I < Price.size()) {
        if (Price[I] != '.' && Price[I] != ',')
            return false;
        Fraction = Price.substr(I + 1);
    }

    // The third fraction character only rounds; whatever follows it is ignored.
    int Carry = 0;
    if (Fraction.size() > 2) {
        Carry = Fraction[2] >= '5' && Fraction[2] <= '9' ? 1 : 0;
        Fraction = Fraction.substr(0, 2);
    }
    const char Tenths = !Fraction.empty() ? Fraction[0] : '0';
    const char Hundredths = Fraction.size() > 1 ? Fraction[1] : '0';
    if (!IsDigit(Tenths) || !IsDigit(Hundredths))
        return false;

    const std::int64_t Small = (Tenths - '0') * 10 + (Hundredths - '0') + Carry;
    if (Units > (Max - Small) / 100)
        return false;
    Cents = Units * 100 + Small;
    return true;
}

void ParsePluText(std::string_view Text, TPluParseResult& Result)
{
    TPluParser Parser(Result, MostArticles(Text.size()), 0);
    Parser.ParseRest(Text);
    Parser.Finish();
}

void ParsePluFile(const std::filesystem::path& FileName, int CodePage, TPluParseResult& Result)
{
    Result.Items.clear();
    Result.Errors.clear();
    Result.Warnings.clear();
    std::uintmax_t Size = 0;
    std::ifstream In = OpenPluFile(FileName, Size);
    // Both code pages map the byte 0x0A, and only it, to the line feed, so the bytes are split
    // into lines before anything is decoded.
    try {
        const int Cp = NormalizeCodePage(CodePage);
        TPluParser Parser(Result, MostArticles(Size), Cp);
        ReadAndParse(FileName, In, UseNameThread(Size), Cp, Parser);
        Parser.Finish();
    } catch (...) {
        // Lines are parsed while the file is read: a read that fails halfway must not leave
        // half a result behind.
        Result = TPluParseResult();
        throw;
    }
}

} // namespace Plumeria
