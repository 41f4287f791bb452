#pragma once

// Integer row of a settings panel: name label, unit, a line edit between minus and plus buttons,
// and a slider shown while the line edit has focus. The row's key is its label: the parameter
// name is recovered from the label text, so a broadcast of (name, value) reaches only its row.
//
// Threads: GUI thread only.
#include <QWidget>

#include <functional>
#include <string>

namespace Ui {
class SettingBaseWithLineEdit;
}

enum CompStatus { CompStatusError = 0, CompStatusNormal = 1 };

class SettingBaseWithLineEdit : public QWidget {
    Q_OBJECT
public:
    explicit SettingBaseWithLineEdit(std::string name, QWidget* parent = nullptr);
    ~SettingBaseWithLineEdit() override;

    void setSliderBarValueRange(int min, int max);
    // Ignored outside the range last given.
    void setCurrentValue(int value);
    void setValueUnit(const std::string& unit);
    void setToolTip(const QString& text);
    // Called after every value change with (name, value); its result is not used.
    void setParamOptCallback(std::function<bool(std::string, int)> callback);
    void setShowStatus(CompStatus status);

signals:
    void signalItemValueChanged(std::string name, int);

public slots:
    void slotItemValueChanged(std::string name, int value);
    void slotItemValueChanged(std::string name, float value);

private slots:
    void on_horizontalSlider_valueChanged(int value);
    void on_le_nr_line_edit_textChanged(const QString& text);
    void on_pb_add_item_value_clicked();
    void on_pb_sub_item_value_clicked();

private:
    std::string name() const;
    void step(int delta);

    Ui::SettingBaseWithLineEdit* ui;
    int minimum = 0;
    int maximum = 99;
    std::function<bool(std::string, int)> paramOptCallback;
};
