#pragma once

#include <QWidget>

namespace Ui {
class QuvorVersionClass;
}

// The about box behind the control dialog's context-help button. It lives for
// the whole run and only hides when closed.
class QuvorVersion : public QWidget {
    Q_OBJECT
public:
    explicit QuvorVersion(QWidget* parent = nullptr);
    ~QuvorVersion() override;

private:
    Ui::QuvorVersionClass* ui;
};

extern QuvorVersion* gVersionBox;
