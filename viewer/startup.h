#pragma once

// Pieces of the program's start-up; GUI thread, before the first window is built.
#include <QString>
#include <QStringList>
#include <QtGlobal>

// Installs ":/app_zh.qm" for "zh", ":/app_en.qm" for anything else; untranslated on failure.
void installLanguage(const QString& language);

// Registers the embedded interface font and makes it the application font.
// Returns its family, or "" when the font is missing (then the default font stays).
QString installApplicationFont();

// Appends "<local time>: <message>" to "debug.log" in the working folder; any thread
// (each call opens, writes and closes the file; a file that cannot be opened drops the line).
void nrMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message);

// The recording named on the command line (the first argument that is not an option or an
// option's value), or "".
QString recordingFromArguments(const QStringList& arguments);

// The serial after "--camera" on the command line, or "".
QString cameraFromArguments(const QStringList& arguments);

// The application version shown to the user.
extern const char* const kViewerVersion;
