#pragma once
// How the shared images are made: a picture is reduced to 20 x 20 by area averaging with
// premultiplied alpha; a symbol is drawn white on black and then tinted, its brightness becoming
// the coverage. Kept apart from the list so each step can be checked on its own.

#include <QImage>
#include <QRgb>
#include <QString>

namespace Plumeria {

/// `Source` as 32-bit red, green, blue and straight alpha (alpha 255 where it has no alpha).
QImage ToStraightArgb(const QImage& Source);

/// Reduces `Source` to `Side` x `Side` by averaging each block of source pixels: the colours are
/// weighted by alpha, the result is premultiplied. A block whose alpha sums to zero (or that
/// holds no pixel, for an empty source) gives a fully transparent pixel.
QImage ReducePicture(const QImage& Source, int Side = 20);

/// Tints a white-on-black drawing: coverage c = the largest of red, green and blue; the result
/// has alpha c and the colour's components scaled by c / 255 (premultiplied), rounding down.
QImage TintGlyph(const QImage& Drawing, QRgb Colour);

/// A `Side` x `Side` drawing of the symbol `CodePoint`, white on black, antialiased, its 16-pixel
/// cell at (2, 1). Black throughout for a code point without a drawing.
QImage DrawGlyph(char16_t CodePoint, int Side = 20);

/// The embedded picture `Name` (ADD, DELETE, ... SCALES); a null image when it is not embedded.
QImage LoadPicture(const QString& Name);

} // namespace Plumeria
