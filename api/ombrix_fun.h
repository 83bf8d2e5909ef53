// The `ombrix.gui` family: the page's requests for its own window, sent to the
// shell as messages. Every function yields undefined.
#pragma once

#include <QStringList>
#include <cstdint>

#include "renderer/js_value.h"
#include "util/process_message.h"

namespace ombrix {

class OmbrixFunHandler : public FunHandler {
 public:
  explicit OmbrixFunHandler(std::uint64_t page_id) : page_id_(page_id) {}
  bool Execute(const QString& name, const JsArgs& arguments, JsReturn* retval,
               QString* exception) override;

  // The message a gui call sends; an empty name for an unknown function.
  static ProcessMessage BuildMessage(const QString& name, const JsArgs& arguments);

 private:
  std::uint64_t page_id_;
};

// "left,top,width,height" of one caption rectangle.
QString CaptionRegionText(int left, int top, int width, int height);

}  // namespace ombrix
