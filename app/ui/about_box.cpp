#include "app/ui/about_box.h"

#include "app/commands.h"

#include <QMessageBox>

namespace app {

void ShowAboutBox(QWidget* owner) {
    QMessageBox box(QMessageBox::Information, QString::fromUtf8(kAboutCaption), QString::fromUtf8(kAboutText),
                    QMessageBox::Ok, owner);
    box.exec();
}

} // namespace app
