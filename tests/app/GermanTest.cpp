// The window in German: every name on both pages translated, access keys of
// their own on each page, no text cut at the smallest size or on a 1280x720
// screen, and the engine's messages in German too.
#include <QCheckBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QRadioButton>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTranslator>
#include <map>

#include "app/Translations.h"
#include "tests/app/WindowTest.h"
#include "ui/EngineText.h"

namespace {

// The German translation and locale, for the life of the object.
class German {
public:
    German()
    {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        EXPECT_TRUE(translator_.load(QLocale(QLocale::German, QLocale::Germany), "zamblok", "_",
                                     ZAMBLOK_TRANSLATIONS_DIR));
        QCoreApplication::installTranslator(&translator_);
    }
    ~German()
    {
        QCoreApplication::removeTranslator(&translator_);
        QLocale::setDefault(before_);
    }

private:
    QLocale before_;
    QTranslator translator_;
};

class GermanWindow : public WindowTest {
protected:
    // The names a user reads on a page, in the order the page makes them:
    // its tab, buttons, boxes, labels, groups and column captions.
    QStringList Names(int page)
    {
        auto* tabs = Find<QTabWidget>("PageControl1");
        QWidget* view = tabs->widget(page);
        QStringList names{tabs->tabText(page)};
        for (QAbstractButton* b : view->findChildren<QAbstractButton*>())
            names << b->text();
        for (QLabel* l : view->findChildren<QLabel*>())
            if (l->objectName().isEmpty())  // the status lines are the runs', not names
                names << l->text();
        for (QGroupBox* g : view->findChildren<QGroupBox*>())
            names << g->title();
        if (auto* header = view->findChild<QHeaderView*>("mytherdercontrol"))
            for (int k = 0; k < header->count(); ++k)
                names << header->model()->headerData(k, Qt::Horizontal).toString();
        names.removeAll(QString());
        return names;
    }
    // The texts of the page shown that are narrower than they need.
    QStringList Cut()
    {
        QStringList cut;
        QWidget* page = Find<QTabWidget>("PageControl1")->currentWidget();
        for (QWidget* w : page->findChildren<QWidget*>()) {
            const auto* label = qobject_cast<QLabel*>(w);
            const auto* button = qobject_cast<QAbstractButton*>(w);
            const QString text = button ? button->text() : label && !label->wordWrap() ? label->text() : QString();
            if (!text.isEmpty() && w->isVisibleTo(page) && w->width() < w->sizeHint().width())
                cut << text;
            if (auto* g = qobject_cast<QGroupBox*>(w);
                g && g->isVisibleTo(page) && g->width() < g->fontMetrics().horizontalAdvance(g->title()) + 16)
                cut << g->title();
        }
        return cut;
    }
};

TEST_F(GermanWindow, BothPagesSpeakGermanWithKeysOfTheirOwnAndNothingCut)
{
    Open();
    const QStringList english[] = {Names(0), Names(1)};
    form->close();
    const German german;
    Open();
    auto* tabs = Find<QTabWidget>("PageControl1");
    for (int page : {0, 1}) {
        const QStringList names = Names(page);
        ASSERT_EQ(names.size(), english[page].size()) << page;
        QStringList same;
        for (qsizetype k = 0; k < names.size(); ++k)
            if (QString(names[k]).remove('&') == QString(english[page][k]).remove('&'))
                same << names[k];
        // "ZIP", "Kb", code page names and the like may stay.
        EXPECT_LE(same.size(), 5) << page << ": " << same.join(" | ").toStdString();

        // Every access key once on the page.
        std::map<QChar, QString> keys;
        for (QWidget* w : tabs->widget(page)->findChildren<QWidget*>()) {
            const auto* label = qobject_cast<QLabel*>(w);
            const auto* button = qobject_cast<QAbstractButton*>(w);
            const QString text = button ? button->text() : label && label->buddy() ? label->text() : QString();
            const qsizetype at = text.indexOf('&');
            if (at < 0 || at + 1 >= text.size())
                continue;
            const QChar key = text[at + 1].toLower();
            EXPECT_TRUE(keys.emplace(key, text).second) << text.toStdString() << " and " << keys[key].toStdString();
        }
    }

    // The smallest window fits a 1280x720 screen, and neither there nor at
    // 1280x660 is a text cut.
    for (const QSize size : {QSize(), QSize(1280, 660)}) {
        for (int page : {0, 1}) {
            tabs->setCurrentIndex(page);
            const QSize smallest = form->minimumSizeHint();
            EXPECT_LE(smallest.width(), 1280) << page;
            EXPECT_LE(smallest.height(), 720 - 60) << page;
            form->resize(size.isValid() ? size : smallest);
            QTest::qWait(20);
            EXPECT_TRUE(Cut().isEmpty()) << page << " at " << form->width() << "x" << form->height() << ": "
                                         << Cut().join(" | ").toStdString();
        }
    }
}

// Help comes in German: every page, and the one of each page's Help button.
TEST_F(GermanWindow, HelpIsInGerman)
{
    for (const QString& page : QDir(ZAMBLOK_HELP_DIR).entryList({"*.html"}))
        EXPECT_TRUE(QFileInfo::exists(ZAMBLOK_HELP_DIR "/de/" + page)) << page.toStdString();
    const German german;
    Open();
    for (const auto& [button, page, heading] : {std::tuple{"Sphelp", "/de/61.html", "Die Seite „Mehrfach-ZIP“"},
                                                {"SpeedButton21", "/de/62.html", "Die Seite „Mehrfach-Entpacken“"}}) {
        Click(button);
        auto* browser = form->findChild<QTextBrowser*>("HelpBrowser");
        ASSERT_NE(browser, nullptr);
        EXPECT_TRUE(browser->source().toLocalFile().endsWith(page)) << browser->source().toString().toStdString();
        EXPECT_TRUE(browser->toPlainText().startsWith(heading)) << browser->toPlainText().left(80).toStdString();
    }
}

// A run reports in German, counts with their singular and plural.
TEST_F(GermanWindow, RunsReportInGerman)
{
    testing_support::WriteFile(dir / "src/a.txt", "alpha");
    testing_support::WriteFile(dir / "src/b.txt", "beta");
    const std::string one = Zip("one.zip", "a.txt"), two = Zip("two.zip", "a.txt b.txt");
    testing_support::WriteFile(dir / "bad.zip", testing_support::AssembleZip({{"x.txt", "data", 0, 0, 0x12345678u}}));
    const German german;
    Open();
    Add({one, two, dir / "bad.zip"});
    Run("btnTest");
    QStringList lines;
    auto* report = Find<QListWidget>("ListUnZipReport");
    for (int k = 0; k < report->count(); ++k)
        lines << report->item(k)->text();
    EXPECT_EQ(lines, (QStringList{"one.zip: a.txt: in Ordnung", "one.zip: 1 Eintrag in Ordnung",
                                  "two.zip: a.txt: in Ordnung", "two.zip: b.txt: in Ordnung",
                                  "two.zip: 2 Einträge in Ordnung",
                                  "bad.zip: x.txt: falsche CRC adf3f363 (gespeichert 12345678)",
                                  "bad.zip: 1 von 1 Eintrag fehlgeschlagen"}));
    EXPECT_EQ(Find<QLabel>("LabelUnZipStatus")->text(), "4 Einträge getestet: 3 in Ordnung, 1 fehlgeschlagen.");
}

// The program installs the translation of the user's language over the
// English plurals; a language without a translation keeps English.
TEST(Translations, FollowTheLocaleAndFallBackToEnglish)
{
    const QList<QTranslator*> before = qApp->findChildren<QTranslator*>();
    const auto texts = [] {
        return QCoreApplication::translate("UnZipPage", "Never") + " | " +
               QCoreApplication::translate("ZipPageController", "%n file(s)", nullptr, 1) + " | " +
               QCoreApplication::translate("ZipPageController", "%n file(s)", nullptr, 2);
    };
    for (const auto& [locale, expected] : {std::pair{QLocale(QLocale::German, QLocale::Austria),
                                                     "Nie überschreiben | 1 Datei | 2 Dateien"},
                                           {QLocale(QLocale::French), "Never | 1 file | 2 files"},
                                           {QLocale::c(), "Never | 1 file | 2 files"}}) {
        InstallTranslations(locale, ZAMBLOK_TRANSLATIONS_DIR);
        EXPECT_EQ(texts(), expected) << locale.name().toStdString();
        for (QTranslator* t : qApp->findChildren<QTranslator*>())
            if (!before.contains(t)) {
                QCoreApplication::removeTranslator(t);
                delete t;
            }
    }
}

// The engine's messages reach the window in English; it shows them in the
// user's language, with the names and numbers in them kept.
TEST(EngineText, ShowsTheEngineMessagesInTheUsersLanguage)
{
    const struct {
        std::string english;
        QString german;
    } cases[] = {
        {"User Aborted Operation", "Vorgang vom Benutzer abgebrochen"},
        {"Cannot open file /tmp/a b.zip", "Die Datei /tmp/a b.zip kann nicht geöffnet werden"},
        {"Cannot create file /x/%2.txt: Permission denied",
         "Die Datei /x/%2.txt kann nicht angelegt werden: Permission denied"},
        {"Cannot create /x/y.z01: a file of that name exists",
         "/x/y.z01 kann nicht angelegt werden: eine Datei dieses Namens ist vorhanden"},
        {"the data is shorter than its recorded size (3 of 10 bytes)",
         "die Daten sind kürzer als ihre vermerkte Größe (3 von 10 Bytes)"},
        {"the compressed data is broken (bzip2)", "die komprimierten Daten sind beschädigt (bzip2)"},
        {"kept the existing file a.txt", "vorhandene Datei a.txt behalten"},
        {"/a/x.zip: cannot write b.txt: No space left on device",
         "/a/x.zip: b.txt kann nicht geschrieben werden: No space left on device"},
        {"not found", "nicht gefunden"},
        {"a message of no one's", "a message of no one's"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ui::EngineText(c.english), QString::fromStdString(c.english)) << c.english;
    const German german;
    for (const auto& c : cases)
        EXPECT_EQ(ui::EngineText(c.english), c.german) << c.english;
}

}  // namespace
