// A modal prompt for one line of text (a percentage, say): the text as typed when the person
// confirms, none when they cancel.
#pragma once

#include <QString>

#include <functional>
#include <optional>

class QWidget;

namespace ui {

std::optional<QString> AskText(QWidget* parent, const QString& title, const QString& label, const QString& initial);

// When set, AskText calls the hook instead of showing the prompt and returns its answer. An
// empty hook removes it.
using TextPromptHook = std::function<std::optional<QString>(const QString& label, const QString& initial)>;
void SetTextPromptHook(TextPromptHook hook);

}  // namespace ui
