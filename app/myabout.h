// The about box: the program's name and version, links to its web page and
// support address, and a close button.
#pragma once

#include <QDialog>
#include <QString>

class Taboutform : public QDialog {
    Q_OBJECT
public:
    Taboutform(const QString& website, QWidget* parent);

signals:
    // F1 was pressed.
    void helpRequested();

protected:
    void keyPressEvent(QKeyEvent* event) override;
};
