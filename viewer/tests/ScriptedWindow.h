#pragma once

// The main window with its file dialog, modal dialogs and restart answered by the test.
#include <QDialog>
#include <QPushButton>
#include <QString>
#include <QtTest>

#include <functional>

#include "tools/nrtimerangedialog.h"
#include "ui/mainwidget.h"

class ScriptedWindow : public MainWidget {
public:
    QString nextFile;                        // the file dialog's answer
    std::function<int(QDialog*)> onDialog;   // every modal dialog; none: rejected

protected:
    QString chooseRecordingFile() override { return nextFile; }
    int execDialog(QDialog* dialog) override { return onDialog ? onDialog(dialog) : int(QDialog::Rejected); }
    void restartApplication() override {}
};

// Answers a time-range dialog (export or cut) with [start, end] and the file name, keeping the path
// it offered in *offered; any other dialog is rejected.
inline std::function<int(QDialog*)> answerRange(uint64_t start, uint64_t end, const QString& name, QString* offered) {
    return [=](QDialog* d) {
        auto* range = qobject_cast<NrTimeRangeDialog*>(d);
        if (!range)
            return int(QDialog::Rejected);
        if (offered)
            *offered = range->getSaveFileFullPath();
        range->setStartTime(start);
        range->setEndTime(end);
        range->setSaveFileName(name);
        QTest::mouseClick(range->findChild<QPushButton*>(QStringLiteral("pb_save")), Qt::LeftButton);
        return range->result();
    };
}
