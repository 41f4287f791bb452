#include "ui/nrnetworkstreamdialog.h"

#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "widgets/nrstylesheet.h"
#include "widgets/nrwindowagent.h"

namespace {

// The session's last choice (a user reopening a stream types nothing twice).
struct Last {
    QString address = QStringLiteral("127.0.0.1");
    QString port = QStringLiteral("7777");
    QString width = QStringLiteral("640");
    QString height = QStringLiteral("480");
    int format = 0;
};
Last& last() {
    static Last l;
    return l;
}

const char* const kFormats[] = {"t64_x16_y16_on8", "t32_x16_y15_on1"};

bool inRange(const QString& text, uint32_t low, uint32_t high) {
    bool ok = false;
    const uint v = text.trimmed().toUInt(&ok, 10);
    return ok && v >= low && v <= high;
}

bool isDottedQuad(const QString& text) {
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    for (const QString& p : parts)
        if (p.isEmpty() || p.size() > 3 || !inRange(p, 0, 255))
            return false;
    return true;
}

} // namespace

NrNetworkStreamDialog::NrNetworkStreamDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("NrNetworkStreamDialog"));
    setModal(true);
    setAttribute(Qt::WA_TranslucentBackground);
    resize(560, 420);
    setStyleSheet(QStringLiteral(
        "QWidget { font: 18px \"Noto Sans SC Medium\"; }"
        "#frame_dialog { background: #FFFFFF; border: 1px solid #C9D3D9; border-radius: 9px; }"
        "#widget_title_bar { background: transparent; border-bottom: 1px solid #E1E4E7; }"
        "#lb_title { color: #004B6A; font-size: 18px; }"
        "#lb_title_icon { image: url(:/img/assets/btn_camera.svg); }"
        "#pb_win_close { border: none; border-radius: 4px; background: transparent;"
        " image: url(:/img/assets/icon_toasts_close.svg); padding: 2px; }"
        "#pb_win_close:hover { background: #EDF1F3; }"
        "QLabel { color: #555555; font-size: 14px; }"
        "#lb_hint { color: #8A8F94; font-size: 12px; }"
        "QFrame[field=\"true\"] { border: 1px solid #A7A7A7; border-radius: 4px; background: #FFFFFF; }"
        "QFrame[field=\"true\"][invalid=\"true\"] { border: 1px solid #FF6058; background: #FFF6F6; }"
        "QLineEdit { font-size: 12px; color: #333333; border: none; background: transparent; }"
        "QComboBox { font-size: 12px; color: #333333; border: 1px solid #A7A7A7; border-radius: 4px;"
        " background: #FFFFFF; padding: 0 8px; min-height: 34px; }"
        "#pb_open { background: #004B6A; color: #FFFFFF; border: none; border-radius: 19px; font-size: 15px; }"
        "#pb_open:hover { background: #0A6690; }"
        "#pb_open:disabled { background: #C3C3C3; }"
        "#pb_cancel { background: #FFFFFF; color: #004B6A; border: 2px solid #004B6A; border-radius: 19px;"
        " font-size: 15px; }"
        "#pb_cancel:hover { background: #EDF1F3; }"));

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* dialog = new QFrame(this);
    dialog->setObjectName(QStringLiteral("frame_dialog"));
    outer->addWidget(dialog);
    auto* column = new QVBoxLayout(dialog);
    column->setSpacing(0);
    column->setContentsMargins(0, 0, 0, 0);

    auto* titleBar = new QWidget(dialog);
    titleBar->setObjectName(QStringLiteral("widget_title_bar"));
    titleBar->setFixedHeight(52);
    auto* titleRow = new QHBoxLayout(titleBar);
    titleRow->setContentsMargins(20, 0, 12, 0);
    auto* icon = new QLabel(titleBar);
    icon->setObjectName(QStringLiteral("lb_title_icon"));
    icon->setFixedSize(22, 22);
    auto* title = new QLabel(tr("Open Network Stream"), titleBar);
    title->setObjectName(QStringLiteral("lb_title"));
    auto* close = new QPushButton(titleBar);
    close->setObjectName(QStringLiteral("pb_win_close"));
    close->setFixedSize(30, 30);
    close->setFocusPolicy(Qt::NoFocus);
    titleRow->addWidget(icon);
    titleRow->addWidget(title);
    titleRow->addStretch();
    titleRow->addWidget(close);
    column->addWidget(titleBar);

    auto* grid = new QGridLayout;
    grid->setContentsMargins(28, 20, 28, 8);
    grid->setHorizontalSpacing(16);
    grid->setVerticalSpacing(12);
    const QString labels[4] = {tr("Address"), tr("Port"), tr("Width"), tr("Height")};
    const QString values[4] = {last().address, last().port, last().width, last().height};
    for (int i = 0; i < 4; ++i) {
        m_frames[i] = new QFrame(dialog);
        m_frames[i]->setProperty("field", true);
        m_frames[i]->setFixedHeight(36);
        auto* row = new QHBoxLayout(m_frames[i]);
        row->setContentsMargins(8, 0, 8, 0);
        m_edits[i] = new QLineEdit(values[i], m_frames[i]);
        row->addWidget(m_edits[i]);
        connect(m_edits[i], &QLineEdit::textChanged, this, &NrNetworkStreamDialog::validate);
        grid->addWidget(new QLabel(labels[i], dialog), i, 0);
        grid->addWidget(m_frames[i], i, 1);
    }
    m_format = new QComboBox(dialog);
    m_format->addItem(tr("t64_x16_y16_on8 (13 bytes an event)"));
    m_format->addItem(tr("t32_x16_y15_on1 (8 bytes an event)"));
    m_format->setCurrentIndex(last().format);
    grid->addWidget(new QLabel(tr("Format"), dialog), 4, 0);
    grid->addWidget(m_format, 4, 1);
    auto* hint = new QLabel(tr("Only this machine's own streams unless you name another interface's address."), dialog);
    hint->setObjectName(QStringLiteral("lb_hint"));
    hint->setWordWrap(true);
    grid->addWidget(hint, 5, 1);
    column->addLayout(grid);
    column->addStretch();

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(20);
    buttons->setContentsMargins(28, 12, 28, 24);
    buttons->addStretch();
    auto* cancel = new QPushButton(tr("Cancel"), dialog);
    cancel->setObjectName(QStringLiteral("pb_cancel"));
    m_open = new QPushButton(tr("Open"), dialog);
    m_open->setObjectName(QStringLiteral("pb_open"));
    for (QPushButton* b : {cancel, m_open}) {
        b->setFixedSize(120, 38);
        b->setCursor(Qt::PointingHandCursor);
        b->setFocusPolicy(Qt::NoFocus);
        buttons->addWidget(b);
    }
    column->addLayout(buttons);

    auto* agent = new NrWindowAgent(this);
    agent->setup(this);
    agent->setTitleBar(titleBar);
    agent->setHitTestVisible(close);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_open, &QPushButton::clicked, this, [this] {
        if (!isInputValid())
            return;
        remember();
        accept();
    });
    validate();
}

QString NrNetworkStreamDialog::url() const {
    return QStringLiteral("udp://%1:%2").arg(m_edits[0]->text().trimmed(), m_edits[1]->text().trimmed());
}

uint32_t NrNetworkStreamDialog::streamWidth() const { return m_edits[2]->text().trimmed().toUInt(); }
uint32_t NrNetworkStreamDialog::streamHeight() const { return m_edits[3]->text().trimmed().toUInt(); }
QString NrNetworkStreamDialog::wireFormat() const { return QString::fromLatin1(kFormats[m_format->currentIndex() == 1]); }
bool NrNetworkStreamDialog::isInputValid() const { return m_open->isEnabled(); }

void NrNetworkStreamDialog::validate() {
    const QString address = m_edits[0]->text().trimmed();
    const bool ok[4] = {address == QLatin1String("localhost") || isDottedQuad(address),
                        inRange(m_edits[1]->text(), 1, 65535), inRange(m_edits[2]->text(), 1, 4096),
                        inRange(m_edits[3]->text(), 1, 4096)};
    bool all = true;
    for (int i = 0; i < 4; ++i) {
        setStyleFlag(m_frames[i], "invalid", !ok[i]);
        all = all && ok[i];
    }
    m_open->setEnabled(all);
}

void NrNetworkStreamDialog::remember() const {
    last() = {m_edits[0]->text().trimmed(), m_edits[1]->text().trimmed(), m_edits[2]->text().trimmed(),
              m_edits[3]->text().trimmed(), m_format->currentIndex()};
}
