// Pictures of the window's pages for the README: written by scripts/screenshots,
// which sets ZAMBLOK_SCREENSHOTS to the folder that receives them.
#include <gtest/gtest.h>

#include <QDir>
#include <QTabWidget>
#include <QTest>

#include "app/UnitAddWildcard.h"
#include "app/UnitMain.h"
#include "app/Unitselectbyfilter.h"
#include "platform/Hooks.h"
#include "tests/TestSupport.h"

TEST(Screenshots, OfEachPage)
{
    const QString folder = qEnvironmentVariable("ZAMBLOK_SCREENSHOTS");
    if (folder.isEmpty())
        GTEST_SKIP() << "ZAMBLOK_SCREENSHOTS names no folder";
    testing_support::TempDir dir;
    std::string out;
    ASSERT_EQ(testing_support::Run("cd '" + dir.Path() +
                                       "' && mkdir -p reports/2024 && for q in 1 2 3 4; do seq 1 $((q * 900)) > "
                                       "reports/2024/q$q.csv; done && echo notes > reports/summary.txt && "
                                       "zip -qr reports.zip reports && zip -q summary.zip reports/summary.txt",
                                   &out),
              0)
        << out;
    testing_support::WriteFile(dir / "settings.ini",
                               "[Common]\nWildcard Total=3\nWildcard0=*.csv\nWildcard1=*.txt\nWildcard2=*.*\n");
    const QString settings = QString::fromStdString(dir / "settings.ini");
    TFormMain form(settings, QString());
    form.show();
    form.AddItems({QString::fromStdString(dir / "reports/2024"), QString::fromStdString(dir / "reports/summary.txt")});
    form.AddArchives({QString::fromStdString(dir / "reports.zip"), QString::fromStdString(dir / "summary.zip")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form.Running(); }, 60000));
    auto* pages = form.findChild<QTabWidget*>("PageControl1");
    const char* const names[] = {"multiple-zip.png", "multiple-unzip.png"};
    for (int page = 0; page < 2; ++page) {
        pages->setCurrentIndex(page);
        ASSERT_TRUE(form.grab().save(QDir(folder).filePath(names[page])));
    }
    TFormselectbyfilter select(settings, [](int) {}, &form);
    select.SelectFolder(QString::fromStdString(dir / "reports"));
    select.show();
    ASSERT_TRUE(select.grab().save(QDir(folder).filePath("select-by-wildcard.png")));
    TFormWildcard edit(settings, [](int) {}, &form);
    edit.show();
    ASSERT_TRUE(edit.grab().save(QDir(folder).filePath("edit-wildcard.png")));
    form.close();
    platform::InstalledHooks() = {};
}
