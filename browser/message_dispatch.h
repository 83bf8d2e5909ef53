// Messages between the page side and the shell: a name plus int, bool and string
// arguments. The shell carries out the page's window and tray requests here.
#pragma once

#include <webkit2/webkit2.h>

#include <QString>
#include <vector>

#include "util/process_message.h"
#include "util/util_win.h"

class OmbrixCefHandler;

namespace ombrix {

// The tray icon's record; the window keeps one.
struct TrayRecord {
  bool shown = false;
  QString icon_path;
  QString menu_text;
  QString tooltip;
  void* status_icon = nullptr;  // the toolkit's icon while shown
};

ProcessMessage DecodeUserMessage(WebKitUserMessage* message);

// A "setInTitleBar" string "left,top,width,height" as a rectangle with inclusive
// right and bottom edges; missing or non-numeric parts count as 0.
Rect ParseCaptionRegion(const QString& text);

// Carries out a page request; false for a name that is not a window request.
bool DispatchProcessMessage(OmbrixCefHandler& handler, const ProcessMessage& message);

void ShowTray(OmbrixCefHandler& handler, const QString& icon, const QString& menu_text,
              const QString& tooltip);
void HideTray(OmbrixCefHandler& handler);
void ModifyTrayIcon(OmbrixCefHandler& handler, const QString& icon);

}  // namespace ombrix
