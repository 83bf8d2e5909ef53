// Which pages get `ombrix`: with "trusted_origins" only frames and pop-ups of a
// listed origin have the object and `cefQuery`, an untrusted frame cannot reach
// a trusted parent's object, and the shell drops what a page of an untrusted
// origin sends; without the key every frame has the object, as before.
#include <QFile>

#include "fixture.h"

namespace e2e {
namespace {

// Tells the opener (pop-up) or parent (iframe) what this document has.
const QByteArray kTell = R"(<script>
function tell(who, extra) {
  const seen = Object.assign({who: who, ombrix: typeof ombrix, query: typeof cefQuery}, extra);
  (opener || parent).postMessage(JSON.stringify(seen), '*');
}
</script>)";

class TrustedOriginsTest : public ShellTest {
 protected:
  // The main page (a file) holds an iframe from the loopback server and opens a
  // pop-up on a file page, which then goes to the server; each reports what
  // it has, and the iframe tries to write a file through its parent's object.
  void StartFamily(const QJsonArray* trusted) {
    const QByteArray forged = (shell_->dir() + "/forged.txt").toUtf8();
    server_ = std::make_unique<PageServer>(std::map<std::string, QByteArray>{
        {"/frame.html", kTell +
                            "<script>let reach = 'reached';\n"
                            "try { parent.ombrix.file.write('" +
                            forged +
                            "', 'forged', function() {}); }\n"
                            "catch (e) { reach = e.name; }\n"
                            // An untrusted frame trying to end the kiosk.
                            "if (typeof ombrix === 'undefined') top.close();\n"
                            "tell('frame', {reach: reach});</script>"},
        {"/pop.html", kTell + "<script>tell('popup');</script>"}});
    const QByteArray server = "http://127.0.0.1:" + QByteArray::number(server_->port());
    shell_->WriteFile("web/pop.html", kTell +
                                          "<script>tell('trusted popup');\n"
                                          "location.href = '" +
                                          server + "/pop.html';</script>");
    shell_->WriteFile("web/sandboxed.html", kTell + "<script>tell('sandboxed');</script>");
    shell_->WriteFile("web/index.html", TestPage(R"(
const seen = {top: {ombrix: typeof ombrix, query: typeof cefQuery}};
window.addEventListener('message', e => {
  const m = JSON.parse(e.data);
  seen[m.who] = m;
  if (seen.frame && seen.popup && seen['trusted popup'] && seen.sandboxed) report(seen);
});
const frame = document.createElement('iframe');
frame.src = ')" + server + R"(/frame.html';
document.body.appendChild(frame);
// A listed address, but a sandboxed document has an opaque origin of its own.
const sandboxed = document.createElement('iframe');
sandboxed.sandbox = 'allow-scripts';
sandboxed.src = 'sandboxed.html';
document.body.appendChild(sandboxed);
window.open('pop.html', 'pop', 'width=300,height=200');
)"));
    QJsonObject manifest = PageManifest("Trust");
    if (trusted) manifest.insert("trusted_origins", *trusted);
    shell_->WriteManifest(manifest);
    shell_->Start();
  }

  std::unique_ptr<PageServer> server_;
};

TEST_F(TrustedOriginsTest, OnlyListedOriginsGetTheObject) {
  const QJsonArray trusted{"file://", "client://"};
  StartFamily(&trusted);
  const QJsonObject seen = shell_->WaitForResults();
  ASSERT_FALSE(seen.isEmpty());
  EXPECT_EQ(seen["top"].toObject()["ombrix"].toString(), "object");
  EXPECT_EQ(seen["top"].toObject()["query"].toString(), "function");
  EXPECT_EQ(seen["trusted popup"].toObject()["ombrix"].toString(), "object");
  for (const char* who : {"frame", "popup", "sandboxed"}) {
    EXPECT_EQ(seen[who].toObject()["ombrix"].toString(), "undefined") << who;
    EXPECT_EQ(seen[who].toObject()["query"].toString(), "undefined") << who;
  }
  // The iframe cannot reach its trusted parent's object either.
  EXPECT_EQ(seen["frame"].toObject()["reach"].toString(), "SecurityError");
  EXPECT_FALSE(QFile::exists(shell_->dir() + "/forged.txt"));
  EXPECT_NE(shell_->Output().find("trusted_origins: file://, client://"), std::string::npos);
  EXPECT_EQ(shell_->Output().find("warning:"), std::string::npos);
  EXPECT_EQ(shell_->Wait(), 0);  // the trusted page's exitapp is acted on
  // The untrusted frame's top.close() did not end the kiosk: the report did.
  EXPECT_EQ(shell_->Output().find("m_Close"), std::string::npos);
}

TEST_F(TrustedOriginsTest, WithoutTheListEveryFrameAndPopupHasTheObject) {
  StartFamily(nullptr);
  const QJsonObject seen = shell_->WaitForResults();
  ASSERT_FALSE(seen.isEmpty());
  for (const char* who : {"top", "frame", "trusted popup", "popup", "sandboxed"}) {
    EXPECT_EQ(seen[who].toObject()["ombrix"].toString(), "object") << who;
    EXPECT_EQ(seen[who].toObject()["query"].toString(), "function") << who;
  }
  EXPECT_EQ(shell_->Output().find("warning:"), std::string::npos);  // the first page is a file
}

// A trusted iframe inside a page of an untrusted origin has the object, but the
// shell acts on nothing the page sends: window requests, queries, exitapp.
TEST_F(TrustedOriginsTest, ShellDropsWhatAnUntrustedPageSends) {
  PageServer server({{"/top.html",
                      "<iframe src=\"\"></iframe><script>document.querySelector('iframe').src ="
                      " 'http://127.0.0.1:' + location.port + '/inner.html';</script>"},
                     {"/inner.html", TestPage(R"(
function done(query) {
  ombrix.gui.resizeTo(300, 200);
  report({ombrix: typeof ombrix, query: query});
}
cefQuery({request: 'Window.Maximize', onSuccess: r => done({ok: r}),
          onFailure: (code, message) => done({code: code, message: message})});
)")}});
  const QString port = QString::number(server.port());
  QJsonObject manifest{{"first_page", "http://localhost:" + port + "/top.html"},
                       {"application_title", "Untrusted"},
                       {"trusted_origins", QJsonArray{"http://127.0.0.1:" + port}},
                       {"window", QJsonObject{{"launch_width", 600}, {"launch_height", 400}}}};
  shell_->WriteManifest(manifest);
  shell_->Start();

  const QJsonObject seen = shell_->WaitForResults();
  ASSERT_FALSE(seen.isEmpty());
  EXPECT_EQ(seen["ombrix"].toString(), "object");
  EXPECT_EQ(seen["query"].toObject()["code"].toInt(), -1);
  EXPECT_EQ(seen["query"].toObject()["message"].toString(), "The query has been canceled");
  ASSERT_TRUE(
      WaitFor([&] { return shell_->Output().find("dropped message exitapp") != std::string::npos; },
              milliseconds(20000)));
  EXPECT_TRUE(shell_->Running());
  EXPECT_NE(shell_->Output().find("dropped message cefQuery"), std::string::npos);
  EXPECT_NE(shell_->Output().find("dropped message resizeTo"), std::string::npos);
  const Geometry window = shell_->GetGeometry(shell_->WaitForWindow("Untrusted"));
  EXPECT_EQ(window.width, 600);
  EXPECT_EQ(window.height, 400);
  EXPECT_NE(shell_->Output().find("is not of a trusted origin: it gets no ombrix"),
            std::string::npos);
}

// A chooser a trusted page opened closes when the page leaves for one of an
// untrusted origin, which could neither answer nor cancel it.
TEST_F(TrustedOriginsTest, ChooserOfAPageThatLeavesForAnUntrustedOneCloses) {
  PageServer server(std::map<std::string, QByteArray>{{"/away.html", "<p>away</p>"}});
  shell_->WriteFile("web/index.html", TestPage(R"(
cefQuery({request: 'DialogTest.FileOpen', onSuccess: r => {}, onFailure: () => {}});
const poll = setInterval(() => {
  if (!ombrix.file.exist(ombrix.app.apppath() + '/go')) return;
  clearInterval(poll);
  location.href = 'http://127.0.0.1:)" + QByteArray::number(server.port()) +
                                               R"(/away.html';
}, 50);
)"));
  QJsonObject manifest = PageManifest("Leaves");
  manifest.insert("trusted_origins", QJsonArray{"file://"});
  shell_->WriteManifest(manifest);
  shell_->Start();
  const unsigned long chooser = shell_->WaitForWindow("My Open Dialog");
  ASSERT_NE(chooser, 0u);
  shell_->WriteFile("go", "");
  EXPECT_TRUE(WaitFor([&] { return !shell_->GetGeometry(chooser).viewable; }, milliseconds(20000)));
  EXPECT_TRUE(shell_->Running());
}

// A file page that is not trusted cannot read the object of a trusted page it
// frames: file pages reach every origin only when every local page is trusted.
TEST_F(TrustedOriginsTest, UntrustedFilePageCannotReachATrustedFramesObject) {
  PageServer server(std::map<std::string, QByteArray>{
      {"/app.html", TestPage("if (top === self) report({reach: location.hash.slice(1)});")}});
  const QByteArray app = "http://127.0.0.1:" + QByteArray::number(server.port());
  shell_->WriteFile("web/index.html", "<iframe src=\"" + app +
                                          "/app.html\"></iframe><script>\n"
                                          "document.querySelector('iframe').onload = function() {\n"
                                          "  let reach;\n"
                                          "  try { reach = typeof this.contentWindow.ombrix; }\n"
                                          "  catch (e) { reach = e.name; }\n"
                                          "  location.href = '" +
                                          app + "/app.html#' + reach;\n};</script>");
  QJsonObject manifest = PageManifest("Local");
  manifest.insert("trusted_origins", QJsonArray{QString::fromUtf8(app)});
  shell_->WriteManifest(manifest);
  shell_->Start();
  EXPECT_EQ(shell_->WaitForResults()["reach"].toString(), "SecurityError");
}

// A frame from another port of the same host cannot become a trusted page's
// peer by both setting document.domain: the trusted page's setting does nothing.
TEST_F(TrustedOriginsTest, DocumentDomainJoinsNoUntrustedFrameToATrustedPage) {
  PageServer ads(std::map<std::string, QByteArray>{
      {"/ad.html",
       "<script>let reach;\n"
       "try { document.domain = 'localhost'; reach = typeof parent.ombrix; }\n"
       "catch (e) { reach = e.name; }\n"
       "parent.postMessage(reach, '*');</script>"}});
  PageServer app(std::map<std::string, QByteArray>{{"/app.html", TestPage(R"(
try { document.domain = 'localhost'; } catch (e) {}
window.addEventListener('message', e => report({reach: e.data}));
const frame = document.createElement('iframe');
frame.src = 'http://localhost:)" + QByteArray::number(ads.port()) +
                                                                          R"(/ad.html';
document.body.appendChild(frame);
)")}});
  const QString origin = "http://localhost:" + QString::number(app.port());
  shell_->WriteManifest(QJsonObject{{"first_page", origin + "/app.html"},
                                    {"application_title", "Domain"},
                                    {"trusted_origins", QJsonArray{origin}}});
  shell_->Start();
  EXPECT_EQ(shell_->WaitForResults()["reach"].toString(), "SecurityError");
}

}  // namespace
}  // namespace e2e
