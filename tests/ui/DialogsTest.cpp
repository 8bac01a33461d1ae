#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "ui/Beep.h"
#include "ui/Dialogs.h"

namespace {

const QString kFilter = "Quenrix eeprom|*.qxe|Quenrix Log|*.qxl";

// Answers the next modal dialog as a person would, from inside its event loop.
template <typename Dialog, typename Answer>
void answerNext(Answer answer)
{
    QTimer::singleShot(0, [answer] {
        auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        answer(dialog);
    });
}

struct HookReset {
    ~HookReset()
    {
        ui::SetFileDialogHook({});
        ui::SetMessageHook({});
        ui::SetQuestionHook({});
    }
};

TEST(Dialogs, FilterIsShownTheQtWay)
{
    EXPECT_EQ(ui::QtNameFilters(kFilter),
              (QStringList{"Quenrix eeprom (*.qxe)", "Quenrix Log (*.qxl)"}));
    EXPECT_EQ(ui::QtNameFilters("Text (*.txt)|*.txt|Both|*.a;*.b|dangling"),
              (QStringList{"Text (*.txt)", "Both (*.a *.b)"}));
    EXPECT_TRUE(ui::QtNameFilters("").isEmpty());
}

TEST(Dialogs, HookAnswersAndTheChosenFilterIsKept)
{
    HookReset reset;
    ui::FileDialog dialog(true);
    dialog.Filter = kFilter;
    std::vector<int> indexSeen;
    ui::SetFileDialogHook([&](ui::FileDialog& d) -> std::optional<QString> {
        indexSeen.push_back(d.FilterIndex);
        if (indexSeen.size() == 1) {
            d.FilterIndex = 2;
            return QString("/tmp/run1");
        }
        return std::nullopt;
    });
    EXPECT_TRUE(dialog.Execute(nullptr));
    EXPECT_EQ(dialog.FileName, "/tmp/run1");
    EXPECT_FALSE(dialog.Execute(nullptr));   // cancelled: the last name and filter stay
    EXPECT_EQ(dialog.FileName, "/tmp/run1");
    EXPECT_EQ(indexSeen, (std::vector<int>{1, 2}));
    EXPECT_EQ(dialog.FilterIndex, 2);
}

TEST(Dialogs, OpenStartsWhereToldAndAcceptsANameThatDoesNotExist)
{
    QTemporaryDir dir;
    ui::FileDialog dialog(false);
    dialog.Filter = kFilter;
    dialog.FilterIndex = 2;
    dialog.InitialDir = dir.path();
    QString shownFilter, shownDir;
    answerNext<QFileDialog>([&](QFileDialog* d) {
        shownFilter = d->selectedNameFilter();
        shownDir = d->directory().absolutePath();
        d->selectFile(dir.filePath("missing.qxl"));
        static_cast<QDialog*>(d)->accept();   // through the checks a click on Open/Save runs
    });
    ASSERT_TRUE(dialog.Execute(nullptr));
    EXPECT_EQ(shownFilter, "Quenrix Log (*.qxl)");
    EXPECT_EQ(shownDir, QDir(dir.path()).absolutePath());
    EXPECT_EQ(dialog.FileName, dir.filePath("missing.qxl"));
    EXPECT_EQ(dialog.FilterIndex, 2);

    answerNext<QFileDialog>([&](QFileDialog* d) {
        d->selectNameFilter("Quenrix eeprom (*.qxe)");
        d->selectFile(dir.filePath("tune.qxe"));
        static_cast<QDialog*>(d)->accept();   // through the checks a click on Open/Save runs
    });
    ASSERT_TRUE(dialog.Execute(nullptr));
    EXPECT_EQ(dialog.FilterIndex, 1);

    answerNext<QFileDialog>([](QFileDialog* d) { d->reject(); });
    EXPECT_FALSE(dialog.Execute(nullptr));
    EXPECT_EQ(dialog.FileName, dir.filePath("tune.qxe"));
}

// Qt's own question box, answered as a person answers it: the question comes after the dialog
// has closed, and "Choose another name" brings the dialog back with the name in it.
TEST(Dialogs, ASaveOverAFileAsksAndNoBringsTheDialogBack)
{
    QTemporaryDir dir;
    QFile existing(dir.filePath("tune.qxe"));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("old");
    existing.close();
    ui::FileDialog dialog(true);
    dialog.Filter = kFilter;
    dialog.InitialDir = dir.path();
    dialog.Targets = [](const QString& chosen) { return QStringList{chosen + ".qxe"}; };
    bool replace = false;
    int dialogsShown = 0;
    QStringList questions, namesShown;
    // The person picks "tune" in the file dialog (the extension comes after it), then answers
    // the real question box; the second time round the file dialog, they give up.
    ui::SetFileDialogHook([&](ui::FileDialog& shown) -> std::optional<QString> {
        ++dialogsShown;
        namesShown << shown.FileName;   // what the dialog comes back with
        if (dialogsShown == 2) return std::nullopt;
        return dir.filePath("tune");
    });
    QTimer person;
    QObject::connect(&person, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            questions << box->text();
            const QString wanted = QLatin1String(replace ? ui::ReplaceAnswer : ui::ChooseAnotherName);
            for (QAbstractButton* button : box->buttons())
                if (button->text() == wanted) button->click();
        }
    });
    person.start(20);
    EXPECT_FALSE(dialog.Execute(nullptr));
    EXPECT_EQ(dialogsShown, 2);
    ASSERT_EQ(questions.size(), 1);
    EXPECT_TRUE(questions[0].contains("\"tune.qxe\"")) << questions[0].toStdString();
    EXPECT_EQ(namesShown.value(1), dir.filePath("tune"));   // back with the name to change

    replace = true;
    EXPECT_TRUE(dialog.Execute(nullptr));
    EXPECT_EQ(questions.size(), 2);
    EXPECT_EQ(dialog.FileName, dir.filePath("tune"));
    ui::SetFileDialogHook({});
}

TEST(Dialogs, InformationBoxKeepsTheEventLoopRunning)
{
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(5);
    QString shown;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || ticks < 3) return;
        shown = box->text();
        EXPECT_EQ(box->textFormat(), Qt::PlainText);
        EXPECT_EQ(box->icon(), QMessageBox::Information);
        EXPECT_EQ(box->buttons().size(), 1);
        box->button(QMessageBox::Ok)->click();
    });
    closer.start(5);
    ui::ShowInformation(nullptr, "Release throttle!\n Then press OK");
    EXPECT_EQ(shown, "Release throttle!\n Then press OK");
    EXPECT_GE(ticks, 3);
}

TEST(Dialogs, MessageHookReceivesKindAndText)
{
    HookReset reset;
    std::vector<std::pair<ui::MessageKind, QString>> got;
    ui::SetMessageHook([&](ui::MessageKind kind, const QString& text) {
        got.emplace_back(kind, text);
    });
    ui::ShowInformation(nullptr, "Push throttle to maximum!\n Then press OK");
    ui::ShowError(nullptr, "Cannot open file tune.qxc");
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].first, ui::MessageKind::Information);
    EXPECT_EQ(got[0].second, "Push throttle to maximum!\n Then press OK");
    EXPECT_EQ(got[1].first, ui::MessageKind::Error);
    EXPECT_EQ(got[1].second, "Cannot open file tune.qxc");
}

TEST(Dialogs, AQuestionKeepsWhatWouldBeLostUnlessTheYesButtonIsTaken)
{
    // Enter takes the default, Escape the way out: both must keep the log.
    for (const int key : {int(Qt::Key_Return), int(Qt::Key_Escape), 0}) {
        QString text;
        QStringList buttons;
        answerNext<QMessageBox>([&, key](QMessageBox* box) {
            text = box->text();
            for (QAbstractButton* b : box->buttons()) buttons << b->accessibleName();
            EXPECT_EQ(box->textFormat(), Qt::PlainText);
            if (key) {
                QTest::keyClick(box, Qt::Key(key));
                return;
            }
            for (QAbstractButton* b : box->buttons())
                if (b->text() == "Discard") b->click();
        });
        const bool yes = ui::Ask(nullptr, "Discard the unsaved log of 3 samples?", "Discard", "Cancel");
        EXPECT_EQ(yes, key == 0) << key;
        EXPECT_EQ(text, "Discard the unsaved log of 3 samples?");
        buttons.sort();
        EXPECT_EQ(buttons, (QStringList{"Cancel", "Discard"}));
    }

    HookReset reset;
    QStringList asked;
    ui::SetQuestionHook([&](const QString& text, const QString& yes, const QString& no) {
        asked << text << yes << no;
        return true;
    });
    EXPECT_TRUE(ui::Ask(nullptr, "Go?", "Go", "Stay"));
    EXPECT_EQ(asked, (QStringList{"Go?", "Go", "Stay"}));
}

TEST(Beep, IsCounted)
{
    const int before = ui::BeepCount();
    ui::Beep();
    ui::Beep();
    EXPECT_EQ(ui::BeepCount(), before + 2);
}

}  // namespace
