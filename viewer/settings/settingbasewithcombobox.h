#pragma once

// Enumerated row: name label and a non-editable combo box. The label is the row's key (see
// SettingBaseWithLineEdit).
//
// Threads: GUI thread only.
#include <QWidget>

#include <string>

namespace Ui {
class SettingBaseWithComboBox;
}
class NrComboBox;

class SettingBaseWithComboBox : public QWidget {
    Q_OBJECT
public:
    explicit SettingBaseWithComboBox(std::string name, QWidget* parent = nullptr);
    ~SettingBaseWithComboBox() override;

    void addItem(const QString& text);
    void setToolTip(const QString& text);
    NrComboBox* comboBox() const;

signals:
    void signalItemValueChanged(std::string name, std::string item);

public slots:
    void slotItemValueChanged(std::string name, std::string value);

private slots:
    void cbCurrentTextChanged(const QString& text);

private:
    std::string name() const;

    Ui::SettingBaseWithComboBox* ui;
};
