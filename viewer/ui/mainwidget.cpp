// MainWidget: construction, wiring and the play bar.
#include "mainwidget.h"

#include <QAction>
#include <QDebug>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMetaType>
#include <QMimeData>
#include <QScreen>
#include <QShowEvent>
#include <QStyle>

#include <utility>
#include <vector>

#include "Utility/Utility.h"
#include "Utility/nrfilerecorder.h"
#include "loadconfig.h"
#include "norvale/ApsFileReader.h"
#include "norvale/DvsFileReader.h"
#include "norvale/EventFileFormat.h"
#include "processing/nreventsproccess.h"
#include "processing/nrfusioncameradataprocessor.h"
#include "processing/nrmetatypes.h"
#include "processing/nrplaybackfront.h"
#include "settings/sidebarapssettingui.h"
#include "settings/sidebarcamerasettingui.h"
#include "settings/sidebardvssettingui.h"
#include "startup.h"
#include "ui/nrdvscamerasource.h"
#include "ui/nrsource.h"
#include "ui/showimageform.h"
#include "ui_mainwidget.h"
#include "widgets/nrthreehandleslider.h"
#include "widgets/nrtooltip.h"
#include "widgets/nrtooltipinstaller.h"
#include "widgets/nrwindowagent.h"
#include "widgets/waitingwin.h"

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

const QColor kTagRising(QStringLiteral("#FF6058"));
const QColor kTagFalling(QStringLiteral("#58DB6D"));

} // namespace

MainWidget::MainWidget(QWidget* parent) : QWidget(parent), ui(new Ui::MainWidget) {
    nrRegisterMetaTypes();
    ui->setupUi(this);

    m_agent = new NrWindowAgent(this);
    m_agent->setup(this);
    m_agent->setTitleBar(ui->widget_title_space);
    m_agent->setSystemButton(NrWindowAgent::WindowIcon, ui->pb_logo_button);
    m_agent->setSystemButton(NrWindowAgent::Minimize, ui->pb_win_min);
    m_agent->setSystemButton(NrWindowAgent::Maximize, ui->pb_win_max);
    m_agent->setSystemButton(NrWindowAgent::Close, ui->pb_win_close);
    setAttribute(Qt::WA_TranslucentBackground);
    setAcceptDrops(true);

    initParam();
    initViewer();
    initStyle();
    initFileMenu();
    initDeviceMenu();
    initSettingMenu();
    initToolsMenu();
    initHelpMenu();
    initViewerMenu();
    initSidebarSettingUI();
    initConnect();
    m_config = LoadConfig::getGlobalConfig();
}

MainWidget::~MainWidget() {
    if (ui->pb_play->isChecked())
        ui->pb_play->setChecked(false);
    delete m_recorder; // ends a timed recording while its camera is still open
    m_recorder = nullptr;
    delete m_source; // stops its stream before the processor it feeds goes
    m_source = nullptr;
    delete m_eventProcessor; // joins its threads before the widgets it talks to go
    m_eventProcessor = nullptr;
    delete m_fusionProcessor;
    m_fusionProcessor = nullptr;
    delete ui;
}

void MainWidget::initParam() {
    m_textOpenCamera = tr("Open Camera");
    m_textCameraInfo = tr("Camera Info");
    m_textOpenNetworkStream = tr("Open Network Stream...");
    m_textIpConfig = tr("IP Configuration");
    m_textOpenRecording = tr("Open Recording");
    m_textSaveAs = tr("Save as...");
    m_textCut = tr("Cut Recording");
    m_textQuit = tr("Quit");
    m_textGeneralSetting = tr("General Setting");
    m_textLanguage = tr("EN/中文");
    m_textAboutUs = tr("About us");
    m_textToggleTrim = tr("Toggle Start/End Point");
    m_eventProcessor = new NrEventProcessor();
    m_recorder = new NrFileRecorder(nullptr);
    m_fusionProcessor = new NrFusionCameraDataProcessor();
}

void MainWidget::initViewer() {
    m_imageView = ui->widget_show_image;
    m_slider = new NrThreeHandleSlider(this, Qt::Horizontal, NrThreeHandleSlider::CenterHandle);
    m_slider->setObjectName(QStringLiteral("slider_time"));
    m_slider->setEnabled(false);
    m_slider->setValue(0);
    ui->layout_time_slider->addWidget(m_slider);
    m_waitWin = new WaitingWin(m_imageView);
    m_waitWin->setWindowModality(Qt::ApplicationModal);
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
    // The viewer's own tips, anchored above the buttons, instead of the native ones.
    for (QWidget* w : {ui->pb_play, ui->pb_record, ui->pb_prv, ui->pb_next, ui->pb_stop, ui->pb_loop})
        NrToolTipInstaller::attach(w);
    ui->lb_status_version->setText(tr("Version: ") + QLatin1String(kViewerVersion));

    // No entries that lead nowhere: the record button and DVS panel come with a camera, the APS
    // panel with a fusion camera, the viewer type with fusion sources; the recording time shows
    // while recording.
    for (QWidget* w : {static_cast<QWidget*>(ui->pb_record), static_cast<QWidget*>(ui->lb_recoding_time),
                       static_cast<QWidget*>(ui->pb_viewer_type), static_cast<QWidget*>(ui->pb_fold_dvs_setting),
                       static_cast<QWidget*>(ui->pb_fold_aps_setting)})
        w->hide();

    // Nothing to step through before a recording is open.
    for (QWidget* w : {ui->pb_loop, ui->pb_next, ui->pb_prv, ui->pb_stop})
        w->setEnabled(false);
    ui->label_time->setText(QStringLiteral("--/--"));

    setViewerTypeStyle(m_viewerType);
    maximizedChanged(false);
}

void MainWidget::initSidebarSettingUI() {
    m_cameraSidebar = new SidebarCameraSettingUI(ui->frame_setting);
    m_cameraSidebar->setObjectName(QStringLiteral("sidebar_camera"));
    ui->layout_sidebar_setting->addWidget(m_cameraSidebar);
    m_cameraSidebar->show();
    m_dvsSidebar = new SidebarDvsSettingUI(ui->frame_setting);
    m_dvsSidebar->setObjectName(QStringLiteral("sidebar_dvs"));
    ui->layout_sidebar_setting->addWidget(m_dvsSidebar);
    m_dvsSidebar->hide();
    m_apsSidebar = new SidebarApsSettingUI(ui->frame_setting);
    m_apsSidebar->setObjectName(QStringLiteral("sidebar_aps"));
    ui->layout_sidebar_setting->addWidget(m_apsSidebar);
    m_apsSidebar->hide();
    // The settings area is as wide as the shown panel needs (each panel sizes its own column): the
    // image view takes the rest, and gives way first when the window is small.
    ui->frame_setting->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    // The settings area opens with its button.
    ui->frame_setting->setVisible(ui->pb_fold_setting->isChecked());
}

void MainWidget::initConnect() {
    connect(this, &MainWidget::signalShowLeftBottomTips, this,
            qOverload<QString, NrMessageType, QString>(&MainWidget::slotShowLeftBottomTips));
    connect(this, &MainWidget::signalImageReslotionChanged, m_imageView, &ShowImageForm::slotSetResolution);
    // Both camera panels tell the user how Load, Export and Default went.
    connect(m_dvsSidebar, &SidebarDvsSettingUI::signalShowLeftBottomTips, this, &MainWidget::signalShowLeftBottomTips);
    connect(m_apsSidebar, &SidebarApsSettingUI::signalShowLeftBottomTips, this, &MainWidget::signalShowLeftBottomTips);
    connectEventProcessor();
    connectRecorder();
    connectFusionProcessor();
    // Recordings play and export at the slow rate the side bar shows from the start, not only once
    // the user picks one (an untouched side bar made every video a tenth too long). The side bar
    // sends the exact frame step: a display rate in whole frames would truncate slow rates.
    for (NrPlaybackFront* front : {m_eventProcessor->playbackFront(), m_fusionProcessor->playbackFront()}) {
        front->setFrameStepUs(m_cameraSidebar->frameStepUs());
        connect(m_cameraSidebar, &SidebarCameraSettingUI::signalFrameStepChanged, front,
                &NrPlaybackFront::setFrameStepUs);
    }
}

// The play bar and the timeline drive the front of the recording shown, and nothing else.
void MainWidget::connectPlayBar(NrPlaybackFront* front) {
    for (const QMetaObject::Connection& c : m_playBarConnections)
        disconnect(c);
    m_playBarConnections.clear();
    if (!front)
        return;
    front->slotPlayLoop(ui->pb_loop->isChecked());
    m_playBarConnections = {
        connect(ui->pb_prv, &QPushButton::pressed, front, &NrPlaybackFront::preFrame),
        connect(ui->pb_next, &QPushButton::pressed, front, &NrPlaybackFront::nextFrame),
        connect(ui->pb_stop, &QPushButton::pressed, front, &NrPlaybackFront::slotPlaybackReset),
        connect(this, &MainWidget::signalPlaybackReset, front, &NrPlaybackFront::slotPlaybackReset),
        connect(ui->pb_loop, &QPushButton::toggled, front, &NrPlaybackFront::slotPlayLoop),
        connect(m_slider, &NrThreeHandleSlider::centerValueMove, front, &NrPlaybackFront::setPlayPos),
        connect(m_slider, &NrThreeHandleSlider::centerValueTrackClick, front, &NrPlaybackFront::setPlayPos),
        connect(m_slider, &NrThreeHandleSlider::lowerValueChanged, front, &NrPlaybackFront::slotSetLowerTimeStamp),
        connect(m_slider, &NrThreeHandleSlider::upperValueChanged, front, &NrPlaybackFront::slotSetUpperTimeStamp),
        connect(m_waitWin, &WaitingWin::signalCancelRequested, front, &NrPlaybackFront::cancelWork)};
}

// What the event processor shows and reports reaches the window; the play bar goes to the front of
// the recording shown (connectPlayBar). The processor emits on the GUI thread: direct connections.
void MainWidget::connectEventProcessor() {
    NrEventProcessor* p = m_eventProcessor;
    connect(this, &MainWidget::signalOpenRawFile, p, &NrEventProcessor::loadFile);
    connect(p, &NrEventProcessor::signalLoadingStatus, this, &MainWidget::slotSetWaitWinStatus);
    connect(p, &NrEventProcessor::signalProgress, m_waitWin, &WaitingWin::setProgress);
    connect(p, &NrEventProcessor::signalDisplaySize, this, &MainWidget::signalImageReslotionChanged);
    connect(p, &NrEventProcessor::signalEventImage, m_imageView, &ShowImageForm::slotShowImage);
    connect(p, &NrEventProcessor::signalRealTimeTimeStamp, this, &MainWidget::showTimeStamp);
    connect(p, &NrEventProcessor::signalLocalTime, this, &MainWidget::showLocalTime);
    connect(p, &NrEventProcessor::signalStartTimeStamp, this, &MainWidget::slotSetSliderStartTime);
    connect(p, &NrEventProcessor::signalEndTimeStamp, this, &MainWidget::slotSetSliderEndTime);
    connect(p, &NrEventProcessor::signalPlayStatus, ui->pb_play, &QPushButton::setChecked);
    connect(p, &NrEventProcessor::signalShowLeftBottomTips, this,
            qOverload<QString, NrMessageType, QString>(&MainWidget::slotShowLeftBottomTips));
    connect(this, &MainWidget::signalExportVideo, p, &NrEventProcessor::slotExportVideo);
    connect(this, &MainWidget::signalCutRawFile, p, &NrEventProcessor::slotCutRawFile);
    connect(p, &NrEventProcessor::signalTriggerList, this, [this](const NrTriggerList& triggers) {
        for (const auto& t : triggers)
            m_slider->addTag(t.first, t.second == 1 ? kTagRising : kTagFalling);
    });
    connect(p, &NrEventProcessor::signalRateProfile, m_slider, &NrThreeHandleSlider::setRateProfile);
    connect(m_cameraSidebar, &SidebarCameraSettingUI::signalCumulativeTimeChanged, p, &NrEventProcessor::setAccTime);
    connect(m_cameraSidebar, &SidebarCameraSettingUI::signalCumulativeTimeChanged, this, [this](uint64_t us) {
        m_dvsBatchInterval = us;
        if (auto* camera = qobject_cast<NrDvsCameraSource*>(m_source))
            camera->setBatchTime(us);
        qDebug() << "set dvs time interval: " << us;
    });
}

bool MainWidget::isRecordingFile(const QString& path) {
    // The extension of some event format, and content a reader takes (a ".txt" of notes is not
    // one); opening reads the header or first lines only, never indexes.
    norvale::EventFileFormat format;
    return norvale::formatFromExtension(path.toStdString(), format) &&
           norvale::DvsFileReader::createFileReader(path.toStdString()) != nullptr;
}

QString MainWidget::recordingFileFilters() {
    // "All event files" first, then one filter per format; the content decides what opens.
    QStringList filters, every;
    for (const norvale::EventFileFormatInfo& f : norvale::eventFileFormats()) {
        QStringList patterns;
        for (const QString& ext : QString::fromLatin1(f.extensions).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            patterns << QStringLiteral("*") + ext;
            if (!every.contains(patterns.last()))
                every << patterns.last();
        }
        filters << QStringLiteral("%1 (%2)").arg(QString::fromLatin1(f.name), patterns.join(QLatin1Char(' ')));
    }
    filters.prepend(tr("All event files (%1)").arg(every.join(QLatin1Char(' '))));
    return filters.join(QStringLiteral(";;"));
}

QString MainWidget::chooseRecordingFile() {
    return QFileDialog::getOpenFileName(this, tr("Select an event file"), m_config->inputRawFilePath,
                                        recordingFileFilters());
}

void MainWidget::slotOpenRecording() {
    const QString path = chooseRecordingFile();
    if (!path.isEmpty())
        openRecording(path);
}

void MainWidget::openRecording(const QString& path) {
    const QFileInfo file(path);
    m_config->inputRawFilePath = file.absolutePath();
    // The label names the format the content shows (what the reader will use), not the extension.
    norvale::EventFileFormat format = norvale::EventFileFormat::Evt3;
    std::string problem;
    const bool known = norvale::detectFormat(path.toStdString(), format, problem);
    ui->lb_viewer_file_name->setText(
        known ? QStringLiteral("%1 \u2014 %2").arg(file.fileName(), QString::fromLatin1(norvale::formatInfo(format).name))
              : file.fileName());
    m_cutExtension = QStringLiteral(".raw");
    if (known && norvale::formatInfo(format).writable)
        m_cutExtension = QString::fromLatin1(norvale::formatInfo(format).extensions).section(QLatin1Char(' '), 0, 0);
    // A ".raw" with an ".mp4" of the same base name beside it is a fusion recording, and so is an
    // AEDAT 4 file holding frames beside its events.
    const bool fusion =
        (file.suffix().compare(QStringLiteral("raw"), Qt::CaseInsensitive) == 0 &&
         QFileInfo::exists(QStringLiteral("%1/%2.mp4").arg(file.absolutePath(), file.completeBaseName()))) ||
        (known && format == norvale::EventFileFormat::Aedat4 &&
         norvale::ApsFileReader::holdsFrames(path.toLocal8Bit().toStdString()));
    if (fusion)
        setSource(new NrFusionRecordingSource(m_fusionProcessor->playbackFront(), this));
    else
        setSource(new NrRecordingSource(m_eventProcessor->playbackFront(), this));
    resetSidebars();
    setShowTitleInfo(false); // a camera's serial and time do not belong to the recording
    m_slider->clearTags();
    m_slider->setRateProfile({}, 0, 0);
    emit signalOpenRawFile(fusion ? QString() : file.absoluteFilePath());
    emit signalOpenFusionFile(fusion ? file.absoluteFilePath() : QString());
    if (fusion) // the fusion processor shows the DVS grid whatever the view
        emit signalImageReslotionChanged(NrFusionCameraDataProcessor::kWidth, NrFusionCameraDataProcessor::kHeight);
    // Export and cut read DVS recordings only.
    m_saveAsAction->setVisible(!fusion);
    m_cutAction->setVisible(!fusion);
    m_cameraSidebar->setDispItemFPSEnable(true);
    showCameraPlayingUI(false);
}

void MainWidget::showCameraPlayingUI(bool en) {
    for (QWidget* w : {static_cast<QWidget*>(ui->pb_loop), static_cast<QWidget*>(ui->pb_next),
                       static_cast<QWidget*>(ui->pb_prv), static_cast<QWidget*>(ui->pb_stop),
                       static_cast<QWidget*>(m_slider)})
        w->setEnabled(!en);
    // A live stream has nothing to trim: the handles of a recording shown before go.
    m_trimAction->setEnabled(!en);
    if (en)
        m_trimAction->setChecked(false);
    if (en) {
        m_slider->setValue(0);
        ui->label_time->setText(QStringLiteral("--/--"));
    }
}

void MainWidget::on_pb_play_clicked(bool checked) {
    // The source starts or stops: a recording's front plays, a camera streams.
    const bool on = m_source && m_source->play(checked);
    if (on != ui->pb_play->isChecked())
        ui->pb_play->setChecked(on);
}

void MainWidget::setShowTitleInfo(bool) {
    ui->label_show_timestamp_info->clear();
    ui->label_show_camera_info->clear();
}

int MainWidget::sourceType() const {
    return m_source ? m_source->kind() : NrSourceNone;
}

void MainWidget::showTimeStamp(uint64_t timestamp_us) {
    if (sourceType() == NrSourceDvsRecording || sourceType() == NrSourceFusionRecording) {
        m_slider->setCenterValue(timestamp_us);
        ui->label_time->setText(QString::fromStdString(timestamp2StdString(timestamp_us)) + QLatin1Char('/') +
                                QString::fromStdString(timestamp2StdString(m_slider->getUpperValue())));
    } else {
        ui->label_show_timestamp_info->setText(QString::fromStdString(timestamp2StdString(timestamp_us)));
    }
}

void MainWidget::showLocalTime(QString str) { ui->label_show_timestamp_info->setText(str); }

void MainWidget::slotSetSliderStartTime(uint64_t timestamp_us) { m_slider->setMinimum(timestamp_us); }

void MainWidget::slotSetSliderEndTime(uint64_t timestamp_us) { m_slider->setMaximum(timestamp_us); }

void MainWidget::slotStartEndPointEditable(bool en) {
    m_slider->setType(en ? NrThreeHandleSlider::RangeMode : NrThreeHandleSlider::CenterHandle);
    m_slider->update();
}

void MainWidget::slotSetWaitWinStatus(bool en) {
    if (en) {
        m_waitWin->setProgress(-1);
        m_waitWin->show();
    } else {
        m_waitWin->close();
        m_waitWin->setCancellable(false); // only an export or cut, while it runs, can be cancelled
    }
}

void MainWidget::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Space:
        ui->pb_play->click();
        break;
    // Steps only where the buttons allow them: a live camera has none.
    case Qt::Key_Left:
        if (ui->pb_prv->isEnabled())
            emit ui->pb_prv->pressed();
        break;
    case Qt::Key_Right:
        if (ui->pb_next->isEnabled())
            emit ui->pb_next->pressed();
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

void MainWidget::dragEnterEvent(QDragEnterEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.size() == 1 && urls.first().isLocalFile() && isRecordingFile(urls.first().toLocalFile()))
        event->acceptProposedAction();
}

void MainWidget::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.size() != 1 || !urls.first().isLocalFile() || !isRecordingFile(urls.first().toLocalFile()))
        return;
    event->acceptProposedAction();
    openRecording(urls.first().toLocalFile());
}

void MainWidget::showSidebar(QPushButton* button, bool checked) {
    const std::pair<QPushButton*, QWidget*> panels[] = {{ui->pb_fold_setting, m_cameraSidebar},
                                                        {ui->pb_fold_dvs_setting, m_dvsSidebar},
                                                        {ui->pb_fold_aps_setting, m_apsSidebar}};
    for (const auto& panel : panels) {
        if (panel.first != button)
            panel.first->setChecked(false);
        panel.second->setVisible(panel.first == button);
    }
    ui->frame_setting->setVisible(checked);
}

void MainWidget::resetSidebars() {
    m_dvsSidebar->clearTools(); // the panels hold the camera too
    m_apsSidebar->clearTools();
    showSidebar(ui->pb_fold_setting, ui->pb_fold_setting->isChecked());
    ui->pb_fold_dvs_setting->hide();
    ui->pb_fold_aps_setting->hide();
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

void MainWidget::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    m_waitWin->updatePos();
}

void MainWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_waitWin->updatePos();
}

void MainWidget::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
    if (event->type() == QEvent::WindowStateChange)
        maximizedChanged(isMaximized());
    QWidget::changeEvent(event);
}
