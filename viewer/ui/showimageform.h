#pragma once

// The central image view: one pixmap in a scene, fitted into the view on every resize.
// GUI thread only; processors deliver images through queued connections.
#include <QPixmap>
#include <QWidget>

#include <cstdint>

class QGraphicsPixmapItem;
class QGraphicsScene;
class NrGraphicsView;

namespace Ui {
class ShowImageForm;
}

class ShowImageForm : public QWidget {
    Q_OBJECT
public:
    explicit ShowImageForm(QWidget* parent = nullptr);
    ~ShowImageForm() override;

    void showPixMap(const QPixmap& pixmap);
    NrGraphicsView* view() const;
    const QPixmap& currentPixmap() const { return m_pixmap; }
    QGraphicsPixmapItem* pixmapItem() const { return m_item; }
    // Images handed to the view since it was built (the display rate of load runs and tests).
    uint64_t framesShown() const { return m_framesShown; }

public slots:
    void slotShowImage(const QImage& image);
    // A grey frame of the new size until images arrive.
    void slotSetResolution(int width, int height);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void fitItem();

    Ui::ShowImageForm* ui;
    QGraphicsScene* m_scene = nullptr;
    QGraphicsPixmapItem* m_item = nullptr;
    QPixmap m_pixmap;
    int32_t m_frameWidth = 1280;
    int32_t m_frameHeight = 720;
    uint64_t m_framesShown = 0;
};
