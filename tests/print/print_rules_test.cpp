#include "print/print_rules.h"

#include <gtest/gtest.h>

namespace ombrix {
namespace {

bool Makes(const QJsonValue& printer, const QJsonValue& paper, const QJsonValue& margins,
           const QJsonValue& copies, QString* reason) {
  PrintOptions options;
  QString error;
  reason->clear();
  return MakePrintOptions(printer, paper, margins, copies, &options, reason, &error);
}

TEST(PrintRules, PaperIsANamedOrMeasuredSizeAndNothingElse) {
  PaperSize paper;
  QString error;
  ASSERT_TRUE(ParsePaper("80x200mm", &paper, &error));
  EXPECT_EQ(paper.media, "Custom.80x200mm");
  EXPECT_DOUBLE_EQ(paper.height_mm, 200);
  ASSERT_TRUE(ParsePaper("57.5x100mm", &paper, &error));
  EXPECT_EQ(paper.media, "Custom.57.5x100mm");
  ASSERT_TRUE(ParsePaper("letter", &paper, &error));
  EXPECT_EQ(paper.media, "Letter");
  for (const char* wrong :
       {"0x0mm", "-5x10mm", "banana", "80x200", "80x0mm", "3000x10mm", "80x200mm; rm -rf", ""}) {
    EXPECT_FALSE(ParsePaper(wrong, &paper, &error)) << wrong;
  }
}

TEST(PrintRules, WrongManifestValuesNameTheirReason) {
  QString reason;
  EXPECT_TRUE(Makes(QJsonValue(), QJsonValue(), QJsonValue(), QJsonValue(), &reason));
  EXPECT_TRUE(Makes("Receipts_1", "A4", 5, 2, &reason));
  EXPECT_FALSE(Makes("a/b", QJsonValue(), QJsonValue(), QJsonValue(), &reason));
  EXPECT_EQ(reason, "bad-printer-name");
  EXPECT_FALSE(Makes(QString(10000, 'x'), QJsonValue(), QJsonValue(), QJsonValue(), &reason));
  EXPECT_FALSE(Makes("two words", QJsonValue(), QJsonValue(), QJsonValue(), &reason));
  for (const QJsonValue& copies :
       {QJsonValue(0), QJsonValue(-1), QJsonValue(10000), QJsonValue(1.5), QJsonValue("2")}) {
    EXPECT_FALSE(Makes(QJsonValue(), QJsonValue(), QJsonValue(), copies, &reason));
    EXPECT_EQ(reason, "bad-copies");
  }
  EXPECT_FALSE(Makes(QJsonValue(), "80x200mm", 40, QJsonValue(), &reason));  // no room left
  EXPECT_EQ(reason, "bad-margins");
  EXPECT_FALSE(Makes(QJsonValue(), 80, QJsonValue(), QJsonValue(), &reason));
  EXPECT_EQ(reason, "bad-paper");
}

TEST(PrintRules, TheJobStateThePageHearsAndTheEventScript) {
  EXPECT_EQ(JobOutcome(kJobCompleted, 3), "completed");
  EXPECT_EQ(JobOutcome(kJobPending, 3), "");
  EXPECT_EQ(JobOutcome(kJobPending, kPrinterStopped), "stopped");  // a disabled queue
  EXPECT_EQ(JobOutcome(kJobStopped, 3), "stopped");
  EXPECT_FALSE(IsFinalOutcome("stopped"));
  EXPECT_TRUE(IsFinalOutcome("failed"));
  EXPECT_EQ(PrinterReason({"none"}), "");
  EXPECT_EQ(PrinterReason({"none", "media-empty-error", "offline-report"}), "media-empty");
  // A reason from the print server cannot break out of the event's script.
  EXPECT_EQ(PrintResultScript(7, "stopped", "x'});alert(1);//"),
            "document.dispatchEvent(new CustomEvent('printresult', {detail: "
            "{\"job\":7,\"reason\":\"x'});alert(1);//\",\"state\":\"stopped\"}}));");
}

}  // namespace
}  // namespace ombrix
