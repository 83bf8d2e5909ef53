#include "renderer/page_print.h"

#include <QJsonDocument>
#include <QJsonObject>

#include "print/print_rules.h"
#include "renderer/jsc_bridge.h"
#include "renderer/page_messages.h"

namespace ombrix {
namespace {

// A sub-frame's document as it stands, for printing on its own.
const char kFrameDocument[] = R"((function() {
  var doctype = document.doctype ? new XMLSerializer().serializeToString(document.doctype) : '';
  var root = document.documentElement;
  return JSON.stringify({html: doctype + (root ? root.outerHTML : ''),
                         base: document.baseURI, title: document.title});
})())";

// A receipt is a few kilobytes; a document past this is not sent.
constexpr int kMaxDocumentBytes = 16 * 1024 * 1024;

}  // namespace

PagePrint& PagePrint::Get() {
  static PagePrint print;
  return print;
}

void PagePrint::Install(std::uint64_t page_id, bool main_frame, JSGlobalContextRef context,
                        ContextToken token) {
  JSObjectRef print = MakeNativeFunction(
      context, [this, page_id, main_frame, token](JSContextRef call_context, size_t,
                                                  const JSValueRef[], JSValueRef*) {
        Ask(page_id, main_frame, call_context, token);
        return JSValueMakeUndefined(call_context);
      });
  NameFunction(context, print, QStringLiteral("print"));
  SetProperty(context, JSContextGetGlobalObject(context), "print", print);
}

void PagePrint::Ask(std::uint64_t page_id, bool main_frame, JSContextRef context,
                    ContextToken token) {
  QString html;
  QString base;
  QString title;
  if (main_frame) {
    title = EvaluateString(context, "document.title");
  } else {
    const QJsonObject document =
        QJsonDocument::fromJson(EvaluateString(context, kFrameDocument).toUtf8()).object();
    html = document.value(QStringLiteral("html")).toString();
    base = document.value(QStringLiteral("base")).toString();
    title = document.value(QStringLiteral("title")).toString();
    if (html.isEmpty() || html.size() > kMaxDocumentBytes) {
      Evaluate(context,
               PrintResultScript(0, QStringLiteral("failed"), QStringLiteral("render-failed")));
      return;
    }
  }
  const int ask = ++next_ask_;
  asks_[ask] = token;
  const ProcessMessage message{
      QString::fromLatin1(kPrintMessage),
      {MessageArg::Int(ask), MessageArg::Bool(main_frame), MessageArg::String(html),
       MessageArg::String(base), MessageArg::String(title)}};
  if (!SendToBrowser(page_id, message)) asks_.erase(ask);
}

void PagePrint::OnContextReleased(ContextToken token) {
  for (auto it = asks_.begin(); it != asks_.end();)
    it = it->second == token ? asks_.erase(it) : std::next(it);
}

void PagePrint::OnResult(const ProcessMessage& message,
                         const std::function<JSGlobalContextRef(ContextToken)>& context_of) {
  const auto ask = asks_.find(message.IntArg(0));
  if (ask == asks_.end()) return;
  const QString state = message.StringArg(2);
  JSGlobalContextRef context = context_of(ask->second);
  if (IsFinalOutcome(state) || !context) asks_.erase(ask);
  if (context) Evaluate(context, PrintResultScript(message.IntArg(1), state, message.StringArg(3)));
}

}  // namespace ombrix
