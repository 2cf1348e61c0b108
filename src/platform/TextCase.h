#pragma once
// Upper-casing for file-name masks: with the locale's rules, Cyrillic included, one character for
// one character (so a mask and a name keep their lengths).

#include <string>

namespace Plumeria {

/// Upper-cases every character of `Text` in place (Unicode code points). Windows: CharUpperBuffW.
/// Linux: a built-in table of the Unicode simple upper-case mappings, so the result never depends
/// on which locales a machine has installed.
void UpperCaseText(std::u32string& Text);

} // namespace Plumeria
