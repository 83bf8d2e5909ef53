#include "renderer/object_tree.h"

#include <cstring>

#include "api/app_fun.h"
#include "api/cmd_fun.h"
#include "api/download_file.h"
#include "api/file_fun.h"
#include "api/fpj_fun.h"
#include "api/ombrix_fun.h"
#include "api/tool_fun.h"

namespace ombrix {

const std::vector<FamilyBinding>& BindingTable() {
  static const std::vector<FamilyBinding> table = {
      {"gui", {"setInTitleBar", "resizeTo", "movecenter", "disableResize", "maxwin"}},
      {"app",
       {"exitapp", "runapp", "killapp", "getappname", "hidetray", "showtray", "modifytrayicon",
        "IsWindowVisible", "runparam", "apppath", "createclient", "createserver", "sendipcmsg",
        "closeserver"}},
      {"process", {"runcmd", "execmd", "runcmdwaitex"}},
      {"tool",
       {"md5file", "getsetupapp", "findsetupapp", "getregval", "setregval", "removeregval",
        "setclip"}},
      {"file", {"copy", "delete", "exist", "OpenDirAndPosFile", "write"}},
      {"requestfile", {"download", "abort"}},
      {"fpj",
       {"open", "close", "reset", "sellbill", "exitbill", "setholenum", "queryversion",
        "getportstatus", "querysensorstatus", "setrange", "setbillnum", "querybillnum",
        "getlastcode", "cuttertest", "getappversion"}},
  };
  return table;
}

const std::vector<const char*>& TreeObjects() {
  static const std::vector<const char*> objects = {"app",         "process", "gui", "tool",
                                                   "requestfile", "fpj",     "file"};
  return objects;
}

std::shared_ptr<FunHandler> CreateFamilyHandler(const char* object, std::uint64_t page_id) {
  if (!std::strcmp(object, "gui")) return std::make_shared<OmbrixFunHandler>(page_id);
  if (!std::strcmp(object, "app")) return std::make_shared<AppFunHandler>(page_id);
  if (!std::strcmp(object, "process")) return std::make_shared<CmdFunHandler>();
  if (!std::strcmp(object, "tool")) return std::make_shared<ToolFunHandler>(page_id);
  if (!std::strcmp(object, "file")) return std::make_shared<FileFunHandler>();
  if (!std::strcmp(object, "requestfile")) return std::make_shared<DownloadFileHanlder>();
  if (!std::strcmp(object, "fpj")) return std::make_shared<FpjFunHandler>(page_id);
  return nullptr;
}

}  // namespace ombrix
