// The help window: the HTML page of a context number from the help folder.
#pragma once

#include <QString>
#include <QTextBrowser>
#include <QWidget>

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
