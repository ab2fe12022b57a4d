#pragma once

#include "window/texts.h"

#include <array>
#include <string_view>

namespace tarnis::layout {

// The window's layout, the same for both windows, in twips: 1440 to the inch, so 15 to a pixel at
// 96 dots per inch. Each window turns them into its own pixels for the screen it is on.

inline constexpr int kTwipsPerInch = 1440;

struct Twips {
    int left;
    int top;
    int width;
    int height;
};

enum class Kind { Button, ListBox };

struct Control {
    std::string_view name;
    Kind kind;
    std::string_view caption;
    Twips place;
};

/// The size of the window's client area: what the controls sit in.
inline constexpr int kClientWidth = 3675;
inline constexpr int kClientHeight = 5670;

/// The controls in tab order, which is also the order they are made in. The three buttons form a
/// row along the top; the list fills the area below them. Nothing moves when the window is resized.
inline constexpr std::array<Control, 4> kControls = {{
    {"Command1", Kind::Button, texts::kSelectCaption, {120, 120, 975, 375}},
    {"Command2", Kind::Button, texts::kRunCaption, {1200, 120, 975, 375}},
    {"List1", Kind::ListBox, "", {120, 600, 3375, 4920}},
    {"Command3", Kind::Button, texts::kExitCaption, {2400, 120, 1095, 375}},
}};

/// `twips` in pixels of a screen of `dotsPerInch`, rounded to the nearest pixel.
[[nodiscard]] constexpr int pixels(int twips, int dotsPerInch)
{
    return (twips * dotsPerInch + kTwipsPerInch / 2) / kTwipsPerInch;
}

} // namespace tarnis::layout
