// The `ombrix.fpj` family: the ticket dispenser on a serial port.
#pragma once

#include <cstdint>

#include "renderer/js_value.h"

namespace ombrix {

class FpjFunHandler : public FunHandler {
 public:
  explicit FpjFunHandler(std::uint64_t page_id) : page_id_(page_id) {}
  bool Execute(const QString& name, const JsArgs& arguments, JsReturn* retval,
               QString* exception) override;

 private:
  std::uint64_t page_id_;
};

}  // namespace ombrix
