#include "ui/Dialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace ui {

namespace {

FileDialogHook& fileDialogHook()
{
    static FileDialogHook hook;
    return hook;
}

MessageHook& messageHook()
{
    static MessageHook hook;
    return hook;
}

QuestionHook& questionHook()
{
    static QuestionHook hook;
    return hook;
}

void showMessage(MessageKind kind, QWidget* parent, const QString& text)
{
    if (messageHook()) {
        const MessageHook hook = messageHook();   // the hook may replace itself while it runs
        hook(kind, text);
        return;
    }
    struct Look {
        QMessageBox::Icon icon;
        const char* title;
        const char* name;
    };
    const Look look = kind == MessageKind::Information ? Look{QMessageBox::Information, "Information", "InformationBox"}
                      : kind == MessageKind::Warning   ? Look{QMessageBox::Warning, "Warning", "WarningBox"}
                                                       : Look{QMessageBox::Critical, "Error", "ErrorBox"};
    QMessageBox box(look.icon, QLatin1String(look.title), text, QMessageBox::Ok, parent);
    box.setObjectName(QLatin1String(look.name));
    box.setTextFormat(Qt::PlainText);   // file names and messages are never markup
    box.exec();
}

}  // namespace

QStringList QtNameFilters(const QString& filter)
{
    QStringList result;
    const QStringList parts = filter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& p : patterns) p = p.trimmed();
        patterns.removeAll(QString());
        if (patterns.isEmpty()) continue;
        const QString suffix = QLatin1Char('(') + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
        const QString name = parts[i].trimmed();
        if (name.isEmpty())
            result << suffix;
        else if (name.endsWith(suffix))
            result << name;
        else
            result << name + QLatin1Char(' ') + suffix;
    }
    return result;
}

void SetFileDialogHook(FileDialogHook hook)
{
    fileDialogHook() = std::move(hook);
}

void SetMessageHook(MessageHook hook)
{
    messageHook() = std::move(hook);
}

bool FileDialog::Execute(QWidget* parent)
{
    if (fileDialogHook()) {
        const FileDialogHook hook = fileDialogHook();
        const std::optional<QString> name = hook(*this);
        if (!name) return false;
        FileName = *name;
        return true;
    }

    const QStringList filters = QtNameFilters(Filter);
    QFileDialog dialog(parent);
    dialog.setObjectName(save_ ? QStringLiteral("SaveDialog") : QStringLiteral("OpenDialog"));
    dialog.setWindowTitle(save_ ? QStringLiteral("Save As") : QStringLiteral("Open"));
    // Qt's own dialog behaves the same on every desktop, and tests can drive it.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(save_ ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, save_);
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
        const int index = FilterIndex >= 1 && FilterIndex <= filters.size() ? FilterIndex : 1;
        dialog.selectNameFilter(filters[index - 1]);
    }
    if (!InitialDir.isEmpty()) dialog.setDirectory(InitialDir);

    if (dialog.exec() != QDialog::Accepted) return false;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return false;
    FileName = files.first();
    const qsizetype chosen = filters.indexOf(dialog.selectedNameFilter());
    if (chosen >= 0) FilterIndex = static_cast<int>(chosen) + 1;
    return true;
}

void ShowInformation(QWidget* parent, const QString& text)
{
    showMessage(MessageKind::Information, parent, text);
}

void ShowWarning(QWidget* parent, const QString& text)
{
    showMessage(MessageKind::Warning, parent, text);
}

void ShowError(QWidget* parent, const QString& text)
{
    showMessage(MessageKind::Error, parent, text);
}

void SetQuestionHook(QuestionHook hook)
{
    questionHook() = std::move(hook);
}

bool Ask(QWidget* parent, const QString& text, const QString& yes, const QString& no)
{
    if (questionHook()) {
        const QuestionHook hook = questionHook();
        return hook(text, yes, no);
    }
    QMessageBox box(QMessageBox::Question, QStringLiteral("Question"), text, QMessageBox::NoButton, parent);
    box.setObjectName(QStringLiteral("QuestionBox"));
    box.setTextFormat(Qt::PlainText);
    QPushButton* yesButton = box.addButton(yes, QMessageBox::AcceptRole);
    QPushButton* noButton = box.addButton(no, QMessageBox::RejectRole);
    yesButton->setAccessibleName(yes);
    noButton->setAccessibleName(no);
    box.setDefaultButton(noButton);
    box.setEscapeButton(noButton);
    box.exec();
    return box.clickedButton() == yesButton;
}

}  // namespace ui
