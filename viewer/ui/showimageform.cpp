#include "showimageform.h"

#include <algorithm>

#include <QGraphicsPixmapItem>
#include <QGraphicsScene>

#include "nrgraphicsview.h"
#include "ui_showimageform.h"

namespace {
const QColor kEmptyFrameColor(QStringLiteral("#707070"));
}

ShowImageForm::ShowImageForm(QWidget* parent) : QWidget(parent), ui(new Ui::ShowImageForm) {
    ui->setupUi(this);
    m_scene = new QGraphicsScene(this);
    ui->graphicsView->setScene(m_scene);
    m_pixmap = QPixmap(m_frameWidth, m_frameHeight);
    m_pixmap.fill(kEmptyFrameColor);
    m_item = m_scene->addPixmap(m_pixmap);
    ui->graphicsView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ui->graphicsView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

ShowImageForm::~ShowImageForm() { delete ui; }

NrGraphicsView* ShowImageForm::view() const { return ui->graphicsView; }

void ShowImageForm::slotShowImage(const QImage& image) {
    // A frame larger than the resolution set (the fusion grid holding a smaller sensor in its
    // corner) shows that corner: a view of its pixels, no copy beyond the pixmap's own.
    if (m_frameWidth > 0 && m_frameHeight > 0 && (image.width() > m_frameWidth || image.height() > m_frameHeight)) {
        const QImage corner(image.constBits(), std::min(image.width(), m_frameWidth),
                            std::min(image.height(), m_frameHeight), image.bytesPerLine(), image.format());
        showPixMap(QPixmap::fromImage(corner));
        return;
    }
    showPixMap(QPixmap::fromImage(image));
}

void ShowImageForm::showPixMap(const QPixmap& pixmap) {
    m_pixmap = pixmap;
    m_item->setPixmap(m_pixmap);
    ++m_framesShown;
}

void ShowImageForm::slotSetResolution(int width, int height) {
    m_frameWidth = width;
    m_frameHeight = height;
    m_pixmap = QPixmap(width, height);
    m_pixmap.fill(kEmptyFrameColor);
    m_item->setPixmap(m_pixmap);
    // The scene only ever grows by itself: a smaller frame would sit in the corner of the old one.
    m_scene->setSceneRect(m_item->boundingRect());
    fitItem();
}

void ShowImageForm::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    fitItem();
}

void ShowImageForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    fitItem();
}

void ShowImageForm::fitItem() {
    if (!m_pixmap.isNull())
        ui->graphicsView->fitInView(m_item, Qt::KeepAspectRatio);
}
