#pragma once

#include <string>

#include "quillo/ui/Color.hpp"

namespace quillo {

enum class ColorMode { none, palette256, truecolor };

// 24-bit colour where the terminal says it has it, the 256-colour palette otherwise,
// and no colour at all under NO_COLOR or when the output is not a terminal.
ColorMode colorModeFor(const char* noColor, const char* colorTerm, bool outputIsTerminal);

// The nearest colour of the xterm palette's 6×6×6 cube and grey ramp (16 to 255).
int xterm256(const Color& color);

std::string foreground(const Color& color, ColorMode mode);
std::string background(const Color& color, ColorMode mode);
inline constexpr const char* resetAttributes = "\x1b[0m";

}  // namespace quillo
