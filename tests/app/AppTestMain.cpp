// The window tests run on Qt's offscreen platform: no display is needed.
// Its one screen is 1280x720, the smallest the window is made for.
#include <gtest/gtest.h>

#include <QApplication>

#include "app/Translations.h"

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" ZAMBLOK_TEST_SCREEN);
    QApplication app(argc, argv);
    // English, whatever the machine's language: the tests read the texts.
    InstallTranslations(QLocale::c(), ZAMBLOK_TRANSLATIONS_DIR);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
