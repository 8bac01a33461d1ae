#include "ui/TextPrompt.h"

#include <QInputDialog>
#include <QLineEdit>

namespace ui {

namespace {
TextPromptHook& hook()
{
    static TextPromptHook h;
    return h;
}
}  // namespace

std::optional<QString> AskText(QWidget* parent, const QString& title, const QString& label, const QString& initial)
{
    if (hook()) {
        const TextPromptHook h = hook();   // it may replace itself while it runs
        return h(label, initial);
    }
    bool ok = false;
    const QString text = QInputDialog::getText(parent, title, label, QLineEdit::Normal, initial, &ok);
    if (!ok) return std::nullopt;
    return text;
}

void SetTextPromptHook(TextPromptHook h) { hook() = std::move(h); }

}  // namespace ui
