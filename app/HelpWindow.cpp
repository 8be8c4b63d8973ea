#include "app/HelpWindow.h"

#include <QFileInfo>
#include <QLocale>
#include <QUrl>
#include <QVBoxLayout>

THelpWindow::THelpWindow(const QString& folder, QWidget* parent)
    : QWidget(parent, Qt::Window), folder_(folder), browser_(new QTextBrowser(this))
{
    setObjectName("HelpWindow");
    setWindowTitle(tr("Zamblok Help"));
    resize(640, 560);
    browser_->setObjectName("HelpBrowser");
    browser_->setOpenExternalLinks(true);
    browser_->setSearchPaths({folder});
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(browser_);
}

QString HelpPage(const QString& folder, const QString& name)
{
    const QString localized = folder + "/" + QLocale().name().section('_', 0, 0) + "/" + name;
    return QFileInfo::exists(localized) ? localized : folder + "/" + name;
}

void THelpWindow::ShowTopic(int context)
{
    const QString page = HelpPage(folder_, QString("%1.html").arg(context));
    if (QFileInfo::exists(page))
        browser_->setSource(QUrl::fromLocalFile(page));
    else
        browser_->setHtml(tr("<p>The help page %1 is missing from %2.</p>").arg(context).arg(folder_));
    show();
    raise();
    activateWindow();
}
