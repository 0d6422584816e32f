// The zoom of the results pages: a level from 0.5 to 3.0 times, changed a
// step at a time.
#pragma once

namespace quillmere::app {

inline constexpr double kMinZoom = 0.5;
inline constexpr double kMaxZoom = 3.0;
inline constexpr double kDefaultZoom = 1.0;

// The level one step larger (`direction` > 0) or smaller (< 0) than `level`,
// within the bounds; the default level when `direction` is 0. A level between
// two steps, as another program may have stored it, goes to the next step.
double StepZoom(double level, int direction);

}  // namespace quillmere::app
