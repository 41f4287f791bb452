#pragma once

// Edits one declaration of a widget style sheet in place.
#include <QString>

class QWidget;

// Replaces the first declaration that starts with the word `property` ("border" matches
// "border: ..." but not "border-left: ...") by `declaration`; appends it after a space when absent.
QString replaceStyleDeclaration(const QString& styleSheet, const QString& property,
                                const QString& declaration);

// Sets the boolean dynamic property `name` that a style sheet selects on ([invalid="true"]) and
// re-applies the style when it changed, which Qt does not do by itself.
void setStyleFlag(QWidget* widget, const char* name, bool on);
