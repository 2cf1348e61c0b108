#include "core/LabelGeom/LabelGeom.h"

#include <algorithm>

namespace Plumeria {

namespace {

using enum TDigiFieldKind;

// Heights of a one-line field: the "M" fonts (codes 5 and up) are taller than the "S" fonts.
constexpr int LineHeightLarge = 24;
constexpr int LineHeightSmall = 16;
constexpr int LargeFontFirstCode = 5;
constexpr int DotsPerSymbol = 8;

} // namespace

TSlotBox SlotBox(const TDigiLabelDoc& Doc, int FormatIndex, int SlotIndex)
{
    const TDigiSlot Slot = GetSlot(SlotIndex);
    const auto Word = [&](int Offset) { return Doc.WordAt(FormatIndex, Slot.Offset + Offset); };
    const auto Byte = [&](int Offset) { return Doc.ByteAt(FormatIndex, Slot.Offset + Offset); };
    TSlotBox Box;
    Box.X = Word(0);
    Box.Y = Word(2);
    switch (Slot.Kind) {
    case dfLine:
        Box.H = Byte(6) >= LargeFontFirstCode ? LineHeightLarge : LineHeightSmall;
        Box.W = DotsPerSymbol * std::max(Byte(7), 1);
        Box.Resizable = false;
        break;
    case dfEan:
        Box.H = std::max(Word(6), EanMinHeightDots);
        Box.W = 2 * Box.H;
        break;
    case dfBevel:
        Box.H = Word(8) - Box.Y;
        Box.W = Word(6) - Box.X;
        break;
    case dfLogo:
        Box.H = DotsFromTenths(Word(6));
        Box.W = DotsFromTenths(Word(8));
        Box.Resizable = false;
        break;
    default:
        Box.H = Word(6);
        Box.W = Word(8);
        break;
    }
    return Box;
}

int SlotRotation(const TDigiLabelDoc& Doc, int FormatIndex, int SlotIndex)
{
    switch (Doc.ByteAt(FormatIndex, GetSlot(SlotIndex).Offset + 4)) {
    case 0x40:
        return 90;
    case 0x80:
        return 180;
    case 0xC0:
        return 270;
    default:
        return 0;
    }
}

int BandLine(int HeightDots)
{
    return HeightDots > LabelBandDots ? HeightDots - LabelBandDots : HeightDots;
}

bool InBand(int HeightDots, int Y)
{
    return Y >= BandLine(HeightDots);
}

TScreenBox ToScreenBox(int HeightDots, int X, int Y, int W, int H)
{
    // Wide arithmetic: a frame's corners may lie either way round.
    std::int64_t Left = X;
    std::int64_t Top = Y;
    std::int64_t Width = W;
    std::int64_t Height = H;
    if (Width < 0) {
        Left += Width;
        Width = -Width;
    }
    if (Height < 0) {
        Top += Height;
        Height = -Height;
    }
    const std::int64_t Band = BandLine(HeightDots);
    const std::int64_t DrawnTop =
        Top < Band ? std::max<std::int64_t>(Band - (Top + Height), 0) : Top;
    const auto Narrow = [](std::int64_t V) {
        return static_cast<int>(std::clamp<std::int64_t>(V, INT32_MIN, INT32_MAX));
    };
    return {Narrow(Left), Narrow(DrawnTop), Narrow(Width), Narrow(Height)};
}

} // namespace Plumeria
