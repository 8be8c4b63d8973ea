// Pictures of the window's pages for the README: written by scripts/screenshots,
// which sets ZAMBLOK_SCREENSHOTS to the folder that receives them. Under a
// German locale (LANG=de_DE.UTF-8) the pictures are of the German window,
// named with "-de".
#include <gtest/gtest.h>

#include <QDir>
#include <QTabWidget>
#include <QTest>
#include <QTranslator>

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
    QTranslator german;
    const bool inGerman = QLocale().language() == QLocale::German;
    if (inGerman) {
        ASSERT_TRUE(german.load(QLocale(), "zamblok", "_", ZAMBLOK_TRANSLATIONS_DIR));
        QCoreApplication::installTranslator(&german);
    }
    const QString suffix = inGerman ? "-de.png" : ".png";
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
    const char* const names[] = {"multiple-zip", "multiple-unzip"};
    for (int page = 0; page < 2; ++page) {
        pages->setCurrentIndex(page);
        ASSERT_TRUE(form.grab().save(QDir(folder).filePath(names[page] + suffix)));
    }
    // Both pages at the window's smallest size, to see that no text is cut.
    const QSize size = form.size();
    for (int page = 0; page < 2; ++page) {
        pages->setCurrentIndex(page);
        form.resize(form.minimumSizeHint());
        QTest::qWait(20);
        ASSERT_TRUE(form.grab().save(QDir(folder).filePath(names[page] + QString("-smallest") + suffix)));
    }
    form.resize(size);
    TFormselectbyfilter select(settings, [](int) {}, &form);
    select.SelectFolder(QString::fromStdString(dir / "reports"));
    select.show();
    ASSERT_TRUE(select.grab().save(QDir(folder).filePath("select-by-wildcard" + suffix)));
    TFormWildcard edit(settings, [](int) {}, &form);
    edit.show();
    ASSERT_TRUE(edit.grab().save(QDir(folder).filePath("edit-wildcard" + suffix)));
    form.close();
    platform::InstalledHooks() = {};
}
