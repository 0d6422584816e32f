#include "app/Zoom.h"

#include <algorithm>
#include <iterator>

namespace quillmere::app {

namespace {

constexpr double kSteps[] = {kMinZoom, 0.67, 0.8, 0.9, kDefaultZoom, 1.1, 1.25, 1.5, 1.75, 2.0, 2.5, kMaxZoom};
// Levels closer than this are the same step.
constexpr double kSame = 0.005;

}  // namespace

double StepZoom(double level, int direction) {
  if (direction == 0) return kDefaultZoom;
  if (direction > 0) {
    const auto next = std::find_if(std::begin(kSteps), std::end(kSteps), [&](double s) { return s > level + kSame; });
    return next == std::end(kSteps) ? kMaxZoom : *next;
  }
  const auto next = std::find_if(std::rbegin(kSteps), std::rend(kSteps), [&](double s) { return s < level - kSame; });
  return next == std::rend(kSteps) ? kMinZoom : *next;
}

}  // namespace quillmere::app
