// TFormMain: the main window with its two pages, "Multiple ZIP" and
// "Multiple UnZIP", the settings file, help and the about box. Each page is a
// controller that owns its state, rules and runs (ZipPageController,
// UnZipPageController) and the widgets that show it (ZipPage, UnZipPage).
#pragma once

#include <QElapsedTimer>
#include <QMenu>
#include <QTabWidget>
#include <QWidget>
#include <vector>

#include "app/UnZipPage.h"
#include "app/UnZipPageController.h"
#include "app/ZipPage.h"
#include "app/ZipPageController.h"

class THelpWindow;
class TIniFile;

class TFormMain : public QWidget {
    Q_OBJECT
public:
    // settingsPath: the settings file, read now and written at close;
    // helpFolder: where the help pages lie.
    TFormMain(const QString& settingsPath, const QString& helpFolder, QWidget* parent = nullptr);
    ~TFormMain() override;

    // Adds archives to the "Multiple UnZIP" page and shows it, as if they
    // had been chosen in its file dialog.
    void AddArchives(const QStringList& files);
    // Adds items to the "Multiple ZIP" page and shows it: files as they are,
    // folders as the wildcard item folder/*.
    void AddItems(const QStringList& paths);

    ZipPageController& ZipController() { return zip_; }
    UnZipPageController& UnZipController() { return unzip_; }
    ZipPage* ZipView() const { return zipPage_; }
    UnZipPage* UnZipView() const { return unzipPage_; }

    void LoadSettings();
    void SaveSettings();
    void ShowHelp(int context);
    // A run of either page is under way.
    bool Running() const { return zip_.Running() || unzip_.Running(); }

    // A run that took at least this long and ends while the window is not
    // active is told to the desktop through Notify, with its summary.
    int notifyAfterMs = 10000;
    // A desktop notification (freedesktop, over D-Bus); tests replace it.
    std::function<void(const QString& text)> Notify;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Adds the menu, help and exit buttons to a page's toolbar.
    void AddMenuHelpExit(QBoxLayout* toolbar, const QString& menuName, const QString& helpName,
                         const QString& exitName, int helpContext);
    // Starts timing when a run begins while none is under way.
    void RunChanged();
    // Tells the desktop of a long run's end (status: its summary), and closes
    // the window once the runs have ended, when a close waits for them.
    void RunEnded(const QString& status);
    // The window's size and place, the splitters of both pages and the
    // columns of the entry list, in the settings file.
    void RestoreLayout(const TIniFile& ini);
    void SaveLayout(TIniFile& ini) const;
    void Pm_AboutClick();
    void PM_VisitsWebsiteClick();

    QString settingsPath_;
    QString helpFolder_;
    THelpWindow* help_ = nullptr;
    bool closePending_ = false;
    QElapsedTimer runTime_;  // since the runs under way began
    // A splitter or column header whose state is kept in the settings. The
    // state read is applied once the part is first shown at its real size,
    // and saved as read while it is still pending (a page never opened).
    struct LayoutPart {
        const char* key;
        QWidget* widget;
        QByteArray pending;
    };
    std::vector<LayoutPart> layoutParts_;

    ZipPageController zip_;
    UnZipPageController unzip_;
    QTabWidget* PageControl1;
    QMenu* PM_Options;
    ZipPage* zipPage_;
    UnZipPage* unzipPage_;
};
