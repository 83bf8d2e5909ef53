// Silent printing on a print server of the test's own (cupsd with a cups-pdf
// queue): no dialog, the manifest's paper, a hidden frame's receipt alone,
// the job's outcome as the page's "printresult" event, and bad values that
// fail clearly instead of flooding the printer.
#include <QDir>
#include <QDirIterator>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <cstdlib>
#include <string>

#include "fixture.h"

namespace e2e {
namespace {

// Every printresult of the main page's document, saved as they come; report
// once the job has ended.
const char kMainPrints[] = R"(
  document.body.insertAdjacentHTML('afterbegin',
      '<p>First paragraph of the receipt</p><p>Second paragraph of it</p>');
  const states = [];
  document.addEventListener('printresult', function(e) {
    states.push(e.detail);
    save({states: states}, 'states.json');
    if (e.detail.state != 'stopped') report({states: states});
  });
  window.print();
)";

class PrintTest : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    // Its own folder: the filters run as lp, which the shell's folder keeps out.
    cups_dir_ = cups_tmp_.path();
    const std::string script = OMBRIX_TEST_SOURCE_DIR "/tests/support/cups-sandbox";
    cupsd_ = std::make_unique<Background>(
        std::vector<std::string>{script, "serve", cups_dir_.toStdString()},
        std::vector<std::string>{}, "");
    setenv("CUPS_SERVER", (cups_dir_ + "/cups.sock").toUtf8().constData(), 1);
    ASSERT_EQ(e2e::Run(script + " queue " + cups_dir_.toStdString() + " Q && echo ok"), "ok\n");
    // cups-pdf writes into the job owner's ~/PDF; this test's files start so.
    title_ = QString("ombrixprint%1").arg(getpid());
  }

  void StartApp(Shell& shell, const QByteArray& script, const QJsonObject& print) {
    QJsonObject manifest = PageManifest("Shop");
    if (!print.isEmpty()) manifest["print"] = print;
    shell.WriteManifest(manifest);
    shell.WriteFile("web/index.html",
                    TestPage(script, "<title>" + title_.toUtf8() + "main</title>"));
    shell.Start();
  }

  // The PDF cups-pdf made of the job titled title_ + suffix ("" while none).
  QString Pdf(const QString& suffix) const {
    QDirIterator files(QDir::homePath() + "/PDF", {title_ + suffix + "*.pdf"}, QDir::Files);
    return files.hasNext() ? files.next() : QString();
  }

  int Jobs() const { return std::stoi("0" + e2e::Run("lpstat -W all -o | wc -l")); }

  void TearDown() override {
    for (const char* suffix : {"main", "receipt"}) {
      while (!Pdf(suffix).isEmpty()) QFile::remove(Pdf(suffix));
    }
    ShellTest::TearDown();
    cupsd_.reset();
    unsetenv("CUPS_SERVER");
  }

  QTemporaryDir cups_tmp_;
  QString cups_dir_;
  QString title_;
  std::unique_ptr<Background> cupsd_;
};

TEST_F(PrintTest, PrintsThePageAndAHiddenReceiptOnTheirPaperWithoutADialog) {
  // The page prints itself, then a receipt laid out in a hidden frame.
  const QByteArray script = R"(
    document.body.insertAdjacentHTML('afterbegin',
        '<p>First paragraph of the receipt</p><p>Second paragraph of it</p>');
    const heard = {};
    document.addEventListener('printresult', function(e) {
      heard.main = e.detail;
      const frame = document.createElement('iframe');
      frame.style.display = 'none';
      document.body.appendChild(frame);
      const doc = frame.contentDocument;
      doc.open();
      doc.write('<!DOCTYPE html><title>TITLEreceipt</title><p>Receipt 42 paid</p>');
      doc.close();
      doc.addEventListener('printresult', function(e) {
        heard.receipt = e.detail;
        report(heard);
      });
      frame.contentWindow.print();
    });
    window.print();
  )";
  StartApp(*shell_, QByteArray(script).replace("TITLE", title_.toUtf8()),
           {{"silent", true}, {"printer", "Q"}, {"paper", "80x200mm"}});
  const QJsonObject heard = shell_->WaitForResults(milliseconds(60000));
  const QJsonObject main = heard["main"].toObject();
  EXPECT_EQ(main["state"].toString(), "completed") << QJsonDocument(heard).toJson().data();
  EXPECT_GT(main["job"].toInt(), 0);
  EXPECT_EQ(heard["receipt"].toObject()["state"].toString(), "completed");
  EXPECT_EQ(heard["receipt"].toObject()["job"].toInt(), main["job"].toInt() + 1);

  ASSERT_TRUE(WaitFor([&] { return !Pdf("main").isEmpty() && !Pdf("receipt").isEmpty(); },
                      milliseconds(10000)));
  const std::string page = e2e::Run("pdftotext '" + Pdf("main").toStdString() + "' -");
  EXPECT_NE(page.find("First paragraph of the receipt"), std::string::npos) << page;
  EXPECT_NE(page.find("Second paragraph of it"), std::string::npos) << page;
  const std::string info = e2e::Run("pdfinfo '" + Pdf("main").toStdString() + "'");
  // 80 x 200 mm is 226.8 x 566.9 pt.
  EXPECT_NE(info.find("Pages:           1"), std::string::npos) << info;
  EXPECT_NE(info.find("Page size:       226 x 566 pts"), std::string::npos) << info;
  const std::string receipt = e2e::Run("pdftotext '" + Pdf("receipt").toStdString() + "' -");
  EXPECT_NE(receipt.find("Receipt 42 paid"), std::string::npos) << receipt;
  EXPECT_EQ(receipt.find("First paragraph"), std::string::npos) << receipt;
  EXPECT_EQ(shell_->FindWindow("Print", true), 0u);  // no dialog came up
}

TEST_F(PrintTest, AStoppedQueueIsReportedAndTheJobCompletesOnceItGoesOn) {
  e2e::Run("cupsdisable Q");
  StartApp(*shell_, kMainPrints, {{"silent", true}, {"printer", "Q"}});
  const QString states = shell_->dir() + "/states.json";
  ASSERT_TRUE(WaitFor([&] { return QFile::exists(states); }, milliseconds(30000)))
      << shell_->Output();
  QFile file(states);
  file.open(QIODevice::ReadOnly);
  const QJsonObject stopped =
      QJsonDocument::fromJson(file.readAll()).object()["states"].toArray()[0].toObject();
  EXPECT_EQ(stopped["state"].toString(), "stopped");
  EXPECT_EQ(stopped["reason"].toString(), "paused");
  EXPECT_GT(stopped["job"].toInt(), 0);

  e2e::Run("cupsenable Q");
  const QJsonArray all = shell_->WaitForResults(milliseconds(60000))["states"].toArray();
  ASSERT_EQ(all.size(), 2);
  EXPECT_EQ(all[1].toObject()["state"].toString(), "completed");
  EXPECT_EQ(all[1].toObject()["job"].toInt(), stopped["job"].toInt());
}

TEST_F(PrintTest, WrongValuesAndAPrintLoopFailClearlyAndMakeOneJobAtMost) {
  // 100 print() calls in a row give one job; the others fail at once.
  StartApp(*shell_, R"(
    const states = {};
    let heard = 0;
    document.addEventListener('printresult', function(e) {
      const key = e.detail.state + ' ' + e.detail.reason;
      states[key] = (states[key] || 0) + 1;
      if (++heard == 100) report(states);
    });
    for (let i = 0; i < 100; ++i) window.print();
  )",
           {{"silent", true}, {"printer", "Q"}});
  const QJsonObject states = shell_->WaitForResults(milliseconds(60000));
  EXPECT_EQ(states["completed "].toInt(), 1) << QJsonDocument(states).toJson().data();
  EXPECT_EQ(states["failed busy"].toInt(), 99);
  EXPECT_EQ(Jobs(), 1);

  // A queue that is not there, and a paper that is no size.
  struct Wrong {
    QJsonObject print;
    const char* reason;
  };
  for (const Wrong& wrong :
       {Wrong{{{"silent", true}, {"printer", "NoSuchQueue"}}, "no-such-printer"},
        Wrong{{{"silent", true}, {"paper", "0x0mm"}}, "bad-paper"},
        Wrong{{{"silent", true}, {"copies", 10000}}, "bad-copies"},
        Wrong{{{"silent", true}, {"printer", "a/b c"}}, "bad-printer-name"}}) {
    Shell shell(*x_);
    StartApp(shell, kMainPrints, wrong.print);
    const QJsonArray heard = shell.WaitForResults(milliseconds(30000))["states"].toArray();
    ASSERT_EQ(heard.size(), 1) << wrong.reason;
    EXPECT_EQ(heard[0].toObject()["state"].toString(), "failed");
    EXPECT_EQ(heard[0].toObject()["reason"].toString(), wrong.reason) << shell.Output();
  }
  EXPECT_EQ(Jobs(), 1);

  // Without "silent" the engine's dialog comes, as in any browser, and no job.
  Shell plain(*x_);
  StartApp(plain, kMainPrints, {});
  EXPECT_NE(plain.WaitForWindow("Print", milliseconds(20000)), 0u) << plain.Output();
  EXPECT_EQ(Jobs(), 1);
}

}  // namespace
}  // namespace e2e
