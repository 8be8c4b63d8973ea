#include "app/myabout.h"

#include <QDesktopServices>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {

// A link shown in the palette's link colour, underlined under the mouse
// with a hand cursor, opened in the desktop's handler when clicked.
class LinkLabel : public QLabel {
public:
    LinkLabel(const QString& text, const QString& url, QWidget* parent) : QLabel(text, parent), url_(url)
    {
        setCursor(Qt::PointingHandCursor);
        setForegroundRole(QPalette::Link);
        setToolTip(url);
    }

protected:
    void enterEvent(QEnterEvent*) override { SetUnderline(true); }
    void leaveEvent(QEvent*) override { SetUnderline(false); }
    void mouseReleaseEvent(QMouseEvent*) override { QDesktopServices::openUrl(QUrl(url_)); }

private:
    void SetUnderline(bool on)
    {
        QFont f = font();
        f.setUnderline(on);
        setFont(f);
    }
    QString url_;
};

}  // namespace

Taboutform::Taboutform(const QString& website, QWidget* parent) : QDialog(parent)
{
    setObjectName("Taboutform");
    setWindowTitle(tr("About Zamblok"));
    auto* layout = new QVBoxLayout(this);
    auto* title = new QLabel(tr("Zamblok V1.00  ( Build 4 )"), this);
    title->setObjectName("AboutTitle");
    QFont bigger = title->font();
    bigger.setPointSizeF(bigger.pointSizeF() * 1.4);
    bigger.setBold(true);
    title->setFont(bigger);
    layout->addWidget(title);
    layout->addWidget(new QLabel(tr("A batch tool for ZIP archives: create many archives in one run,\n"
                                    "list, extract and delete the entries of many archives at once."),
                                 this));
    auto* web = new LinkLabel(website, website, this);
    web->setObjectName("AboutWebsite");
    const QString mail = "support@zamblok.example.org";
    auto* support = new LinkLabel(mail, "mailto:" + mail, this);
    support->setObjectName("AboutMail");
    layout->addWidget(web);
    layout->addWidget(support);
    auto* buttons = new QHBoxLayout;
    auto* close = new QPushButton(tr("Cl&ose"), this);
    close->setObjectName("AboutClose");
    close->setDefault(true);
    buttons->addStretch(1);
    buttons->addWidget(close);
    layout->addLayout(buttons);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
}

void Taboutform::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_F1)
        emit helpRequested();
    else
        QDialog::keyPressEvent(event);
}
