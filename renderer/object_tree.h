// The `ombrix` object tree: seven sub-objects and their 51 functions, in the
// order in which they are bound.
#pragma once

#include <memory>
#include <vector>

#include "renderer/js_value.h"

namespace ombrix {

struct FamilyBinding {
  const char* object;                  // "gui", "app", ...
  std::vector<const char*> functions;  // in binding order
};

// Families in the order their handlers are created: gui, app, process, tool,
// file, requestfile, fpj.
const std::vector<FamilyBinding>& BindingTable();

// The objects below `ombrix` that make the empty tree, made in this order
// (the order a page enumerates them in).
const std::vector<const char*>& TreeObjects();

// A new handler of the family named by object, for the page with page_id.
std::shared_ptr<FunHandler> CreateFamilyHandler(const char* object, std::uint64_t page_id);

}  // namespace ombrix
