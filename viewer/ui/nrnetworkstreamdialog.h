#pragma once

// Device -> Open Network Stream...: the address and port an event stream comes to over UDP (as
// the field's streaming tools send it), the sensor size and the wire format. The open button stays
// disabled, and the offending field red, while the address is not a dotted quad (or localhost),
// the port not 1-65535 or a side not 1-4096. The last values are offered again next time.
//
// Threads: GUI thread only.
#include <QDialog>

#include <cstdint>

class QComboBox;
class QFrame;
class QLineEdit;
class QPushButton;

class NrNetworkStreamDialog : public QDialog {
    Q_OBJECT
public:
    explicit NrNetworkStreamDialog(QWidget* parent = nullptr);

    // "udp://ADDRESS:PORT" of what is typed.
    QString url() const;
    uint32_t streamWidth() const;
    uint32_t streamHeight() const;
    // "t64_x16_y16_on8" or "t32_x16_y15_on1".
    QString wireFormat() const;
    bool isInputValid() const;

    // What the fields hold, for tests: address, port, width, height.
    QLineEdit* field(int i) const { return m_edits[i]; }
    QComboBox* formatBox() const { return m_format; }
    QPushButton* openButton() const { return m_open; }

private:
    void validate();
    void remember() const;

    QLineEdit* m_edits[4] = {};
    QFrame* m_frames[4] = {};
    QComboBox* m_format = nullptr;
    QPushButton* m_open = nullptr;
};
