#pragma once
// The eight symbols of the shared image list, drawn as vector shapes: gear, pause, play,
// information, check mark, cross, globe and question mark, identified by the code points the
// icon font of the Windows build gives them.

#include <QPainter>

namespace Plumeria {

inline constexpr char16_t SymGear = 0xE713;
inline constexpr char16_t SymPause = 0xE103;
inline constexpr char16_t SymPlay = 0xE102;
inline constexpr char16_t SymInformation = 0xE946;
inline constexpr char16_t SymCheckMark = 0xE8FB;
inline constexpr char16_t SymCross = 0xE711;
inline constexpr char16_t SymGlobe = 0xE909;
inline constexpr char16_t SymQuestion = 0xE897;

/// Draws the symbol in white into the 16 x 16 cell whose top left corner is the painter's
/// origin. Returns false (drawing nothing) for a code point that is not one of the eight.
bool DrawSymbol(QPainter& Painter, char16_t CodePoint);

} // namespace Plumeria
