#include "core/LabelGeom/LabelPlace.h"

#include <algorithm>
#include <cstdlib>
#include <utility>
#include <vector>

namespace Plumeria {

namespace {

using enum TDigiFieldKind;

constexpr int MaxWord = 65535;
constexpr int PlaceStepDots = DotsPerMm;

bool Turned(int Rotation)
{
    return Rotation == 90 || Rotation == 270;
}

// A box along the screen's axes: Left and Top in stored units (Top is a stored Y), Width and
// Height not negative, and for each axis whether the stored corner is the far one (a frame whose
// corners are stored the other way round).
struct TAxes
{
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
    bool FlipX = false;
    bool FlipY = false;
};

TAxes AxesOf(const TSlotBox& Box, int Rotation)
{
    int W = Box.W;
    int H = Box.H;
    if (Turned(Rotation))
        std::swap(W, H);
    TAxes A;
    A.FlipX = W < 0;
    A.FlipY = H < 0;
    A.Left = Box.X + std::min(W, 0);
    A.Top = Box.Y + std::min(H, 0);
    A.Width = std::abs(W);
    A.Height = std::abs(H);
    return A;
}

TSlotBox BoxOf(const TAxes& A, int Rotation, bool Resizable)
{
    TSlotBox Box;
    Box.X = A.FlipX ? A.Left + A.Width : A.Left;
    Box.Y = A.FlipY ? A.Top + A.Height : A.Top;
    int W = A.FlipX ? -A.Width : A.Width;
    int H = A.FlipY ? -A.Height : A.Height;
    if (Turned(Rotation))
        std::swap(W, H);
    Box.W = W;
    Box.H = H;
    Box.Resizable = Resizable;
    return Box;
}

int ScreenTopOf(int HeightDots, const TAxes& A)
{
    return ToScreenBox(HeightDots, A.Left, A.Top, A.Width, A.Height).Y;
}

// The stored top for a drawn top, kept so that the far corner still fits a word.
int FittingTop(int HeightDots, int ScreenTop, int Height)
{
    return std::clamp(StoredTopFor(HeightDots, std::max(ScreenTop, 0), Height), 0,
                      MaxWord - Height);
}

bool Overlap(const TScreenBox& A, const TScreenBox& B)
{
    return A.X < B.X + B.W && B.X < A.X + A.W && A.Y < B.Y + B.H && B.Y < A.Y + A.H;
}

} // namespace

TScreenBox DrawnBox(const TDigiLabelDoc& Doc, int FormatIndex, int SlotIndex, int HeightDots)
{
    const TAxes A =
        AxesOf(SlotBox(Doc, FormatIndex, SlotIndex), SlotRotation(Doc, FormatIndex, SlotIndex));
    return ToScreenBox(HeightDots, A.Left, A.Top, A.Width, A.Height);
}

int StoredTopFor(int HeightDots, int ScreenTop, int Height)
{
    const int Band = BandLine(HeightDots);
    if (ScreenTop >= Band)
        return ScreenTop;
    if (ScreenTop + Height <= Band)
        return Band - ScreenTop - Height;
    const int AboveLine = Band - ScreenTop;
    const int BelowLine = ScreenTop + Height - Band;
    return AboveLine >= BelowLine ? 0 : Band;
}

TSlotBox MovedBox(int HeightDots, const TSlotBox& Box, int Rotation, int Dx, int Dy)
{
    TAxes A = AxesOf(Box, Rotation);
    if (Dx != 0)
        A.Left = std::clamp(A.Left + Dx, 0, MaxWord - A.Width);
    if (Dy != 0)
        A.Top = FittingTop(HeightDots, ScreenTopOf(HeightDots, A) + Dy, A.Height);
    if (Dx == 0 && Dy == 0)
        return Box;
    return BoxOf(A, Rotation, Box.Resizable);
}

TSlotBox ResizedBox(TDigiFieldKind Kind, int HeightDots, const TSlotBox& Box, int Rotation, int Dx,
                    int Dy)
{
    if (Dx == 0 && Dy == 0)
        return Box;
    const TAxes Old = AxesOf(Box, Rotation);
    // Above the band the drawn upper edge is the stored top plus the height: it stays while the
    // lower edge follows the handle down to the band line at most.
    const bool AboveBand = Old.Top < BandLine(HeightDots);
    TAxes A = Old;
    A.Width = std::clamp(Old.Width + Dx, 1, std::max(MaxWord - Old.Left, 1));
    A.Height = std::clamp(Old.Height + Dy, 1,
                          std::max(AboveBand ? Old.Top + Old.Height : MaxWord - Old.Top, 1));
    if (Kind == dfEan) {
        // The width follows the height, whichever way the barcode is turned.
        TSlotBox Sized = BoxOf(A, Rotation, Box.Resizable);
        Sized.H = std::max(Sized.H, EanMinHeightDots);
        Sized.W = 2 * Sized.H;
        const TAxes Ean = AxesOf(Sized, Rotation);
        A.Width = Ean.Width;
        A.Height = Ean.Height;
    }
    if (AboveBand)
        A.Top = std::max(Old.Top - (A.Height - Old.Height), 0);
    return BoxOf(A, Rotation, Box.Resizable);
}

TSlotBox SteppedBox(int HeightDots, const TSlotBox& Box, int Rotation, int Dx, int Dy)
{
    TAxes A = AxesOf(Box, Rotation);
    if (Dx != 0) {
        const int Left = std::clamp(A.Left + Dx, 0, std::max(MaxWord - A.Width, 0));
        if (Dx < 0 ? Left >= A.Left : Left <= A.Left)
            return Box;
        A.Left = Left;
        return BoxOf(A, Rotation, Box.Resizable);
    }
    if (Dy == 0)
        return Box;
    const int Band = BandLine(HeightDots);
    const int Top = ScreenTopOf(HeightDots, A);
    int Target = std::max(Top + Dy, 0);
    if (Target < Band && Target + A.Height > Band) {
        // Across the line: come to rest on it first, cross it with the next step.
        if (Dy < 0)
            Target = Top > Band ? Band : Band - A.Height;
        else
            Target = Top + A.Height < Band ? Band - A.Height : Band;
    }
    TAxes Moved = A;
    Moved.Top = FittingTop(HeightDots, Target, A.Height);
    const int NewTop = ScreenTopOf(HeightDots, Moved);
    if (Dy < 0 ? NewTop >= Top : NewTop <= Top)
        return Box;
    return BoxOf(Moved, Rotation, Box.Resizable);
}

void PutBox(TDigiLabelDoc& Doc, int FormatIndex, int SlotIndex, const TSlotBox& Box)
{
    const TDigiSlot Slot = GetSlot(SlotIndex);
    if (Slot.Kind == dfBevel) {
        Doc.PutWord(FormatIndex, Slot.Offset, Box.X);
        Doc.PutWord(FormatIndex, Slot.Offset + 2, Box.Y);
        Doc.PutWord(FormatIndex, Slot.Offset + 6, static_cast<std::int64_t>(Box.X) + Box.W);
        Doc.PutWord(FormatIndex, Slot.Offset + 8, static_cast<std::int64_t>(Box.Y) + Box.H);
        return;
    }
    const TSlotBox Old = SlotBox(Doc, FormatIndex, SlotIndex);
    Doc.MoveSlot(FormatIndex, SlotIndex, Box.X, Box.Y);
    if (Old.Resizable && (Box.W != Old.W || Box.H != Old.H))
        Doc.ResizeSlot(FormatIndex, SlotIndex, Box.W, Box.H);
}

void PlaceFree(TDigiLabelDoc& Doc, int FormatIndex, int SlotIndex, int WidthDots, int HeightDots,
               int X, int Y)
{
    Doc.PlaceDefault(FormatIndex, SlotIndex, X, Y);
    if (GetSlot(SlotIndex).Kind == dfBevel)
        return;
    std::vector<TScreenBox> Taken;
    for (int Other = 0; Other < SlotCount(); ++Other)
        if (Other != SlotIndex && GetSlot(Other).Kind != dfBevel &&
            Doc.Occupied(FormatIndex, Other))
            Taken.push_back(DrawnBox(Doc, FormatIndex, Other, HeightDots));
    const auto Free = [&Taken](const TScreenBox& Box) {
        return std::none_of(Taken.begin(), Taken.end(),
                            [&Box](const TScreenBox& Field) { return Overlap(Box, Field); });
    };
    const TScreenBox Start = DrawnBox(Doc, FormatIndex, SlotIndex, HeightDots);
    if (Free(Start))
        return;
    const TSlotBox Placed = SlotBox(Doc, FormatIndex, SlotIndex);
    const int Rotation = SlotRotation(Doc, FormatIndex, SlotIndex);
    const int Band = BandLine(HeightDots);
    for (int Left = Start.X; Left + Start.W <= WidthDots; Left += PlaceStepDots)
        for (int Top = Start.Y; Top + Start.H <= HeightDots; Top += PlaceStepDots) {
            const bool AcrossLine = Top < Band && Top + Start.H > Band;
            if (AcrossLine || !Free({Left, Top, Start.W, Start.H}))
                continue;
            PutBox(Doc, FormatIndex, SlotIndex,
                   MovedBox(HeightDots, Placed, Rotation, Left - Start.X, Top - Start.Y));
            return;
        }
}

} // namespace Plumeria
