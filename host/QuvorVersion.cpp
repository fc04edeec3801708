#include "host/QuvorVersion.h"

#include "host/HostPaths.h"
#include "ui_QuvorVersion.h"

QuvorVersion* gVersionBox = nullptr;

QuvorVersion::QuvorVersion(QWidget* parent) : QWidget(parent), ui(new Ui::QuvorVersionClass)
{
    ui->setupUi(this);
    setWindowIcon(hostWindowIcon());
    // Closing the about box must not end the program when the dialog is hidden.
    setAttribute(Qt::WA_QuitOnClose, false);
    gVersionBox = this;
}

QuvorVersion::~QuvorVersion()
{
    if (gVersionBox == this)
        gVersionBox = nullptr;
    delete ui;
}
