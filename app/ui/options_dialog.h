#pragma once

#include <QColor>
#include <QDialog>
#include <QPointer>
#include <QRect>
#include <QString>

#include <memory>
#include <vector>

class QCheckBox;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace app {

// One page of the options dialog. The dialog owns its pages; a page owns its window, a child of the
// dialog. Pages read and write the process-wide settings record.
class OptionsPage {
public:
    explicit OptionsPage(QString title);
    virtual ~OptionsPage();
    OptionsPage(const OptionsPage&) = delete;
    OptionsPage& operator=(const OptionsPage&) = delete;

    // Creates the page window inside `parent` at `rectangle`; false when it could not be made.
    virtual bool CreatePage(QWidget* parent, const QRect& rectangle) = 0;
    // Settings into controls.
    virtual void LoadPage() = 0;
    // Controls into settings.
    virtual void ApplyPage() = 0;

    const QString& Title() const { return title; }
    QWidget* PageWindow() const { return pageWindow; }

protected:
    // The page window with the page's background colour and font (template font size 11).
    QWidget* MakePageWindow(QWidget* parent, const QRect& rectangle);
    QColor Background() const { return background; }

private:
    QString title;
    QPointer<QWidget> pageWindow;
    QColor background; // the dialog face colour, read at construction
};

// "일반": remembering the window placement, the information panel at start, the preview mode and the
// welcome text.
class GeneralOptions : public OptionsPage {
public:
    GeneralOptions();
    bool CreatePage(QWidget* parent, const QRect& rectangle) override;
    void LoadPage() override;
    // Writes the four values and saves the settings at once. The welcome text keeps at most
    // kMaxWelcomeLength characters.
    void ApplyPage() override;

    static constexpr int kMaxWelcomeLength = 255;

private:
    QPointer<QCheckBox> rememberWindowPos; // control 1002
    QPointer<QCheckBox> showExifPanel;     // control 1001
    QPointer<QCheckBox> previewMode;       // control 1003
    QPointer<QLineEdit> welcomeMessage;    // control 1000
};

// "기타": an empty page.
class OtherOptions : public OptionsPage {
public:
    OtherOptions();
    bool CreatePage(QWidget* parent, const QRect& rectangle) override;
    void LoadPage() override {}
    void ApplyPage() override {}
};

// What the caller learns from a run of the dialog. After a save the information panel follows
// showExifPanel; the caller slides it when the value differs from the panel's state.
struct OptionsOutcome {
    bool saved = false;
    bool showExifPanel = false;        // the setting after the dialog
    bool showExifPanelChanged = false; // the setting differs from its value before the dialog
};

// The modal, resizable "설정" dialog: the page list on the left, the selected page on the right, "저장"
// and "취소" anchored to the bottom-right corner. Settings change only on "저장"; "취소", Esc and the
// close box change nothing.
class OptionsDialog : public QDialog {
    Q_OBJECT

public:
    explicit OptionsDialog(QWidget* owner = nullptr);
    ~OptionsDialog() override;

    void AddPage(std::unique_ptr<OptionsPage> page);
    // Creates, loads and lists the pages added so far, shows the first one and fixes the minimum size.
    // Called once, before the dialog is shown.
    void Initialize();

    int PageCount() const { return static_cast<int>(pages.size()); }
    int CurrentPage() const { return currentPage; }
    OptionsPage& Page(int index) { return *pages.at(index); }
    OptionsOutcome Outcome() const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void Save();
    void SelectPage(int index);
    void Layout();

    std::vector<std::unique_ptr<OptionsPage>> pages;
    int currentPage = -1;
    bool initialized = false;
    bool saved = false;
    bool showExifPanelBefore = false;
    double scale = 1.0;

    QListWidget* pageList = nullptr; // control 2001
    QWidget* placeholder = nullptr;  // control 2002, the page area
    QPushButton* saveButton = nullptr;
    QPushButton* cancelButton = nullptr;

    // Captured by Initialize: the page rectangle and how far the list, pages and buttons stay from the
    // right and bottom edges while the dialog is resized.
    QRect pageRectangle;
    int listBottomMargin = 0;
    int pageRightMargin = 0;
    int pageBottomMargin = 0;
    int buttonRightMargin = 0;
    int buttonBottomMargin = 0;
    int buttonGap = 0;
};

// Runs the dialog modally over `owner` with the pages "일반" and "기타".
OptionsOutcome RunOptionsDialog(QWidget* owner);
// After a save the information panel follows the saved "ShowExifPanel". Returns whether the panel's
// state changed, i.e. whether the caller has to slide it (and draw it when it is now shown).
bool ApplyOptionsOutcome(const OptionsOutcome& outcome, bool& showInfoPanel);
// The same dialog, initialised but not shown (for embedding and tests).
std::unique_ptr<OptionsDialog> CreateOptionsDialog(QWidget* owner);

} // namespace app
