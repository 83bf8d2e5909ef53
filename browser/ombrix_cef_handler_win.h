// Where the main window goes when its page has loaded: pure placement rules,
// kept apart from the window so they can be checked without a display.
#pragma once

#include "app/manifest_util.h"
#include "util/util_win.h"

namespace ombrix {

struct LaunchPlacement {
  enum Kind { kNormal, kMaximized, kMinimized, kFullscreen };
  Kind kind = kNormal;
  bool show = true;   // false: placed but left hidden ("hidden" launch state)
  bool move = false;  // x, y, width, height apply (normal and hidden states)
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

// Size used when the manifest gives no (or a non-positive) launch width or height.
constexpr int kDefaultLaunchWidth = 1024;
constexpr int kDefaultLaunchHeight = 768;

// Placement after a successful first load, on the primary monitor's rectangle
// (a given launch position is a position in the whole display, as it stands).
LaunchPlacement PlacementAfterLoad(LaunchState state, int launch_x, int launch_y, int launch_width,
                                   int launch_height, const Rect& screen);

// Placement after a failed first load: normal and hidden go to (400, 300) 600 x 500.
LaunchPlacement PlacementAfterError(LaunchState state, const Rect& screen);

}  // namespace ombrix
