#pragma once

// Rounded light panel that stacks the widgets given to it.
//
// Threads: GUI thread only.
#include <QWidget>

namespace Ui {
class PopWidget;
}

class PopWidget : public QWidget {
    Q_OBJECT
public:
    explicit PopWidget(QWidget* parent = nullptr);
    ~PopWidget() override;

    void addWidget(QWidget* widget);

private:
    Ui::PopWidget* ui;
};
