#include "browser/ombrix_cef_handler_win.h"

#include "util/util_win.h"

namespace ombrix {
namespace {

LaunchPlacement ForState(LaunchState state, int screen_width, int screen_height) {
  LaunchPlacement placement;
  switch (state) {
    case kLaunchMaximized:
      placement.kind = LaunchPlacement::kMaximized;
      break;
    case kLaunchMinimized:
      placement.kind = LaunchPlacement::kMinimized;
      break;
    case kLaunchFullscreen:
      placement.kind = LaunchPlacement::kFullscreen;
      placement.move = true;
      placement.width = screen_width;
      placement.height = screen_height;
      break;
    case kLaunchHidden:
      placement.show = false;
      placement.move = true;
      break;
    case kLaunchNormal:
    default:
      placement.move = true;
      break;
  }
  return placement;
}

bool Placed(const LaunchPlacement& placement) {
  return placement.kind == LaunchPlacement::kNormal && placement.move;
}

}  // namespace

LaunchPlacement PlacementAfterLoad(LaunchState state, int launch_x, int launch_y, int launch_width,
                                   int launch_height, int screen_width, int screen_height) {
  LaunchPlacement placement = ForState(state, screen_width, screen_height);
  if (!Placed(placement)) return placement;
  placement.width = launch_width > 0 ? launch_width : kDefaultLaunchWidth;
  placement.height = launch_height > 0 ? launch_height : kDefaultLaunchHeight;
  if (launch_x == -1 || launch_y == -1) {
    const Rect centred =
        CentreRectOnScreen(screen_width, screen_height, placement.width, placement.height);
    placement.x = centred.left;
    placement.y = centred.top;
  } else {
    placement.x = launch_x;
    placement.y = launch_y;
  }
  return placement;
}

LaunchPlacement PlacementAfterError(LaunchState state, int screen_width, int screen_height) {
  LaunchPlacement placement = ForState(state, screen_width, screen_height);
  if (!Placed(placement)) return placement;
  placement.x = 400;
  placement.y = 300;
  placement.width = 600;
  placement.height = 500;
  return placement;
}

}  // namespace ombrix
