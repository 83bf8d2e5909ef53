#include "browser/ombrix_cef_handler_win.h"

#include "util/util_win.h"

namespace ombrix {
namespace {

LaunchPlacement ForState(LaunchState state, const Rect& screen) {
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
      placement.x = screen.left;
      placement.y = screen.top;
      placement.width = screen.width();
      placement.height = screen.height();
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
                                   int launch_height, const Rect& screen) {
  LaunchPlacement placement = ForState(state, screen);
  if (!Placed(placement)) return placement;
  placement.width = launch_width > 0 ? launch_width : kDefaultLaunchWidth;
  placement.height = launch_height > 0 ? launch_height : kDefaultLaunchHeight;
  if (launch_x == -1 || launch_y == -1) {
    const Rect centred = CentreRectOnScreen(screen, placement.width, placement.height);
    placement.x = centred.left;
    placement.y = centred.top;
  } else {
    placement.x = launch_x;
    placement.y = launch_y;
  }
  return placement;
}

LaunchPlacement PlacementAfterError(LaunchState state, const Rect& screen) {
  LaunchPlacement placement = ForState(state, screen);
  if (!Placed(placement)) return placement;
  placement.x = 400;
  placement.y = 300;
  placement.width = 600;
  placement.height = 500;
  return placement;
}

}  // namespace ombrix
