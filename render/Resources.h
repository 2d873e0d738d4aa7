#pragma once

// The artwork compiled into the program, one PNG per bitmap or icon resource, named by its
// resource number. The images are drawn by tools/artwork (qd7-artwork) and committed in res/.
inline constexpr int kIconResourceId = 128;
inline constexpr int kDecorationResourceId = 130;
inline constexpr int kPanelResourceId = 135;
inline constexpr int kGlyphSheetResourceId = 137;
inline constexpr int kLampSheetResourceId = 138;

inline constexpr const char* kIconResource = ":/res/128_icon.png";
inline constexpr const char* kDecorationResource = ":/res/130_decoration.png";
inline constexpr const char* kPanelResource = ":/res/135_panel.png";
inline constexpr const char* kGlyphSheetResource = ":/res/137_glyphs.png";
inline constexpr const char* kLampSheetResource = ":/res/138_lamps.png";
