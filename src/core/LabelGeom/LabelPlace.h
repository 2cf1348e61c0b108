#pragma once
// Where a field may go on the drawn label: moving and resizing by a drag, stepping with the arrow
// keys, and a free place for a new field. Every rule works on the box as drawn (the rotation's
// swap applied, a frame's corners in either order) and gives back the box as stored, so what the
// designer previews during a drag is exactly what it then writes.
//
// A field lies either wholly above the band line or wholly in the band (see LabelGeom.h): a place
// across the line is not representable, so a move that would end there goes to one side of it.

#include "core/LabelGeom/LabelGeom.h"

namespace Plumeria {

/// The field's box as drawn, in dots from the top-left corner of the drawn label.
TScreenBox DrawnBox(const TDigiLabelDoc& Doc, int FormatIndex, int SlotIndex, int HeightDots);

/// The stored top (Y) that draws a field `Height` dots high with its top edge at `ScreenTop`
/// dots below the label's top edge. Across the band line the field goes to the side that holds
/// the larger part of it: its lower edge on the line, or its upper edge on it.
int StoredTopFor(int HeightDots, int ScreenTop, int Height);

/// `Box` (a field of `Rotation`) moved by Dx, Dy dots on the screen: the drawn box follows the
/// pointer, never left of or above the label's edge. An unmoved box comes back unchanged.
TSlotBox MovedBox(int HeightDots, const TSlotBox& Box, int Rotation, int Dx, int Dy);

/// `Box` (a field of `Kind` and `Rotation`) after its handle at the drawn lower right corner was
/// dragged by Dx, Dy dots: the drawn left and upper edges stay (above the band the lower edge
/// stops at the band line), the drawn size is at least 1 dot, an EAN keeps its width at twice
/// its height, and a frame keeps the order of its corners. No travel: the box unchanged.
TSlotBox ResizedBox(TDigiFieldKind Kind, int HeightDots, const TSlotBox& Box, int Rotation, int Dx,
                    int Dy);

/// `Box` after an arrow key: Dx or Dy (one of them 0) in dots on the screen. The drawn box
/// always moves the way the arrow points or not at all: at the band line it first comes to rest
/// on the line and crosses it with the next step; it never leaves the label's left or top edge.
TSlotBox SteppedBox(int HeightDots, const TSlotBox& Box, int Rotation, int Dx, int Dy);

/// Writes a box from MovedBox, ResizedBox or SteppedBox to the field: a frame gets both corners
/// as given, any other field its position and (when its size changed) its size.
void PutBox(TDigiLabelDoc& Doc, int FormatIndex, int SlotIndex, const TSlotBox& Box);

/// Puts a new field on the label (PlaceDefault) at (X, Y), or where it covers no other field:
/// from there in steps of 1 mm down the drawn label, then column by column to the right, within
/// a label of WidthDots × HeightDots. Frames cover nothing (they are not filled) and a new frame
/// stays at (X, Y); so does a field for which the label has no free place.
void PlaceFree(TDigiLabelDoc& Doc, int FormatIndex, int SlotIndex, int WidthDots, int HeightDots,
               int X, int Y);

} // namespace Plumeria
