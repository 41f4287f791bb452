#pragma once

// Foldable box of a settings panel: a title bar with a fold button over a container of rows.
// Created folded. Unfolded, the title bar gets a blue left edge and a darker background. A click
// anywhere on the title bar folds or unfolds it, as the fold button does.
//
// Threads: GUI thread only.
#include <QWidget>

namespace Ui {
class SettingItemBox;
}

class SettingItemBox : public QWidget {
    Q_OBJECT
public:
    explicit SettingItemBox(QWidget* parent = nullptr);
    ~SettingItemBox() override;

    void setBoxTitle(const QString& title);
    void addWidget(QWidget* widget);
    void insertWidget(QWidget* widget, int index);
    void setFoldStatus(bool folded);

    // As wide as the rows need even while folded, so that unfolding never widens the panel.
    QSize minimumSizeHint() const override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void on_pb_fold_clicked(bool checked);

private:
    void relayout(QWidget* added);

    Ui::SettingItemBox* ui;
};
