#pragma once

// Line edit of the setting rows: blue border while it has keyboard focus, grey otherwise.
// signalMouseHoverd follows keyboard focus (true on focus in, false on focus out).
//
// Threads: GUI thread only.
#include <QLineEdit>

class NrLineEditBase : public QLineEdit {
    Q_OBJECT
public:
    explicit NrLineEditBase(QWidget* parent = nullptr);

    // Replaces the border declaration of the style sheet by a 1 px border in colour c.
    void setBorderColor(const QString& c);

signals:
    void signalMouseHoverd(bool);

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
};
