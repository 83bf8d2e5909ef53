// Page queries as a page author uses them: cefQuery moves, sizes, minimises,
// maximises, hides and restores the window, and opens the desktop's file
// chooser, which the test answers the way a user would.
#include <QFile>
#include <QJsonArray>
#include <sstream>

#include "fixture.h"

namespace e2e {
namespace {

// q(request, persistent) resolves with {ok: response} or {code, message};
// stateEvent(name) resolves with the next "windowstate.<name>" event.
const QByteArray kQueryHelpers = R"(<script>
const e = 'the page\'s own';  // no event may need or change it
function q(request, persistent) {
  return new Promise(resolve => cefQuery({request: request, persistent: !!persistent,
      onSuccess: r => resolve({ok: r}),
      onFailure: (code, message) => resolve({code: code, message: message})}));
}
// Resolves once the window is shown and the window manager has placed it.
function windowReady() { return Promise.all([stateEvent('show'), stateEvent('normal')]); }
function stateEvent(name) {
  return new Promise(resolve => window.addEventListener('windowstate', function seen(e) {
    if (e.detail.state !== 'windowstate.' + name) return;
    window.removeEventListener('windowstate', seen);
    resolve();
  }));
}
</script>)";

class QueryTest : public ShellTest {
 protected:
  void StartPage(const QByteArray& script, const QString& title = "Query") {
    shell_->WriteFile("web/index.html", TestPage(script, kQueryHelpers));
    shell_->WriteManifest(PageManifest(
        title,
        {{"launch_x", 100}, {"launch_y", 100}, {"launch_width", 600}, {"launch_height", 400}}));
    shell_->Start();
  }

  std::string Dir() const { return shell_->dir().toStdString(); }

  // Waits until the chooser window is unmapped or destroyed. Asked of that
  // one window: a search by title can come back empty while some other
  // window is being destroyed.
  bool Gone(unsigned long dialog) const {
    return WaitFor([&] { return !shell_->GetGeometry(dialog).viewable; }, milliseconds(5000));
  }

  // Answers the chooser titled title as a user does: the location entry
  // (Ctrl+L), the path typed, Enter. On a busy machine the entry may miss the
  // first characters or take Enter for its own completion, so the path is
  // typed again over the entry's text (Ctrl+A) until the chooser goes.
  ::testing::AssertionResult Choose(const std::string& title, const std::string& path) const {
    const unsigned long dialog = shell_->WaitForWindow(title);
    if (!dialog) return ::testing::AssertionFailure() << "no chooser " << title;
    // xdotool's "type" takes every word after it as text: Return goes apart.
    return Answer(dialog, title,
                  {"key ctrl+l key ctrl+a type --delay 20 '" + path + "'", "key Return"});
  }

  ::testing::AssertionResult Cancel(const std::string& title) const {
    const unsigned long dialog = shell_->WaitForWindow(title);
    if (!dialog) return ::testing::AssertionFailure() << "no chooser " << title;
    return Answer(dialog, title, {"key Escape"});
  }

  // Sends keys to the chooser until it goes; never to a chooser already hidden,
  // whose keys would reach the page instead.
  ::testing::AssertionResult Answer(unsigned long dialog, const std::string& title,
                                    const std::vector<std::string>& keys) const {
    const std::string id = std::to_string(dialog);
    for (int i = 0; i < 5 && shell_->GetGeometry(dialog).viewable; ++i) {
      x_->X("xdotool windowactivate --sync " + id + " " + keys[0]);
      for (size_t k = 1; k < keys.size(); ++k) x_->X("xdotool " + keys[k]);
      if (Gone(dialog)) return ::testing::AssertionSuccess();
    }
    if (!shell_->GetGeometry(dialog).viewable) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "chooser " << title << " stayed open";
  }

  ::testing::AssertionResult At(unsigned long window, int x, int y, int width, int height) const {
    Geometry g;
    if (WaitFor(
            [&] {
              g = shell_->GetGeometry(window);
              return g.viewable && g.x == x && g.y == y && g.width == width && g.height == height;
            },
            milliseconds(10000))) {
      return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "window at " << g.x << "," << g.y << " " << g.width
                                         << "x" << g.height << (g.viewable ? "" : " unmapped");
  }

  static QJsonObject Ok(const QString& response = "") { return {{"ok", response}}; }
  static QJsonObject Canceled() {
    return {{"code", -1}, {"message", "The query has been canceled"}};
  }
};

// With a tint2 panel, so the work area is not the whole screen.
class PanelQueryTest : public QueryTest {
 protected:
  bool WithPanel() const override { return true; }
};

TEST_F(PanelQueryTest, WindowCommandsPlaceMinimiseMaximiseHideAndRestore) {
  StartPage(R"(
    const shown = windowReady();
    (async () => {
      await shown;
      const r = {};
      r.place = await q('WindowTest.Position:10, 20, 50, 50');
      r.three = await q('WindowTest.Position:1, 2, 3');
      r.lower = await q('Window.hide');
      r.unknown = await q('Window.Close');
      let next = stateEvent('min');
      r.min = await q('Window.Minimize');
      await next;
      next = stateEvent('normal');
      r.minAgain = await q('Window.Minimize');
      await next;
      next = stateEvent('max');
      r.max = await q('Window.Maximize');
      await next;
      next = stateEvent('normal');
      r.maxAgain = await q('Window.Maximize');
      await next;
      next = stateEvent('hide');
      r.hide = await q('Window.Hide');
      await next;
      next = stateEvent('show');
      r.restore = await q('Window.Restore');
      await next;
      r.flash = await q('Window.FlashWin');
      // The resize lock refuses the user's maximise, not the page's own.
      ombrix.gui.disableResize(true);
      next = stateEvent('max');
      r.lockedMax = await q('Window.Maximize');
      await next;
      next = stateEvent('normal');
      ombrix.gui.maxwin();
      await next;
      next = stateEvent('max');
      ombrix.gui.maxwin();
      await next;
      r.e = e;
      save(r);
      // Restored once the test has seen it maximised.
      const go = ombrix.app.apppath() + '/restore-now';
      await new Promise(resolve => { const t = setInterval(() => {
        if (ombrix.file.exist(go)) { clearInterval(t); resolve(); } }, 50); });
      next = stateEvent('normal');
      await q('Window.Restore');
      await next;
      save({restored: true}, 'restored.json');
    })();
  )");
  const unsigned long window = shell_->WaitForWindow("Query");
  ASSERT_NE(window, 0u);
  const std::vector<int> area = x_->WorkArea();
  ASSERT_GT(area[1] + (1024 - area[3]), 0);  // the panel keeps a strip
  const QJsonObject r = shell_->WaitForResults();
  for (const char* name : {"place", "three", "min", "minAgain", "max", "maxAgain", "hide",
                           "restore", "flash", "lockedMax"}) {
    EXPECT_EQ(r[name].toObject(), Ok()) << name;
  }
  EXPECT_EQ(r["lower"].toObject(), Canceled());
  EXPECT_EQ(r["unknown"].toObject(), Canceled());
  EXPECT_EQ(r["e"].toString(), "the page's own");  // every state event came all the same
  // Maximised by the page while locked, and it stays so.
  EXPECT_TRUE(At(window, area[0], area[1], area[2], area[3]));
  EXPECT_EQ(shell_->Output().find("maximise refused"), std::string::npos);
  shell_->WriteFile("restore-now", "");
  EXPECT_TRUE(shell_->WaitForResults(milliseconds(30000), "restored.json")["restored"].toBool());
  // 10, 20 from the work area's corner, at least 100 x 100; the three-number
  // request changed nothing, and every toggle came back to it.
  EXPECT_TRUE(At(window, area[0] + 10, area[1] + 20, 100, 100));
}

TEST_F(QueryTest, ChooserAnswersWithThePathsAndEmptyWhenCancelled) {
  shell_->WriteFile("pick.txt", "x");
  StartPage(R"(
    (async () => {
      const dir = ombrix.app.apppath();
      const r = {};
      r.open = await q('DialogTest.FileOpen');
      r.save = await q('DialogTest.FileSave:filepath=' + dir + '/out.txt|filter=*.txt');
      r.folder = await q('DialogTest.FileOpenFolder');
      report(r);
    })();
  )");
  ASSERT_TRUE(Choose("My Open Dialog", Dir() + "/pick.txt"));
  ASSERT_TRUE(Cancel("File Save"));
  ASSERT_TRUE(Choose("My Open Folder Dialog", Dir() + "/web"));
  const QJsonObject r = shell_->WaitForResults();
  EXPECT_EQ(r["open"].toObject(), Ok(shell_->dir() + "/pick.txt"));
  EXPECT_EQ(r["save"].toObject(), Ok());
  EXPECT_EQ(r["folder"].toObject(), Ok(shell_->dir() + "/web/"));
}

TEST_F(QueryTest, DialogOfAPageThatGoesClosesAndTheNextPageGetsItsOwn) {
  shell_->WriteFile("pick.txt", "x");
  shell_->WriteFile("web/next.html", TestPage(R"(
    q('DialogTest.FileOpen').then(answer => report({answer: answer}));
  )",
                                              kQueryHelpers));
  StartPage(R"(
    cefQuery({request: 'DialogTest.FileOpen', persistent: true,
              onSuccess: r => save({answer: r}, 'late.json'),
              onFailure: (code, text) => save({code: code}, 'late.json')});
    const poll = setInterval(() => {
      if (!ombrix.file.exist(ombrix.app.apppath() + '/go')) return;
      clearInterval(poll);
      location.href = 'next.html';
    }, 50);
  )");
  const unsigned long first = shell_->WaitForWindow("My Open Dialog");
  ASSERT_NE(first, 0u);
  shell_->WriteFile("go", "");
  // The query went with its page: the chooser closes unanswered (the next
  // page's chooser is another window) ...
  EXPECT_TRUE(WaitFor([&] { return !shell_->GetGeometry(first).viewable; }, milliseconds(20000)));
  // ... and the next page's chooser opens and answers it.
  ASSERT_TRUE(Choose("My Open Dialog", Dir() + "/pick.txt"));
  const QJsonObject r = shell_->WaitForResults();
  EXPECT_EQ(r["answer"].toObject(), Ok(shell_->dir() + "/pick.txt"));
  EXPECT_FALSE(QFile::exists(shell_->dir() + "/late.json"));
}

TEST_F(QueryTest, FloodsHugeRequestsAndBadNumbersLeaveTheShellAnswering) {
  StartPage(R"(
    const shown = windowReady();
    (async () => {
      await shown;
      const r = {};
      const count = (answers, expected) =>
          answers.filter(a => JSON.stringify(a) === JSON.stringify(expected)).length;
      const unknown = [];
      for (let i = 0; i < 1000; i++) unknown.push(q('Nobody.Takes' + i));
      r.unknown = count(await Promise.all(unknown), {code: -1, message: 'The query has been canceled'});
      r.hugeUnknown = await q('Window.Minimize' + 'x'.repeat(4 << 20));
      r.hugePosition = await q('WindowTest.Position:' + '9'.repeat(4 << 20));
      r.positions = [];
      for (const p of [':99999, 99999, 50, 50', ':-99999,-99999,99999,99999', ':a,b,c,d',
                       ':99999999999,0,300,300', ':1e9,1e9,1e9,1e9', ':0, 0, -5, -5'])
        r.positions.push(await q('WindowTest.Position' + p));
      r.cancelUnknown = [cefQueryCancel(123456), cefQueryCancel(-1)];
      r.frame = await new Promise(resolve => {
        window.addEventListener('message', e => resolve(e.data));
        document.body.insertAdjacentHTML('beforeend', '<iframe srcdoc="<script>' +
            'cefQuery({request: \'Window.hide\', onFailure: c => parent.postMessage(c, \'*\')});' +
            '</' + 'script>"></iframe>');
      });
      const dialogs = [];
      for (let i = 0; i < 1000; i++) dialogs.push(q('DialogTest.FileOpen'));
      r.dialogs = count(await Promise.all(dialogs), {ok: ''});
      report(r);
    })();
  )");
  const unsigned long window = shell_->WaitForWindow("Query");
  ASSERT_NE(window, 0u);
  // One chooser for the thousand requests; the others are answered at once.
  ASSERT_NE(shell_->WaitForWindow("My Open Dialog"), 0u);
  const std::string choosers = x_->X("xdotool search --onlyvisible --name '^My Open Dialog$'");
  EXPECT_EQ(std::count(choosers.begin(), choosers.end(), '\n'), 1) << choosers;
  // The last request that placed anything: 100 x 100 in the corner.
  EXPECT_TRUE(At(window, 0, 0, 100, 100));
  // Still one chooser, however long the others took to be answered.
  const std::string later = x_->X("xdotool search --onlyvisible --name '^My Open Dialog$'");
  EXPECT_EQ(std::count(later.begin(), later.end(), '\n'), 1) << later;
  ASSERT_TRUE(Cancel("My Open Dialog"));
  const QJsonObject r = shell_->WaitForResults(milliseconds(60000));
  EXPECT_EQ(r["unknown"].toInt(), 1000);
  EXPECT_EQ(r["hugeUnknown"].toObject(), Canceled());
  EXPECT_EQ(r["hugePosition"].toObject(), Ok());
  for (const auto& answer : r["positions"].toArray()) EXPECT_EQ(answer.toObject(), Ok());
  EXPECT_EQ(r["cancelUnknown"].toArray(), (QJsonArray{false, false}));
  EXPECT_EQ(r["frame"].toInt(), -1);
  EXPECT_EQ(r["dialogs"].toInt(), 1000);
}

}  // namespace
}  // namespace e2e
