// The help window: the HTML page of a context number from the help folder.
#pragma once

#include <QString>
#include <QTextBrowser>
#include <QWidget>

// The path of the help page name in folder: the page in the user's language
// (folder/de/name) where there is one, else the English page (folder/name).
QString HelpPage(const QString& folder, const QString& name);

class THelpWindow : public QWidget {
    Q_OBJECT
public:
    THelpWindow(const QString& folder, QWidget* parent);
    // Shows page <context>.html and brings the window up.
    void ShowTopic(int context);
    QTextBrowser* Browser() const { return browser_; }

private:
    QString folder_;
    QTextBrowser* browser_;
};
