#pragma once

class QWidget;

namespace app {

// The program's information box (kAboutText, caption kAboutCaption, information icon), modal over
// `owner`.
void ShowAboutBox(QWidget* owner);

} // namespace app
