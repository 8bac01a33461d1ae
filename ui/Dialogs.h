// File dialogs and message boxes, each behind a hook so that tests can answer them without a
// person. Both run modally with a nested event loop: timers and serial notifications keep being
// handled while they are open.
#pragma once

#include <QDateTime>
#include <QFileInfo>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QWidget;

namespace ui {

class FileDialog {
public:
    explicit FileDialog(bool save) : save_(save) {}

    // Pairs of name and patterns, separated by '|': "Quenrix eeprom|*.qxe|Quenrix Log|*.qxl".
    QString Filter;
    int FilterIndex = 1;   // 1-based; updated to the user's choice, kept for the next use
    QString InitialDir;
    QString FileName;      // the chosen name, a full path when the dialog gave it
    // The kind of file, as the user's settings remember its folder ("calibrations", "logs").
    // Set, the dialog opens in the folder last used for that kind (StartFolder), and the folder
    // of an accepted name is remembered for the next time, in this run and the next.
    QString FolderKind;
    // A save: the files the program will write for a chosen name, its extension settled (a
    // calibration writes two). Unset, the chosen name as it is.
    std::function<QStringList(const QString& chosen)> Targets;

    bool Save() const { return save_; }

    // Modal; true and FileName set when the user accepts, false on cancel. A save that would
    // replace a file asks first, naming each file with its size and age; "Choose another name"
    // brings the dialog back. An open accepts names of files that do not exist: the program's
    // own operations decide what to do with them.
    bool Execute(QWidget* parent);

private:
    std::optional<QString> Choose(QWidget* parent, bool again);
    bool save_;
};

// Where a dialog for a kind of file opens: the folder remembered for it while it exists and
// can be written, else the user's Documents folder, else home (else the temporary folder). Never
// a folder the user cannot write, such as the one the program is installed in.
QString StartFolder(const QString& kind);
// The folder remembered for a kind of file (empty when none), and remembering one.
QString RememberedFolder(const QString& kind);
void RememberFolder(const QString& kind, const QString& folder);

// The question before a save replaces files that exist: each named with its folder, size and
// the time it was last changed, as an age ("5 minutes ago") and a date.
QString ReplaceQuestion(const QList<QFileInfo>& existing, const QDateTime& now);
inline const char* const ReplaceAnswer = "Replace";
inline const char* const ChooseAnotherName = "Choose another name";

// "Quenrix eeprom|*.qxe|Quenrix Log|*.qxl" as Qt shows it:
// {"Quenrix eeprom (*.qxe)", "Quenrix Log (*.qxl)"}.
QStringList QtNameFilters(const QString& filter);

// When set, FileDialog::Execute calls the hook instead of showing a dialog: a name accepts,
// std::nullopt cancels. The hook may change the dialog's FilterIndex. An empty hook removes it.
using FileDialogHook = std::function<std::optional<QString>(FileDialog& dialog)>;
void SetFileDialogHook(FileDialogHook hook);

enum class MessageKind { Information, Warning, Error };

// Modal boxes with a single OK. The text is shown as plain text, never as markup.
void ShowInformation(QWidget* parent, const QString& text);
void ShowWarning(QWidget* parent, const QString& text);
void ShowError(QWidget* parent, const QString& text);

// When set, the boxes call the hook instead of showing themselves; the hook may spin the event
// loop to play a person taking their time. An empty hook removes it.
using MessageHook = std::function<void(MessageKind kind, const QString& text)>;
void SetMessageHook(MessageHook hook);

// A modal question with two answers, each a button with its own caption. True when the person
// takes `yes`; `no`, Escape and closing the box give false, and `no` is the default button, so a
// hurried Enter keeps what would otherwise be lost.
bool Ask(QWidget* parent, const QString& text, const QString& yes, const QString& no);

// When set, Ask calls the hook instead of showing the box and returns its answer. An empty hook
// removes it.
using QuestionHook = std::function<bool(const QString& text, const QString& yes, const QString& no)>;
void SetQuestionHook(QuestionHook hook);

}  // namespace ui
