#pragma once
// The document of one DIGI label file "f34.dat": the file's text kept as read, the format
// records decoded from it, and for every decoded byte where its two digits stand in the text.
// A change patches exactly those two digits, so saving keeps everything else of the file as it
// was, down to spacing, line breaks and the letter case of untouched digits.
//
// The callers guarantee every `FormatIndex` (0 … FormatCount() − 1), `SlotIndex` (the slot
// table) and offset (inside the record); the methods do not check them.
//
// Error codes of Load, Save and CreateEmpty (codes, not user texts): "missing", "hex",
// "truncated", "short", "empty", "large", "readonly".

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace Plumeria {

/// The largest label file the document reads (16 MiB): a real "f34.dat" holds a few kilobytes,
/// and the positions of its digits must fit 32 bits.
inline constexpr std::int64_t MaxLabelFileBytes = 16 * 1024 * 1024;

class TDigiLabelDoc
{
public:
    /// Replaces the content by the file. False with "missing" (no such file), "hex" (a
    /// character above code 32 that is no hex digit, or an odd number of digits), "truncated"
    /// (a record header cut off, a length below 10, a record running past the end), "short" (a
    /// record below 1310 bytes), "empty" (no record) or "large" (above MaxLabelFileBytes, refused
    /// before reading). After a failure the content is not
    /// meaningful. A file that exists but cannot be read at all (no access, a folder) throws
    /// std::runtime_error.
    bool Load(const std::filesystem::path& AFileName, std::string& Error);
    /// Load's rules applied to a file's bytes already in memory (tests and fuzzing); the file
    /// name stays as it was.
    bool LoadContent(const std::string& FileBytes, std::string& Error);
    /// Writes the text back when dirty (true also when nothing was written); "missing" without
    /// a file name, "readonly" when the file is marked read-only (it stays, the document stays
    /// dirty). The file is replaced through a temporary file beside it, so a failure leaves
    /// it as it was; that failure throws std::runtime_error and the document stays dirty.
    bool Save(std::string& Error);
    /// Takes a new file name and marks the document dirty, so the next Save writes it all there.
    void SaveAs(const std::filesystem::path& AFileName);
    /// Writes a new file with two empty formats (numbers 1 and 2, 1400 bytes each, the given
    /// size) in upper-case digits on one line, then loads it; "readonly" (nothing written) when
    /// a read-only file has that name. Throws std::runtime_error when the
    /// file cannot be written; the document is then left as it was.
    bool CreateEmpty(const std::filesystem::path& AFileName, int WidthDots, int HeightDots,
                     std::string& Error);

    int FormatCount() const;
    /// Big-endian bytes 0–3 of the record.
    std::uint32_t FormatId(int FormatIndex) const;
    /// The words at 6 (width) and 8 (height), in dots.
    void ReadSize(int FormatIndex, int& WidthDots, int& HeightDots) const;
    int WordAt(int FormatIndex, int Offset) const;
    int ByteAt(int FormatIndex, int Offset) const;
    /// Sets the low 8 bits of `Value`; an equal byte changes nothing and keeps the document clean.
    void PutByte(int FormatIndex, int Offset, int Value);
    /// Sets a big-endian word, `Value` clamped to 0–65535; an equal word changes nothing.
    void PutWord(int FormatIndex, int Offset, std::int64_t Value);

    /// True when any byte of the field's block is non-zero (the field is on the label).
    bool Occupied(int FormatIndex, int SlotIndex) const;
    /// Zeroes the field's block (takes the field off the label).
    void ClearSlot(int FormatIndex, int SlotIndex);
    /// Puts the field on the label at (XDots, YDots) with the default attributes of its kind.
    void PlaceDefault(int FormatIndex, int SlotIndex, int XDots, int YDots);
    /// Moves the field; a frame moves its second corner along.
    void MoveSlot(int FormatIndex, int SlotIndex, int NewX, int NewY);
    /// Changes the field's size as far as its kind allows (not a line or the logo; an EAN only
    /// in height); values below 1 count as 1.
    void ResizeSlot(int FormatIndex, int SlotIndex, int NewW, int NewH);

    bool Dirty() const { return FDirty; }
    const std::filesystem::path& FileName() const { return FFileName; }

    /// What the document holds, for checks from outside: the text (without a byte-order mark),
    /// a format record, where it starts in the decoded stream, and the 1-based text positions
    /// of the high and low digit of every decoded byte.
    const std::string& Text() const { return FText; }
    const std::vector<std::uint8_t>& Record(int FormatIndex) const;
    int RecordStart(int FormatIndex) const;
    int DecodedBytes() const { return static_cast<int>(FHi.size()); }
    int HiPos(int StreamIndex) const;
    int LoPos(int StreamIndex) const;
    /// True when every record byte equals the byte spelled at its two positions in the text.
    bool RecordsMatchText() const;

    /// The encoding the file was read in; Save writes it back the same way.
    enum class TTextEncoding : std::uint8_t
    {
        teBytes,   ///< no byte-order mark: one character per byte
        teUtf8Bom, ///< UTF-8 byte-order mark
        teUtf16Le, ///< UTF-16, little-endian mark
        teUtf16Be, ///< UTF-16, big-endian mark
    };

private:
    bool DecodeText(std::string& Error);
    bool SplitRecords(const std::vector<std::uint8_t>& Stream, std::string& Error);

    std::string FText;
    std::vector<std::int32_t> FHi;
    std::vector<std::int32_t> FLo;
    std::vector<std::vector<std::uint8_t>> FBlobs;
    std::vector<std::int32_t> FBlobAt;
    std::filesystem::path FFileName;
    bool FDirty = false;
    TTextEncoding FEncoding = TTextEncoding::teBytes;
};

/// The designer's message for an error code of Load, Save or CreateEmpty (UTF-8): "missing" →
/// "Нет файла f34.dat", "hex" → "Файл не похож на f34", "short" → "Слишком короткая запись",
/// "readonly" → "Файл f34.dat только для чтения", "large" → "Файл этикетки больше 16 МБ", any
/// other code → "Файл этикетки не читается".
std::string LabelErrorText(const std::string& Code);

} // namespace Plumeria
