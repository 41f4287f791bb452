#pragma once

// The viewer's single top-level window: a frameless frame with our own title row, the image view,
// the play bar, the side-bar area and the status bar. GUI thread only.
#include <QWidget>

class LoadConfig;
class NrWindowAgent;
class ShowImageForm;

namespace Ui {
class MainWidget;
}

class MainWidget : public QWidget {
    Q_OBJECT
public:
    explicit MainWidget(QWidget* parent = nullptr);
    ~MainWidget() override;

    NrWindowAgent* windowAgent() const { return m_agent; }
    ShowImageForm* imageView() const { return m_imageView; }

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private slots:
    void on_pb_win_min_clicked();
    void on_pb_win_close_clicked();
    void on_pb_win_max_clicked();
    void maximizedChanged(bool max);

private:
    void initViewer();
    void initStyle();
    void setViewerTypeStyle(int viewerType);

    Ui::MainWidget* ui;
    NrWindowAgent* m_agent = nullptr;
    ShowImageForm* m_imageView = nullptr;
    int m_viewerType = 2;
    LoadConfig* m_config = nullptr;
};
