#pragma once
// The DIGI label model as the designer uses it: the slot table and units (LabelSlots.h), the
// document (LabelDoc.h), and the geometry rules the window and the canvas share: the box of a
// field, its rotation, and how a field's vertical position maps to the drawn label.
//
// The lower 80 dots (10 mm) of a label are a band with a coordinate rule of its own: outside the
// band Y counts upwards from the band line (Y = 0 rests on it), inside the band Y counts
// downwards from the top edge. A move up on the screen therefore increases Y outside the band
// and decreases it inside.

#include "core/LabelGeom/LabelDoc.h"
#include "core/LabelGeom/LabelSlots.h"

namespace Plumeria {

/// Height of the band at the lower edge of the label, in dots.
inline constexpr int LabelBandDots = 80;
/// An EAN is never drawn lower than this, whatever its height word says.
inline constexpr int EanMinHeightDots = 8;

/// A field's box in dots as stored: X and Y from the block, W and H by kind. A frame whose second
/// corner lies left of or above the first has a negative W or H.
struct TSlotBox
{
    int X = 0;
    int Y = 0;
    int W = 0;
    int H = 0;
    bool Resizable = true;

    friend bool operator==(const TSlotBox&, const TSlotBox&) = default;
};

/// A box as drawn, in dots from the top-left corner of the drawn label; W and H not negative.
struct TScreenBox
{
    int X = 0;
    int Y = 0;
    int W = 0;
    int H = 0;

    friend bool operator==(const TScreenBox&, const TScreenBox&) = default;
};

TSlotBox SlotBox(const TDigiLabelDoc& Doc, int FormatIndex, int SlotIndex);
/// 0, 90, 180 or 270 from the rotation byte (an unknown code counts as 0).
int SlotRotation(const TDigiLabelDoc& Doc, int FormatIndex, int SlotIndex);

/// Where the band starts: HeightDots − 80 when the label is higher than 80 dots, else the height.
int BandLine(int HeightDots);
bool InBand(int HeightDots, int Y);
TScreenBox ToScreenBox(int HeightDots, int X, int Y, int W, int H);

} // namespace Plumeria
