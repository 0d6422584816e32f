// Sizes of the two window classes, in twips.
#pragma once

namespace quillmere::app {

// Client area of the main window: 592 x 196 pixels. It is not resizable.
inline constexpr float kMainClientWidth = 8880.0f;
inline constexpr float kMainClientHeight = 2940.0f;
// What the main window's layout takes off the window's size for its view.
inline constexpr float kMainWidthMargin = 30.0f;
inline constexpr float kMainHeightMargin = 0.0f;

// Client area of a results window: 701 x 480 pixels, resizable.
inline constexpr float kResultsClientWidth = 10515.0f;
inline constexpr float kResultsClientHeight = 7200.0f;
inline constexpr float kResultsWidthMargin = 80.0f;
inline constexpr float kResultsHeightMargin = 320.0f;

}  // namespace quillmere::app
