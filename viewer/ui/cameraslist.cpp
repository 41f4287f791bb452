#include "ui/cameraslist.h"

#include <QIcon>
#include <QListWidgetItem>
#include <QPainter>
#include <QStyledItemDelegate>

#include "ui_cameraslist.h"
#include "widgets/nrcentre.h"
#include "widgets/nricons.h"
#include "widgets/nrwindowagent.h"

namespace {

constexpr int kDetailRole = Qt::UserRole + 1;

// The entry's text stays the serial (callers read it back); the product, and the address of an
// Ethernet camera, are drawn right-aligned beside it so that cameras can be told apart.
class CameraItemDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyledItemDelegate::paint(painter, option, index);
        const QString detail = index.data(kDetailRole).toString();
        if (detail.isEmpty())
            return;
        painter->save();
        QFont font = option.font;
        font.setPixelSize(12);
        painter->setFont(font);
        painter->setPen((option.state & QStyle::State_Selected) ? QColor(0xD7, 0xE7, 0xEE) : QColor(0x8A, 0x8F, 0x94));
        const QRect r = option.rect.adjusted(0, 0, -12, 0);
        painter->drawText(r, Qt::AlignRight | Qt::AlignVCenter,
                          QFontMetrics(font).elidedText(detail, Qt::ElideRight, r.width() / 2));
        painter->restore();
    }
};

} // namespace

CamerasList::CamerasList(std::vector<CameraDescription>& cameras, QWidget* parent)
    : QDialog(parent), ui(new Ui::CamerasList), m_parent(parent) {
    ui->setupUi(this);
    m_agent = new NrWindowAgent(this);
    m_agent->setup(this);
    m_agent->setTitleBar(ui->widget_title_name);
    setAttribute(Qt::WA_TranslucentBackground);

    connect(ui->pb_open, &QPushButton::clicked, this, &CamerasList::accept);
    connect(ui->pb_close, &QPushButton::clicked, this, &QDialog::reject);
    // A double-click opens the camera at once, as a user expects of a list of choices.
    connect(ui->listWidget_cameras, &QListWidget::itemDoubleClicked, this, &CamerasList::accept);

    ui->listWidget_cameras->setIconSize(QSize(24, 24));
    ui->listWidget_cameras->setItemDelegate(new CameraItemDelegate(ui->listWidget_cameras));
    const QIcon icon = iconWithSelectedColour(QStringLiteral(":/img/assets/btn_camera.svg"), QSize(24, 24));
    for (const CameraDescription& camera : cameras) {
        auto* item = new QListWidgetItem(icon, QString::fromStdString(camera.serial), ui->listWidget_cameras);
        QString detail = QString::fromStdString(camera.product);
        if (camera.linkType == norvale::LINK_ETHERNET)
            detail += QStringLiteral(" · ") + QString::fromStdString(camera.cameraIp);
        else if (camera.linkType == norvale::LINK_NETWORK_STREAM) // "t64_x16_y16_on8 on udp port 7777"
            detail += QStringLiteral(" · ") + QString::fromStdString(camera.firmwareVersion);
        item->setData(kDetailRole, detail);
        item->setToolTip(detail);
    }
    if (!cameras.empty())
        ui->listWidget_cameras->setCurrentRow(0);
    ui->lb_empty->setVisible(cameras.empty());
}

CamerasList::~CamerasList() {
    delete ui;
}

bool CamerasList::getSelectSerial(QString& serial) const {
    const QListWidgetItem* item = ui->listWidget_cameras->currentItem();
    if (ui->listWidget_cameras->currentRow() < 0 || !item)
        return false;
    serial = item->text();
    return true;
}

bool CamerasList::getSelectIndex(int& index) const {
    const int row = ui->listWidget_cameras->currentRow();
    if (row < 0)
        return false;
    index = row;
    return true;
}

void CamerasList::rejected() {
    emit QDialog::rejected();
}

void CamerasList::on_pb_win_close_clicked() {
    close();
}

void CamerasList::accept() {
    QDialog::accept();
}

void CamerasList::showEvent(QShowEvent* event) {
    centreOverWidget(this, m_parent);
    QDialog::showEvent(event);
}
