// Every ombrix function, called with no arguments, with each kind of JavaScript
// value and with extra arguments: it answers or throws its family's text, and
// the shell neither crashes nor hangs.
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <sstream>

#include "fixture.h"

namespace e2e {
namespace {

// What a family may throw: every message must begin with this text.
QString ThrowPrefix(const QString& family) {
  if (family == "app" || family == "gui") return QString();  // these never throw
  if (family == "requestfile") return QStringLiteral("下载文件失败，请传入正确的参数");
  return QStringLiteral("错误的参数，参数列表：");
}

const QByteArray kSweep = R"(
  const dir = ombrix.app.apppath() + '/sweep';
  const big = 'x'.repeat(1 << 20);
  const hostile = new Proxy({}, {get() { throw new Error('trap'); }});
  const values = [undefined, null, 0, -1, 3.5, NaN, Infinity, 2147483648, true, '',
                  dir + '/x', 'a\u0000b\uD83D\uDE00', {}, {left: 1, top: 'a'}, [], [1, 'a'],
                  [{left: 'x'}], function() {}, Symbol('s'), big, hostile];
  const outcome = {};
  function call(family, name, args) {
    const key = family + '.' + name;
    const seen = outcome[key] || (outcome[key] = {throws: [], returns: []});
    try {
      const value = ombrix[family][name].apply(null, args);
      const type = typeof value;
      if (seen.returns.indexOf(type) < 0) seen.returns.push(type);
    } catch (e) {
      const text = String(e && e.message);
      if (seen.throws.indexOf(text) < 0) seen.throws.push(text);
    }
  }
  let count = 0;
  for (const family of Object.keys(ombrix)) {
    for (const name of Object.keys(ombrix[family])) {
      if (family === 'app' && name === 'exitapp') continue;  // called last, by report()
      call(family, name, []);
      for (const v of values) {
        for (let n = 1; n <= 4; ++n) call(family, name, new Array(n).fill(v));
      }
      call(family, name, [dir + '/a', dir + '/b', function() {}, function() {}, function() {},
                          'extra', 1, null]);
      call(family, name, [dir + '/c', function() {}, 'extra']);
      // A megabyte in every string argument of a well-formed call: no log line grows with it.
      const f = function() {};
      call(family, name, [big, f, f, f, f, f]);
      call(family, name, [big, big, f, f, f, f]);
      call(family, name, [big, big, big]);
      call(family, name, [big, 1, f]);
      ++count;
    }
  }
  cefQuery({request: 'DialogTest.FileSave:filepath=' + big + '|filter=' + big});
  // Let asynchronous answers arrive, then check the tree is still whole.
  setTimeout(function() {
    report({count: count + 1, outcome: outcome, stillThere: typeof ombrix.file.exist,
            exist: ombrix.file.exist(ombrix.app.apppath())});
  }, 1000);
)";

class SweepTest : public ShellTest {};

TEST_F(SweepTest, EveryFunctionSurvivesEveryKindOfArgument) {
  QDir().mkpath(shell_->dir() + "/sweep");
  shell_->WriteFile("web/index.html", TestPage(kSweep));
  shell_->WriteManifest(PageManifest("Sweep"));
  shell_->Start();
  const QJsonObject r = shell_->WaitForResults(milliseconds(120000));
  ASSERT_FALSE(r.isEmpty()) << "no results: the shell crashed or hung";
  EXPECT_EQ(r["count"].toInt(), 51);
  EXPECT_EQ(r["stillThere"].toString(), "function");
  EXPECT_TRUE(r["exist"].toBool());

  const QJsonObject outcome = r["outcome"].toObject();
  EXPECT_EQ(outcome.size(), 50);  // all but exitapp
  for (auto it = outcome.begin(); it != outcome.end(); ++it) {
    const QString family = it.key().section('.', 0, 0);
    const QString prefix = ThrowPrefix(family);
    for (const auto& text : it.value().toObject()["throws"].toArray()) {
      if (prefix.isEmpty()) {
        ADD_FAILURE() << it.key().toStdString() << " threw " << text.toString().toStdString();
      } else if (!text.toString().startsWith(prefix) && text.toString() != "未定义的函数") {
        ADD_FAILURE() << it.key().toStdString() << " threw " << text.toString().toStdString();
      }
    }
  }
  // The file family's answers are known exactly.
  for (const char* name : {"file.copy", "file.delete", "file.write"}) {
    const QJsonObject seen = outcome[name].toObject();
    EXPECT_EQ(seen["throws"].toArray(),
              QJsonArray{QStringLiteral("错误的参数，参数列表：filepath,callback")})
        << name;
    EXPECT_EQ(seen["returns"].toArray(), QJsonArray{QStringLiteral("number")})
        << name << " " << QJsonDocument(seen).toJson().toStdString();
  }
  EXPECT_TRUE(outcome["file.exist"].toObject()["throws"].toArray().isEmpty());
  // A generous bound: the sanitizer build's shell takes long to end after this
  // many calls, the more so beside another test.
  EXPECT_EQ(shell_->Wait(milliseconds(90000)), 0);
  // Page data is cut in every log line.
  std::istringstream lines(shell_->Output());
  for (std::string line; std::getline(lines, line);) {
    EXPECT_LE(line.size(), 300u) << line.substr(0, 120);
  }
}

}  // namespace
}  // namespace e2e
