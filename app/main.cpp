// zamblok: the desktop program. Archives named on the command line (or by
// "Open with" of a file manager) are added to the "Multiple UnZIP" page;
// with --zip, files and folders are added to the "Multiple ZIP" page.
// --extract-here, --extract-subfolders and --zip-each (a file manager's
// actions on selected files) run at once in a small window of their own.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QLocale>
#include <QMessageBox>
#include <QStandardPaths>

#include "app/DesktopActionWindow.h"
#include "app/Translations.h"
#include "app/UnitMain.h"
#include "platform/Files.h"
#include "ui/EngineText.h"

namespace {

// settings.ini beside the executable when that folder is writable, else in
// the user's configuration folder.
QString SettingsPath()
{
    const QString beside = QCoreApplication::applicationDirPath();
    if (QFileInfo(beside).isWritable())
        return beside + "/settings.ini";
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/zamblok";
    QDir().mkpath(folder);
    return folder + "/settings.ini";
}

// The lock "onlyforZamblok", held for the life of the process; whether
// another instance holds it too is not examined.
void HoldLock()
{
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty())
        folder = QDir::tempPath();
    const int fd = ::open((folder + "/onlyforZamblok").toLocal8Bit().constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::flock(fd, LOCK_SH | LOCK_NB);
}

// An error that no handler caught is shown, never the end of the program.
class TApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override
    {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            QMessageBox::critical(activeWindow(), "Zamblok", ui::EngineText(e.what()));
        }
        return false;
    }
};

}  // namespace

int main(int argc, char** argv)
{
    platform::KeepSecretsOutOfCoreDumps();
    TApplication app(argc, argv);
    QApplication::setApplicationName("Zamblok");
    QApplication::setApplicationDisplayName("Zamblok");
    QApplication::setDesktopFileName("io.github.zamblok.Zamblok");
    QApplication::setWindowIcon(QIcon::fromTheme("io.github.zamblok.Zamblok", QIcon(":/zamblok.svg")));
    // In the user's language (LANGUAGE, LC_ALL, LC_MESSAGES, LANG) where a
    // translation ships in translations/ beside the executable.
    InstallTranslations(QLocale(), QCoreApplication::applicationDirPath() + "/translations");
    HoldLock();

    QStringList names = QApplication::arguments().mid(1);
    if (const auto action = DesktopActionWindow::ActionOf(names.value(0))) {
        DesktopActionWindow window(*action, names.mid(1), SettingsPath());
        window.show();
        window.Start();
        return QApplication::exec();
    }

    TFormMain window(SettingsPath(), QCoreApplication::applicationDirPath() + "/help");
    window.show();
    // "zamblok --zip FILE..." starts on the "Multiple ZIP" page with those
    // items; other names are archives for the "Multiple UnZIP" page.
    if (!names.isEmpty() && names.front() == "--zip")
        window.AddItems(names.mid(1));
    else if (!names.isEmpty())
        window.AddArchives(names);
    return QApplication::exec();
}
