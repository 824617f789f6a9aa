// The names under which the database knows a font: its XLFD name stem,
// built from the name table and the style bits.
#pragma once

#include <string>
#include <string_view>

class TrueTypeFont;

// The first six XLFD fields of a good font with a trailing dash, for example
// "-ttf-times new roman-bold-i-normal-bold italic-", all in lower case.
// foundry is "ttf" or the name of the subdirectory the font was found in.
std::string makeXlfdName(const TrueTypeFont& font, std::string_view foundry);
