#include "app/settings_store.h"
#include "app/ui/options_dialog.h"
#include "platform/settings.h"
#include "platform/settings_registry.h"

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace {

// Points the settings file at a fresh folder and starts from the default settings.
class OptionsDialogTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        setenv("XDG_CONFIG_HOME", folder.path().toUtf8().constData(), 1);
        platform::GlobalSettings() = platform::Settings{};
    }

    static std::filesystem::path SettingsFile() { return platform::SettingsRegistry::DefaultPath(); }

    template <typename T> static T* Control(app::OptionsDialog& dialog, const char* name) {
        T* control = dialog.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(control, nullptr) << name;
        return control;
    }

    QTemporaryDir folder;
};

TEST_F(OptionsDialogTest, SaveAppliesEveryControlAndWritesTheSettingsAtOnce) {
    platform::Settings& settings = platform::GlobalSettings();
    settings.windowX = 123;
    settings.welcomeMsg = "어서 오세요";
    settings.previewMode = true;
    app::SaveSettings();
    settings.windowX = 555; // moved since, not yet saved

    const std::unique_ptr<app::OptionsDialog> dialog = app::CreateOptionsDialog(nullptr);
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("설정"));
    auto* list = Control<QListWidget>(*dialog, "pageList");
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->item(0)->text(), QStringLiteral("일반"));
    EXPECT_EQ(list->item(1)->text(), QStringLiteral("기타"));
    EXPECT_EQ(dialog->CurrentPage(), 0);

    auto* remember = Control<QCheckBox>(*dialog, "RememberWindowPos");
    auto* exif = Control<QCheckBox>(*dialog, "ShowExifPanel");
    auto* preview = Control<QCheckBox>(*dialog, "PreviewMode");
    auto* welcome = Control<QLineEdit>(*dialog, "WelcomeMsg");
    ASSERT_TRUE(remember && exif && preview && welcome);
    EXPECT_TRUE(remember->isChecked());
    EXPECT_FALSE(exif->isChecked());
    EXPECT_TRUE(preview->isChecked());
    EXPECT_EQ(welcome->text(), QStringLiteral("어서 오세요"));

    // 254 syllables, a character outside the BMP at position 255 and one more: the cut keeps the
    // surrogate pair whole.
    const QString longText = QString(254, QChar(0xAC00)) + QString::fromUtf8("😀") + QStringLiteral("끝");
    remember->setChecked(false);
    exif->setChecked(true);
    welcome->setText(longText);
    Control<QPushButton>(*dialog, "save")->click();

    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    const app::OptionsOutcome outcome = dialog->Outcome();
    EXPECT_TRUE(outcome.saved);
    EXPECT_TRUE(outcome.showExifPanel);
    EXPECT_TRUE(outcome.showExifPanelChanged);

    const std::string expectedWelcome = QString(254, QChar(0xAC00)).toStdString() + "😀";
    EXPECT_EQ(settings.welcomeMsg, expectedWelcome);
    platform::SettingsRegistry registry(SettingsFile());
    ASSERT_TRUE(registry.Load());
    platform::Settings stored;
    app::LoadSettings(registry, stored);
    EXPECT_FALSE(stored.rememberWindowPos);
    EXPECT_TRUE(stored.showExifPanel);
    EXPECT_TRUE(stored.previewMode);
    EXPECT_EQ(stored.welcomeMsg, expectedWelcome);
    const auto windowX = registry.Query("WindowX");
    ASSERT_TRUE(windowX.has_value());
    ASSERT_EQ(windowX->data.size(), 4u);
    EXPECT_EQ(windowX->data[0], 123) << "the stored rectangle stays when remembering is switched off";
}

TEST_F(OptionsDialogTest, CancelEscapeAndTheCloseBoxChangeNothing) {
    platform::GlobalSettings().welcomeMsg = "그대로";
    enum class Way { Cancel, Escape, Close };
    for (Way way : {Way::Cancel, Way::Escape, Way::Close}) {
        const std::unique_ptr<app::OptionsDialog> dialog = app::CreateOptionsDialog(nullptr);
        dialog->show();
        Control<QLineEdit>(*dialog, "WelcomeMsg")->setText(QStringLiteral("바뀐 글"));
        Control<QCheckBox>(*dialog, "ShowExifPanel")->setChecked(true);
        Control<QCheckBox>(*dialog, "RememberWindowPos")->setChecked(false);
        switch (way) {
        case Way::Cancel:
            Control<QPushButton>(*dialog, "cancel")->click();
            break;
        case Way::Escape: {
            QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(dialog.get(), &escape);
            break;
        }
        case Way::Close:
            dialog->close();
            break;
        }
        EXPECT_EQ(dialog->result(), QDialog::Rejected) << static_cast<int>(way);
        EXPECT_FALSE(dialog->isVisible());
        const app::OptionsOutcome outcome = dialog->Outcome();
        EXPECT_FALSE(outcome.saved);
        EXPECT_FALSE(outcome.showExifPanelChanged);
        EXPECT_EQ(platform::GlobalSettings().welcomeMsg, "그대로");
        EXPECT_FALSE(platform::GlobalSettings().showExifPanel);
        EXPECT_TRUE(platform::GlobalSettings().rememberWindowPos);
    }
    EXPECT_FALSE(std::filesystem::exists(SettingsFile())) << "nothing was saved";
}

TEST_F(OptionsDialogTest, PagesSwitchAndTheLayoutFollowsTheBottomRightCorner) {
    const std::unique_ptr<app::OptionsDialog> dialog = app::CreateOptionsDialog(nullptr);
    dialog->show();
    QApplication::processEvents();
    const QSize initial = dialog->size();
    EXPECT_EQ(dialog->minimumSize(), initial);

    auto* save = Control<QPushButton>(*dialog, "save");
    auto* cancel = Control<QPushButton>(*dialog, "cancel");
    auto* list = Control<QListWidget>(*dialog, "pageList");
    QWidget* general = dialog->Page(0).PageWindow();
    QWidget* other = dialog->Page(1).PageWindow();
    ASSERT_TRUE(save && cancel && list && general && other);
    EXPECT_TRUE(save->isDefault());
    EXPECT_LT(save->geometry().right(), cancel->geometry().left());
    EXPECT_TRUE(general->isVisible());
    EXPECT_FALSE(other->isVisible());

    const QRect saveBefore = save->geometry();
    const QRect cancelBefore = cancel->geometry();
    const QRect listBefore = list->geometry();
    const QRect pageBefore = general->geometry();

    dialog->resize(initial + QSize(200, 120));
    QApplication::processEvents();
    EXPECT_EQ(cancel->geometry(), cancelBefore.translated(200, 120));
    EXPECT_EQ(save->geometry(), saveBefore.translated(200, 120));
    EXPECT_EQ(list->geometry(), listBefore.adjusted(0, 0, 0, 120));
    EXPECT_EQ(general->geometry(), pageBefore.adjusted(0, 0, 200, 120));
    EXPECT_EQ(other->geometry(), pageBefore.adjusted(0, 0, 200, 120)) << "hidden pages follow too";

    // Back at the initial size nothing has moved; smaller is refused.
    dialog->resize(initial);
    QApplication::processEvents();
    EXPECT_EQ(cancel->geometry(), cancelBefore);
    EXPECT_EQ(save->geometry(), saveBefore);
    EXPECT_EQ(list->geometry(), listBefore);
    EXPECT_EQ(general->geometry(), pageBefore);
    dialog->resize(initial - QSize(100, 100));
    QApplication::processEvents();
    EXPECT_EQ(dialog->size(), initial);

    list->setCurrentRow(1);
    EXPECT_EQ(dialog->CurrentPage(), 1);
    EXPECT_TRUE(other->isVisible());
    EXPECT_FALSE(general->isVisible());
    list->setCurrentRow(0);
    EXPECT_EQ(dialog->CurrentPage(), 0);
    EXPECT_TRUE(general->isVisible());
    EXPECT_FALSE(other->isVisible());

    // Saving from the empty page still applies the first page.
    Control<QCheckBox>(*dialog, "PreviewMode")->setChecked(true);
    list->setCurrentRow(1);
    save->click();
    EXPECT_TRUE(platform::GlobalSettings().previewMode);
    EXPECT_FALSE(dialog->Outcome().showExifPanelChanged);
}

TEST(ApplyOptionsOutcome, ThePanelFollowsOnlyASavedSetting) {
    bool panel = true; // shown with Tab although the setting is off
    app::OptionsOutcome cancelled;
    EXPECT_FALSE(app::ApplyOptionsOutcome(cancelled, panel));
    EXPECT_TRUE(panel);

    app::OptionsOutcome saved;
    saved.saved = true;
    saved.showExifPanel = false;
    EXPECT_TRUE(app::ApplyOptionsOutcome(saved, panel)) << "saving with the box unchecked hides the panel";
    EXPECT_FALSE(panel);
    EXPECT_FALSE(app::ApplyOptionsOutcome(saved, panel));
    saved.showExifPanel = true;
    EXPECT_TRUE(app::ApplyOptionsOutcome(saved, panel));
    EXPECT_TRUE(panel);
}

} // namespace
