#pragma once

// Edits one declaration of a widget style sheet in place.
#include <QString>

// Replaces the first declaration that starts with the word `property` ("border" matches
// "border: ..." but not "border-left: ...") by `declaration`; appends it after a space when absent.
QString replaceStyleDeclaration(const QString& styleSheet, const QString& property,
                                const QString& declaration);
