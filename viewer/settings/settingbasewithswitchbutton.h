#pragma once

// Boolean row: name label and a switch. The label is the row's key (see SettingBaseWithLineEdit).
//
// Threads: GUI thread only.
#include <QWidget>

#include <string>

namespace Ui {
class SettingBaseWithSwitchButton;
}

class SettingBaseWithSwitchButton : public QWidget {
    Q_OBJECT
public:
    explicit SettingBaseWithSwitchButton(std::string name, QWidget* parent = nullptr);
    ~SettingBaseWithSwitchButton() override;

    // Sets the switch without emitting.
    void setSwitchBottonStatus(bool on);
    void setToolTip(const QString& text);

signals:
    void signalItemValueChanged(std::string name, bool value);

public slots:
    void slotItemValueChanged(std::string name, bool value);

private slots:
    void on_switchButton_clicked();

private:
    Ui::SettingBaseWithSwitchButton* ui;
};
