#include "ui/Dialogs.h"

#include "base/UserSettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>

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
    if (!FolderKind.isEmpty()) InitialDir = StartFolder(FolderKind);
    for (bool again = false;; again = true) {
        const std::optional<QString> name = Choose(parent, again);
        if (!name || name->isEmpty()) return false;
        FileName = *name;
        if (!save_) break;
        // The files as the save will write them, extension and all: a question about the name
        // typed would miss the file the extension makes.
        QList<QFileInfo> existing;
        for (const QString& target : Targets ? Targets(FileName) : QStringList{FileName})
            if (const QFileInfo info(target); info.exists()) existing << info;
        if (existing.isEmpty()) break;
        if (Ask(parent, ReplaceQuestion(existing, QDateTime::currentDateTime()), QLatin1String(ReplaceAnswer),
                QLatin1String(ChooseAnotherName)))
            break;
        InitialDir = QFileInfo(FileName).absolutePath();   // back where the person was
    }
    if (!FolderKind.isEmpty()) RememberFolder(FolderKind, QFileInfo(FileName).absolutePath());
    return true;
}

std::optional<QString> FileDialog::Choose(QWidget* parent, bool again)
{
    if (fileDialogHook()) {
        const FileDialogHook hook = fileDialogHook();
        return hook(*this);
    }

    const QStringList filters = QtNameFilters(Filter);
    QFileDialog dialog(parent);
    dialog.setObjectName(save_ ? QStringLiteral("SaveDialog") : QStringLiteral("OpenDialog"));
    dialog.setWindowTitle(save_ ? QStringLiteral("Save As") : QStringLiteral("Open"));
    // Qt's own dialog behaves the same on every desktop, and tests can drive it.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(save_ ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    // Execute asks itself, once the extension is known.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
        const int index = FilterIndex >= 1 && FilterIndex <= filters.size() ? FilterIndex : 1;
        dialog.selectNameFilter(filters[index - 1]);
    }
    if (!InitialDir.isEmpty()) dialog.setDirectory(InitialDir);
    if (again) dialog.selectFile(QFileInfo(FileName).fileName());   // the name to change

    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return std::nullopt;
    const qsizetype chosen = filters.indexOf(dialog.selectedNameFilter());
    if (chosen >= 0) FilterIndex = static_cast<int>(chosen) + 1;
    return files.first();
}

namespace {

QString FolderSetting(const QString& kind)
{
    return QStringLiteral("folders/") + kind;
}

bool WritableFolder(const QString& path)
{
    if (path.isEmpty()) return false;
    const QFileInfo info(path);
    return info.isDir() && info.isWritable();
}

QString AgeText(const QDateTime& then, const QDateTime& now)
{
    const qint64 seconds = then.secsTo(now);
    if (seconds < 0) return QString();   // a clock ahead of ours: the date alone says it
    if (seconds < 60) return QStringLiteral("just now");
    const auto ago = [](qint64 n, const char* unit) {
        return QStringLiteral("%1 %2%3 ago").arg(n).arg(QLatin1String(unit)).arg(n == 1 ? QString() : QStringLiteral("s"));
    };
    if (seconds < 3600) return ago(seconds / 60, "minute");
    if (seconds < 86400) return ago(seconds / 3600, "hour");
    return ago(seconds / 86400, "day");
}

}  // namespace

QString RememberedFolder(const QString& kind)
{
    QSettings settings = base::UserSettings();
    return settings.value(FolderSetting(kind)).toString();
}

void RememberFolder(const QString& kind, const QString& folder)
{
    QSettings settings = base::UserSettings();
    settings.setValue(FolderSetting(kind), QDir::cleanPath(folder));
}

QString StartFolder(const QString& kind)
{
    const QString candidates[] = {RememberedFolder(kind),
                                  QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation),
                                  QDir::homePath(), QDir::tempPath()};
    for (const QString& folder : candidates)
        if (WritableFolder(folder)) return QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    return QString();   // nothing writable anywhere: the dialog's own choice
}

QString ReplaceQuestion(const QList<QFileInfo>& existing, const QDateTime& now)
{
    const QLocale locale = QLocale::system();
    QStringList lines;
    for (const QFileInfo& file : existing) {
        const QDateTime changed = file.lastModified();
        const QString age = AgeText(changed, now);
        const QString when = locale.toString(changed, QLocale::ShortFormat);
        lines << QStringLiteral("\"%1\" in %2\n%3, last changed %4")
                     .arg(file.fileName(), QDir::toNativeSeparators(file.absolutePath()),
                          locale.formattedDataSize(file.size()),
                          age.isEmpty() ? when : age + QStringLiteral(" (") + when + QLatin1Char(')'));
    }
    const bool one = existing.size() == 1;
    return (one ? QStringLiteral("This file already exists:\n\n") : QStringLiteral("These files already exist:\n\n"))
           + lines.join(QStringLiteral("\n\n"))
           + (one ? QStringLiteral("\n\nReplace it?") : QStringLiteral("\n\nReplace them?"));
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
