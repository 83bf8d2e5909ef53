// Test fixture: a private display and a shell copy per test; a screenshot and
// the shell's output are kept when a test fails.
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <memory>

#include "harness.h"

namespace e2e {

class ShellTest : public ::testing::Test {
 protected:
  virtual bool WithPanel() const { return false; }
  // false: the shell's folder starts empty, for a shell installed elsewhere.
  virtual bool CopiesBuiltShell() const { return true; }

  void SetUp() override {
    x_ = std::make_unique<XServer>(WithPanel());
    shell_ = std::make_unique<Shell>(*x_, CopiesBuiltShell());
  }

  void TearDown() override {
    if (HasFailure()) {
      const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
      const QString dir = QStringLiteral(OMBRIX_TEST_ARTIFACTS);
      QDir().mkpath(dir);
      const std::string name = std::string(info->test_suite_name()) + "." + info->name();
      x_->Screenshot((dir + "/").toStdString() + name + ".png");
      std::printf("---- shell output (%s) ----\n%s\n----\n", name.c_str(),
                  shell_->Output().c_str());
    }
    shell_.reset();
    x_.reset();
  }

  // A manifest whose first page is web/index.html in the shell's folder.
  QJsonObject PageManifest(const QString& title, QJsonObject window = {}) const {
    QJsonObject manifest{{"first_page", "file://${AppDir}/web/index.html"},
                         {"application_title", title}};
    if (!window.isEmpty()) manifest.insert("window", window);
    return manifest;
  }

  // A page whose body runs script after the reporting helpers are defined:
  // report(r) writes r to results.json and ends the shell; save(r, name) only writes.
  static QByteArray TestPage(const QByteArray& script, const QByteArray& head = "") {
    return "<!DOCTYPE html><html><head><meta charset=\"utf-8\">" + head +
           "<script>\n"
           "function save(r, name, then) {\n"
           "  ombrix.file.write(ombrix.app.apppath() + '/' + (name || 'results.json'),\n"
           "                    JSON.stringify(r), then || function() {});\n"
           "}\n"
           "function report(r) { save(r, 'results.json', function() { ombrix.app.exitapp(); }); }\n"
           "</script></head><body><script>\n" +
           script + "\n</script></body></html>";
  }

  std::unique_ptr<XServer> x_;
  std::unique_ptr<Shell> shell_;
};

}  // namespace e2e
