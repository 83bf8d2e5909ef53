// The installed package as a vendor uses it: the .deb unpacked into a scratch
// root, an app folder holding only a link to the unpacked shell (named after the
// app), its manifest and its pages. Started through the link from another
// folder, the shell takes the link's folder as the app's and loads its page
// side from beside the real shell.
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "fixture.h"

namespace e2e {
namespace {

class InstalledShellTest : public ShellTest {
 protected:
  bool CopiesBuiltShell() const override { return false; }

  // Unpacks the package into root_ (dpkg -x) and returns false when it can't.
  bool Unpack() {
    const QStringList debs = QDir(OMBRIX_TEST_DEB_DIR).entryList({"ombrix_*.deb"});
    if (debs.size() != 1) return false;
    const QString deb = QStringLiteral(OMBRIX_TEST_DEB_DIR "/") + debs.first();
    e2e::Run("dpkg -x '" + deb.toStdString() + "' '" + root_.path().toStdString() + "'");
    return QFile::exists(root_.path() + "/usr/lib/ombrix/ombrix");
  }

  // The scratch root's library folder (libfastipc), which the loader does not
  // search as it searches /usr/lib/<arch> of an installed package.
  std::string LibraryPath() const {
    const QStringList found = QDir(root_.path() + "/usr/lib").entryList({"*-linux-*"}, QDir::Dirs);
    return found.isEmpty() ? std::string()
                           : (root_.path() + "/usr/lib/" + found.first()).toStdString();
  }

  QTemporaryDir root_;
};

TEST_F(InstalledShellTest, LinkNamedAfterTheAppOpensItsFirstPage) {
  ASSERT_TRUE(Unpack()) << "no package in " OMBRIX_TEST_DEB_DIR;
  const QString app = shell_->dir();
  ASSERT_TRUE(QFile::link(root_.path() + "/usr/lib/ombrix/ombrix", app + "/shop"));
  shell_->WriteManifest(PageManifest("Shop"), "shop.json");
  shell_->WriteFile("web/index.html", TestPage(R"(
    const r = {href: location.href, name: ombrix.app.getappname(), path: ombrix.app.apppath()};
    ombrix.file.write('relative.txt', 'here', function(ok) { r.relative = ok; report(r); });
  )"));

  shell_->StartProgram(app + "/shop", {}, "/", {"LD_LIBRARY_PATH=" + LibraryPath()});
  const QJsonObject r = shell_->WaitForResults();
  ASSERT_FALSE(r.isEmpty()) << "the app's first page did not report";
  EXPECT_EQ(r["href"].toString().toStdString(),
            ("file://" + app + "/web/index.html").toStdString());
  EXPECT_EQ(r["name"].toString().toStdString(), "shop");
  EXPECT_EQ(r["path"].toString().toStdString(), app.toStdString());
  EXPECT_TRUE(r["relative"].toBool());
  EXPECT_TRUE(QFile::exists(app + "/relative.txt"));  // the app's folder is the working one
  EXPECT_EQ(shell_->Wait(), 0);
}

}  // namespace
}  // namespace e2e
