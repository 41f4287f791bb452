#include "mainwidget.h"

#include <QFile>
#include <QScreen>
#include <QShowEvent>
#include <QSlider>
#include <QStyle>

#include "loadconfig.h"
#include "startup.h"
#include "ui_mainwidget.h"
#include "widgets/nrwindowagent.h"

namespace {

QString readStyle(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

// Re-evaluates style rules that depend on a dynamic property.
void setStyleProperty(QWidget* widget, const char* name, const QVariant& value) {
    widget->setProperty(name, value);
    widget->style()->unpolish(widget);
    widget->style()->polish(widget);
    widget->update();
}

} // namespace

MainWidget::MainWidget(QWidget* parent) : QWidget(parent), ui(new Ui::MainWidget) {
    ui->setupUi(this);

    m_agent = new NrWindowAgent(this);
    m_agent->setup(this);
    m_agent->setTitleBar(ui->widget_title_space);
    m_agent->setSystemButton(NrWindowAgent::WindowIcon, ui->pb_logo_button);
    m_agent->setSystemButton(NrWindowAgent::Minimize, ui->pb_win_min);
    m_agent->setSystemButton(NrWindowAgent::Maximize, ui->pb_win_max);
    m_agent->setSystemButton(NrWindowAgent::Close, ui->pb_win_close);
    setAttribute(Qt::WA_TranslucentBackground);

    initViewer();
    initStyle();
    m_config = LoadConfig::getGlobalConfig();
}

MainWidget::~MainWidget() { delete ui; }

void MainWidget::initViewer() {
    m_imageView = ui->widget_show_image;
    // Stands in for the timeline until the three-handle slider takes this place.
    auto* placeholder = new QSlider(Qt::Horizontal, this);
    placeholder->setObjectName(QStringLiteral("slider_placeholder"));
    placeholder->setEnabled(false);
    placeholder->setValue(0);
    ui->layout_time_slider->addWidget(placeholder);
}

void MainWidget::initStyle() {
    setStyleSheet(readStyle(QStringLiteral(":/styles/windowbar.qss")) +
                  readStyle(QStringLiteral(":/styles/mainwidget.qss")));
    for (QWidget* menu : {ui->pb_menu_file, ui->pb_menu_device, ui->pb_menu_setting, ui->pb_menu_tools,
                          ui->pb_menu_help})
        menu->setProperty("menu_button", true);

    ui->pb_play->setToolTip(tr("Play/Stop"));
    ui->pb_record->setToolTip(tr("Start/Stop recording"));
    ui->pb_prv->setToolTip(tr("Previous frame"));
    ui->pb_next->setToolTip(tr("Next frame"));
    ui->pb_stop->setToolTip(tr("Reset the playback progress to the beginning"));
    ui->pb_loop->setToolTip(tr("Select to automatically replay at the end of the playback"));
    ui->lb_status_version->setText(tr("Version: ") + QLatin1String(kViewerVersion));

    setViewerTypeStyle(m_viewerType);
    maximizedChanged(false);
}

void MainWidget::setViewerTypeStyle(int viewerType) {
    setStyleProperty(ui->pb_viewer_type, "viewer_type", viewerType);
}

void MainWidget::on_pb_win_min_clicked() { showMinimized(); }

void MainWidget::on_pb_win_close_clicked() { close(); }

void MainWidget::on_pb_win_max_clicked() {
    if (isMaximized())
        showNormal();
    else
        showMaximized();
}

void MainWidget::maximizedChanged(bool max) {
    setStyleProperty(ui->pb_win_max, "type", max ? QStringLiteral("restore") : QStringLiteral("maxsize"));
    ui->pb_win_max->setToolTip(max ? tr("Restore") : tr("Maximize"));
    // Rounded corners only when the window floats; a maximised window fills the screen edge to edge.
    for (QWidget* w : {ui->widget_title_bar, ui->widget_window_frame, ui->widget_status_bar})
        setStyleProperty(w, "window_maximized", max);
}

void MainWidget::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Centre on the first show only; coming back from minimised keeps the user's position.
    if (event->spontaneous() || isMaximized())
        return;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move((area.width() - width()) / 2, (area.height() - height()) / 2);
    }
}

void MainWidget::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
    if (event->type() == QEvent::WindowStateChange)
        maximizedChanged(isMaximized());
    QWidget::changeEvent(event);
}
