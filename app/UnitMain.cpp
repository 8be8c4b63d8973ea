#include "app/UnitMain.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QScreen>
#include <QSplitter>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <utility>

#include "app/HelpWindow.h"
#include "app/IniFile.h"
#include "app/myabout.h"
#include "platform/Hooks.h"
#include "ui/Buttons.h"
#include "ui/QtHooks.h"

namespace {

// The program's web page: the address given when it was built, else the
// index of the help pages installed with it.
QUrl Website(const QString& helpFolder)
{
    const QString address = ZAMBLOK_WEBSITE;
    return address.isEmpty() ? QUrl::fromLocalFile(HelpPage(helpFolder, "index.html")) : QUrl(address);
}

// Section of the settings file that keeps the window's size and place, the
// pages' splitters and the entry list's columns.
const char* const LayoutSection = "Window";

// The splitter between a page's lists; the UnZIP page's is found here so
// that its page needs to know nothing of the settings.
QSplitter* PageSplitter(QWidget* page)
{
    return page->findChild<QSplitter*>(QString(), Qt::FindDirectChildrenOnly);
}

QByteArray StateOf(const QWidget* part)
{
    if (const auto* splitter = qobject_cast<const QSplitter*>(part))
        return splitter->saveState();
    return static_cast<const QHeaderView*>(part)->saveState();
}

// A missing or damaged state leaves the part as it is.
void Restore(QWidget* part, const QByteArray& state)
{
    if (auto* splitter = qobject_cast<QSplitter*>(part))
        splitter->restoreState(state);
    else
        static_cast<QHeaderView*>(part)->restoreState(state);
}

}  // namespace

TFormMain::TFormMain(const QString& settingsPath, const QString& helpFolder, QWidget* parent)
    : QWidget(parent), settingsPath_(settingsPath), helpFolder_(helpFolder)
{
    setObjectName("TFormMain");
    setWindowTitle("Zamblok");
    setWindowFlags(Qt::Window | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint);
    Q_INIT_RESOURCE(zamblok);
    setWindowIcon(QIcon::fromTheme("zamblok", QIcon(":/zamblok.svg")));
    resize(882, 643);
    ui::InstallQtHooks(this);

    PM_Options = new QMenu(this);
    PM_Options->setObjectName("PM_Options");
    QAction* visit = PM_Options->addAction(tr("Visits Website..."), this, &TFormMain::PM_VisitsWebsiteClick);
    visit->setObjectName("PM_VisitsWebsite");
    QAction* about = PM_Options->addAction(tr("About..."), this, &TFormMain::Pm_AboutClick);
    about->setObjectName("Pm_About");

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName("PageControl1");
    PageControl1->setStyleSheet("QTabBar::tab { min-width: 130px; }");
    zipPage_ = new ZipPage(zip_, [this](int context) { ShowHelp(context); }, PageControl1);
    zipPage_->setObjectName("TabSheet1");
    AddMenuHelpExit(zipPage_->Toolbar(), "SpMenu", "Sphelp", "SpExit", 61);
    unzipPage_ = new UnZipPage(unzip_, PageControl1);
    unzipPage_->setObjectName("TabSheet3");
    AddMenuHelpExit(unzipPage_->Toolbar(), "RxSpeedButton2", "SpeedButton21", "SpeedButton24", 62);
    PageControl1->addTab(zipPage_, tr("Multiple ZIP"));
    PageControl1->addTab(unzipPage_, tr("Multiple UnZIP"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(PageControl1);

    connect(&zip_, &ZipPageController::ViewArchives, this, [this](const QStringList& archives) {
        PageControl1->setCurrentIndex(1);
        unzip_.SetArchives(archives);
    });
    connect(&zip_, &ZipPageController::Changed, this, &TFormMain::RunChanged);
    connect(&unzip_, &UnZipPageController::Changed, this, &TFormMain::RunChanged);
    connect(&zip_, &ZipPageController::RunEnded, this, [this] { RunEnded(zip_.Status()); });
    connect(&unzip_, &UnZipPageController::RunEnded, this, [this] { RunEnded(unzip_.Status()); });
    Notify = [](const QString& text) {
        QDBusMessage notice = QDBusMessage::createMethodCall("org.freedesktop.Notifications",
                                                             "/org/freedesktop/Notifications",
                                                             "org.freedesktop.Notifications", "Notify");
        notice << "Zamblok" << 0u << "zamblok" << "Zamblok" << text << QStringList() << QVariantMap() << -1;
        QDBusConnection::sessionBus().send(notice);  // no answer waited for
    };

    layoutParts_ = {{"ZipSplitter", PageSplitter(zipPage_), {}},
                    {"UnZipSplitter", PageSplitter(unzipPage_), {}},
                    {"EntryColumns", unzipPage_->findChild<QHeaderView*>("mytherdercontrol"), {}}};
    // A page built without one of them keeps no state for it.
    std::erase_if(layoutParts_, [](const LayoutPart& part) { return !part.widget; });
    for (const LayoutPart& part : layoutParts_)
        part.widget->installEventFilter(this);

    PageControl1->setCurrentIndex(0);
    // Centred, and never more than 3 pixels above the top of the screen,
    // until the settings put it where the user left it.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move((area.width() - width()) / 2, std::max(-3, (area.height() - height()) / 2 - 17));
    }
    LoadSettings();
}

// The pages go before the controllers they show.
TFormMain::~TFormMain()
{
    delete PageControl1;
}

void TFormMain::AddArchives(const QStringList& files)
{
    PageControl1->setCurrentIndex(1);
    unzip_.AddArchives(files);
}

void TFormMain::AddItems(const QStringList& paths)
{
    PageControl1->setCurrentIndex(0);
    zip_.AddItems(paths);
}

void TFormMain::AddMenuHelpExit(QBoxLayout* toolbar, const QString& menuName, const QString& helpName,
                                const QString& exitName, int helpContext)
{
    QToolButton* menu = ui::FlatButton(this, menuName, tr("&Menu"), tr("Menu"), "open-menu", QStyle::SP_FileDialogContentsView);
    connect(menu, &QToolButton::clicked, this,
            [this, menu] { PM_Options->exec(menu->mapToGlobal(QPoint(0, menu->height()))); });
    QToolButton* help = ui::FlatButton(this, helpName, tr("&Help"), tr("Help"), "help-contents", QStyle::SP_MessageBoxQuestion);
    connect(help, &QToolButton::clicked, this, [this, helpContext] { ShowHelp(helpContext); });
    QToolButton* exit = ui::FlatButton(this, exitName, tr("E&xit"), tr("Exit"), "application-exit", QStyle::SP_DialogCloseButton);
    connect(exit, &QToolButton::clicked, this, &QWidget::close);
    toolbar->addWidget(menu);
    toolbar->addWidget(help);
    toolbar->addWidget(exit);
}

// ---- Settings -------------------------------------------------------------------

void TFormMain::LoadSettings()
{
    const TIniFile ini(settingsPath_.toStdString());
    zip_.LoadSettings(ini);
    unzip_.LoadSettings(ini);
    RestoreLayout(ini);
}

void TFormMain::SaveSettings()
{
    TIniFile ini(settingsPath_.toStdString());
    zip_.SaveSettings(ini);
    unzip_.SaveSettings(ini);
    SaveLayout(ini);
    if (!ini.UpdateFile())
        platform::MessageBox(tr("The settings could not be saved to %1").arg(settingsPath_).toStdString(), "Zamblok",
                             platform::mbOK | 0x10);
}

void TFormMain::RestoreLayout(const TIniFile& ini)
{
    const auto read = [&](const char* key) {
        return QByteArray::fromBase64(QByteArray::fromStdString(ini.ReadString(LayoutSection, key, "")));
    };
    restoreGeometry(read("Geometry"));
    for (LayoutPart& part : layoutParts_) {
        part.pending = read(part.key);
        if (part.widget->isVisible())
            Restore(part.widget, std::exchange(part.pending, {}));
    }
}

void TFormMain::SaveLayout(TIniFile& ini) const
{
    const auto write = [&](const char* key, const QByteArray& state) {
        ini.WriteString(LayoutSection, key, state.toBase64().toStdString());
    };
    write("Geometry", saveGeometry());
    for (const LayoutPart& part : layoutParts_)
        write(part.key, part.pending.isEmpty() ? StateOf(part.widget) : part.pending);
}

void TFormMain::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // A size and place kept from a larger screen are fitted, frame and all,
    // to the screen the window opens on, down to the window's smallest size.
    const QScreen* screen = QGuiApplication::screenAt(geometry().center());
    if (!screen)
        screen = this->screen();
    const QRect client = geometry(), frame = frameGeometry();
    const QRect area = screen->availableGeometry().marginsRemoved(
        QMargins(client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
                 frame.bottom() - client.bottom()));
    QRect fitted(client.topLeft(), client.size().boundedTo(area.size()).expandedTo(minimumSizeHint()));
    fitted.moveRight(std::min(fitted.right(), area.right()));
    fitted.moveBottom(std::min(fitted.bottom(), area.bottom()));
    fitted.moveTopLeft(QPoint(std::max(fitted.left(), area.left()), std::max(fitted.top(), area.top())));
    if (fitted != client)
        setGeometry(fitted);
}

bool TFormMain::eventFilter(QObject* watched, QEvent* event)
{
    // Shown, the part has its real size, which its state is measured against.
    if (event->type() == QEvent::Show)
        for (LayoutPart& part : layoutParts_)
            if (part.widget == watched && !part.pending.isEmpty())
                Restore(part.widget, std::exchange(part.pending, {}));
    return QWidget::eventFilter(watched, event);
}

// ---- Help, about ----------------------------------------------------------------

void TFormMain::ShowHelp(int context)
{
    if (!help_)
        help_ = new THelpWindow(helpFolder_, this);
    help_->ShowTopic(context);
}

void TFormMain::Pm_AboutClick()
{
    Taboutform about(Website(helpFolder_).toString(), this);
    connect(&about, &Taboutform::helpRequested, this, [this] { ShowHelp(30); });
    about.exec();
}

void TFormMain::PM_VisitsWebsiteClick()
{
    QDesktopServices::openUrl(Website(helpFolder_));
}

void TFormMain::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_F1) {
        ShowHelp(PageControl1->currentIndex() == 0 ? 61 : 62);
        return;
    }
    QWidget::keyPressEvent(event);
}

// ---- Closing --------------------------------------------------------------------

void TFormMain::closeEvent(QCloseEvent* event)
{
    // A run under way is cancelled first, when the user agrees; a listing,
    // which changes nothing, without a question. The window closes once they
    // have ended, so nothing they use is freed under them.
    if ((zip_.Running() || unzip_.Busy()) && !closePending_ &&
        platform::MessageBox(tr("A run is under way. Cancel it and quit?").toStdString(), "Zamblok", platform::mbYesNo | 0x20) !=
            platform::idYes) {
        event->ignore();
        return;
    }
    // The run may have ended while the question was open.
    if (Running()) {
        closePending_ = true;
        zip_.Quit();
        unzip_.Quit();
        event->ignore();
        return;
    }
    SaveSettings();
    if (help_)
        help_->close();
    event->accept();
}

void TFormMain::RunChanged()
{
    if (Running() && !runTime_.isValid())
        runTime_.start();
}

void TFormMain::RunEnded(const QString& status)
{
    if (!Running() && runTime_.isValid()) {
        if (runTime_.elapsed() >= notifyAfterMs && !isActiveWindow())
            Notify(status);
        runTime_.invalidate();
    }
    if (closePending_ && !Running())
        QTimer::singleShot(0, this, &QWidget::close);
}
