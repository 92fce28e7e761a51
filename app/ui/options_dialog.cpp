#include "app/ui/options_dialog.h"

#include "app/settings_store.h"
#include "platform/settings.h"

#include <QApplication>
#include <QCheckBox>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QResizeEvent>
#include <QStyledItemDelegate>

#include <algorithm>

namespace app {

namespace {

// Dialog layouts are given in dialog units of the template's font (Arial at the given point size):
// a horizontal unit is a quarter of the font's average character width, a vertical one an eighth of
// its height.
class DialogUnits {
public:
    DialogUnits(int pointSize, const QWidget* widget) : font(QStringLiteral("Arial")) {
        font.setPointSize(pointSize);
        const QFontMetrics metrics(font, widget);
        const int sampleWidth =
            metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
        baseX = std::max((sampleWidth / 26 + 1) / 2, 1);
        baseY = std::max(metrics.height(), 1);
    }

    int X(int units) const { return units * baseX / 4; }
    int Y(int units) const { return units * baseY / 8; }
    QRect Map(int left, int top, int width, int height) const {
        return QRect(QPoint(X(left), Y(top)), QPoint(X(left + width) - 1, Y(top + height) - 1));
    }
    const QFont& Font() const { return font; }

private:
    QFont font;
    int baseX = 1;
    int baseY = 1;
};

QColor FaceColour() {
    return QApplication::palette().color(QPalette::Window);
}

// The page list's items: a framed box on the face colour, pale yellow when selected, pale blue under
// the pointer, white otherwise, with the title centred in black.
class PageListDelegate : public QStyledItemDelegate {
public:
    PageListDelegate(double scale, QFont font, QObject* parent)
        : QStyledItemDelegate(parent), scale(scale), font(std::move(font)) {}

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        return QSize(option.rect.width(), static_cast<int>(46 * scale));
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        painter->save();
        painter->fillRect(option.rect, FaceColour());
        const int insetX = static_cast<int>(6 * scale);
        const int insetY = static_cast<int>(3 * scale);
        const QRect box = option.rect.adjusted(insetX, insetY, -insetX, -insetY);
        QColor fill(0xFF, 0xFF, 0xFF);
        if (option.state & QStyle::State_Selected) {
            fill = QColor(0xFF, 0xF0, 0xB4);
        } else if (option.state & QStyle::State_MouseOver) {
            fill = QColor(0xE5, 0xF3, 0xFF);
        }
        painter->fillRect(box, fill);
        painter->setPen(QPen(QColor(0xB4, 0xB4, 0xB4), 1));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(box.adjusted(0, 0, -1, -1));
        painter->setPen(Qt::black);
        painter->setFont(font);
        painter->drawText(box, Qt::AlignCenter | Qt::TextSingleLine, index.data(Qt::DisplayRole).toString());
        painter->restore();
    }

private:
    double scale;
    QFont font;
};

// At most `maxCharacters` characters (code points: a surrogate pair is never split).
std::string TruncateCharacters(const QString& text, int maxCharacters) {
    QString kept;
    int count = 0;
    for (qsizetype i = 0; i < text.size() && count < maxCharacters; ++count) {
        const bool pair = text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
        kept += text.mid(i, pair ? 2 : 1);
        i += pair ? 2 : 1;
    }
    return kept.toStdString();
}

QCheckBox* MakeCheckBox(QWidget* page, const DialogUnits& units, const char* name, const QString& text,
                        int top) {
    auto* box = new QCheckBox(text, page);
    box->setObjectName(QString::fromLatin1(name));
    const QRect rectangle = units.Map(9, top, 217, 10);
    box->setGeometry(rectangle.adjusted(0, 0, std::max(box->sizeHint().width() - rectangle.width(), 0),
                                        std::max(box->sizeHint().height() - rectangle.height(), 0)));
    return box;
}

} // namespace

OptionsPage::OptionsPage(QString title) : title(std::move(title)), background(FaceColour()) {}

OptionsPage::~OptionsPage() {
    delete pageWindow.data();
}

QWidget* OptionsPage::MakePageWindow(QWidget* parent, const QRect& rectangle) {
    delete pageWindow.data();
    pageWindow = new QWidget(parent);
    QPalette palette = pageWindow->palette();
    palette.setColor(QPalette::Window, background);
    pageWindow->setPalette(palette);
    pageWindow->setAutoFillBackground(true);
    pageWindow->setGeometry(rectangle);
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(11);
    pageWindow->setFont(font);
    return pageWindow;
}

GeneralOptions::GeneralOptions() : OptionsPage(QStringLiteral("일반")) {}

bool GeneralOptions::CreatePage(QWidget* parent, const QRect& rectangle) {
    QWidget* page = MakePageWindow(parent, rectangle);
    page->setObjectName(QStringLiteral("GeneralOptions"));
    const DialogUnits units(11, page);
    rememberWindowPos = MakeCheckBox(page, units, "RememberWindowPos",
                                     QStringLiteral("마지막 윈도우즈 창 위치,크기 기억"), 14);
    showExifPanel = MakeCheckBox(page, units, "ShowExifPanel",
                                 QStringLiteral("이미지 정보 표시 (EXIF 창 보여주기로 시작)"), 28);
    previewMode = MakeCheckBox(page, units, "PreviewMode",
                               QStringLiteral("탐색기 마우스 우클릭으로 이미지 미리보기"), 42);

    auto* label = new QLabel(QStringLiteral("프로그램 시작시 환영글"), page);
    const QRect labelRectangle = units.Map(9, 105, 91, 8);
    label->setGeometry(labelRectangle.x(), labelRectangle.y(),
                       std::max(labelRectangle.width(), label->sizeHint().width()),
                       std::max(labelRectangle.height(), label->sizeHint().height()));

    welcomeMessage = new QLineEdit(page);
    welcomeMessage->setObjectName(QStringLiteral("WelcomeMsg"));
    const QRect editRectangle = units.Map(17, 118, 207, 14);
    welcomeMessage->setGeometry(editRectangle.adjusted(
        0, 0, 0, std::max(welcomeMessage->sizeHint().height() - editRectangle.height(), 0)));
    return PageWindow() != nullptr;
}

void GeneralOptions::LoadPage() {
    const platform::Settings& settings = platform::GlobalSettings();
    if (rememberWindowPos) {
        rememberWindowPos->setChecked(settings.rememberWindowPos);
    }
    if (showExifPanel) {
        showExifPanel->setChecked(settings.showExifPanel);
    }
    if (previewMode) {
        previewMode->setChecked(settings.previewMode);
    }
    if (welcomeMessage) {
        welcomeMessage->setText(QString::fromStdString(settings.welcomeMsg));
    }
}

void GeneralOptions::ApplyPage() {
    platform::Settings& settings = platform::GlobalSettings();
    if (rememberWindowPos) {
        settings.rememberWindowPos = rememberWindowPos->isChecked();
    }
    if (showExifPanel) {
        settings.showExifPanel = showExifPanel->isChecked();
    }
    if (previewMode) {
        settings.previewMode = previewMode->isChecked();
    }
    if (welcomeMessage) {
        settings.welcomeMsg = TruncateCharacters(welcomeMessage->text(), kMaxWelcomeLength);
    }
    SaveSettings();
}

OtherOptions::OtherOptions() : OptionsPage(QStringLiteral("기타")) {}

bool OtherOptions::CreatePage(QWidget* parent, const QRect& rectangle) {
    MakePageWindow(parent, rectangle)->setObjectName(QStringLiteral("OtherOptions"));
    return PageWindow() != nullptr;
}

OptionsDialog::OptionsDialog(QWidget* owner) : QDialog(owner) {
    setWindowTitle(QStringLiteral("설정"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    setSizeGripEnabled(false);
    const DialogUnits units(10, this);
    setFont(units.Font());

    pageList = new QListWidget(this);
    pageList->setObjectName(QStringLiteral("pageList"));
    pageList->setGeometry(units.Map(7, 7, 80, 210));
    pageList->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    pageList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    pageList->setMouseTracking(true);
    pageList->viewport()->setAttribute(Qt::WA_Hover);
    QPalette listPalette = pageList->palette();
    listPalette.setColor(QPalette::Base, FaceColour());
    pageList->setPalette(listPalette);

    placeholder = new QWidget(this);
    placeholder->setGeometry(units.Map(95, 7, 248, 210));

    saveButton = new QPushButton(QStringLiteral("저장"), this);
    saveButton->setObjectName(QStringLiteral("save"));
    saveButton->setGeometry(units.Map(236, 229, 50, 14));
    saveButton->setDefault(true);
    cancelButton = new QPushButton(QStringLiteral("취소"), this);
    cancelButton->setObjectName(QStringLiteral("cancel"));
    cancelButton->setGeometry(units.Map(293, 229, 50, 14));

    resize(units.X(350), units.Y(250));

    connect(saveButton, &QPushButton::clicked, this, [this] { Save(); });
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

OptionsDialog::~OptionsDialog() = default;

void OptionsDialog::AddPage(std::unique_ptr<OptionsPage> page) {
    pages.push_back(std::move(page));
}

void OptionsDialog::Initialize() {
    if (initialized) {
        return;
    }
    initialized = true;
    showExifPanelBefore = platform::GlobalSettings().showExifPanel;

    const int dpi = logicalDpiX();
    scale = dpi > 0 ? dpi / 96.0 : 1.0;
    const QFont listFont = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    pageList->setFont(listFont);
    pageList->setItemDelegate(new PageListDelegate(scale, listFont, pageList));

    pageRectangle = placeholder->geometry();
    placeholder->hide();

    for (const std::unique_ptr<OptionsPage>& page : pages) {
        pageList->addItem(page->Title());
        if (page->CreatePage(this, pageRectangle)) {
            page->LoadPage();
            page->PageWindow()->hide();
        }
    }
    connect(pageList, &QListWidget::currentRowChanged, this, [this](int row) { SelectPage(row); });
    if (!pages.empty()) {
        pageList->setCurrentRow(0);
        SelectPage(0);
    }

    // Anchors measured from the template's own layout, so that a resize to the initial size changes
    // nothing and the buttons keep their distance from the bottom-right corner.
    const QSize client = size();
    setMinimumSize(client);
    listBottomMargin = client.height() - (pageList->geometry().bottom() + 1);
    pageRightMargin = client.width() - (pageRectangle.right() + 1);
    pageBottomMargin = client.height() - (pageRectangle.bottom() + 1);
    buttonRightMargin = client.width() - (cancelButton->geometry().right() + 1);
    buttonBottomMargin = client.height() - (cancelButton->geometry().bottom() + 1);
    buttonGap = cancelButton->geometry().left() - (saveButton->geometry().right() + 1);
}

OptionsOutcome OptionsDialog::Outcome() const {
    OptionsOutcome outcome;
    outcome.saved = saved;
    outcome.showExifPanel = platform::GlobalSettings().showExifPanel;
    outcome.showExifPanelChanged = outcome.showExifPanel != showExifPanelBefore;
    return outcome;
}

void OptionsDialog::Save() {
    for (const std::unique_ptr<OptionsPage>& page : pages) {
        page->ApplyPage();
    }
    saved = true;
    accept();
}

void OptionsDialog::SelectPage(int index) {
    if (index < 0 || index >= PageCount() || index == currentPage) {
        return;
    }
    if (currentPage >= 0 && currentPage < PageCount() && pages[currentPage]->PageWindow() != nullptr) {
        pages[currentPage]->PageWindow()->hide();
    }
    if (QWidget* window = pages[index]->PageWindow()) {
        window->show();
    }
    currentPage = index;
}

void OptionsDialog::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    if (initialized && !isMinimized()) {
        Layout();
    }
}

void OptionsDialog::Layout() {
    const int width = this->width();
    const int height = this->height();
    const QRect list = pageList->geometry();
    pageList->setGeometry(list.left(), list.top(), list.width(),
                          std::max(height - listBottomMargin - list.top(), 0));
    const QSize pageSize(std::max(width - pageRightMargin - pageRectangle.left(), 0),
                         std::max(height - pageBottomMargin - pageRectangle.top(), 0));
    for (const std::unique_ptr<OptionsPage>& page : pages) {
        if (QWidget* window = page->PageWindow()) {
            window->setGeometry(QRect(pageRectangle.topLeft(), pageSize));
        }
    }
    const int buttonWidth = saveButton->width();
    const int buttonHeight = saveButton->height();
    const int top = height - buttonBottomMargin - buttonHeight;
    cancelButton->move(width - buttonRightMargin - buttonWidth, top);
    saveButton->move(width - buttonRightMargin - 2 * buttonWidth - buttonGap, top);
    update();
}

std::unique_ptr<OptionsDialog> CreateOptionsDialog(QWidget* owner) {
    auto dialog = std::make_unique<OptionsDialog>(owner);
    dialog->AddPage(std::make_unique<GeneralOptions>());
    dialog->AddPage(std::make_unique<OtherOptions>());
    dialog->Initialize();
    return dialog;
}

OptionsOutcome RunOptionsDialog(QWidget* owner) {
    const std::unique_ptr<OptionsDialog> dialog = CreateOptionsDialog(owner);
    dialog->exec();
    return dialog->Outcome();
}

bool ApplyOptionsOutcome(const OptionsOutcome& outcome, bool& showInfoPanel) {
    if (!outcome.saved || outcome.showExifPanel == showInfoPanel) {
        return false;
    }
    showInfoPanel = outcome.showExifPanel;
    return true;
}

} // namespace app
