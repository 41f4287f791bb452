// MainWidget: title-bar menus, the viewer menu, export and cut, the side-bar buttons, tips and the
// status bar.
#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QMenu>
#include <QProcess>
#include <QUrl>

#include "Utility/Utility.h"
#include "loadconfig.h"
#include "mainwidget.h"
#include "norvale/EventFileFormat.h"
#include "norvale/RawCut.h"
#include "settings/nrgeneralsetting.h"
#include "settings/sidebarcamerasettingui.h"
#include "settings/sidebardvssettingui.h"
#include "tools/nrcutrawfile.h"
#include "tools/nrethcameraconfigtool.h"
#include "tools/nrexportvideoui.h"
#include "tools/nrfilepathreminderform.h"
#include "ui_mainwidget.h"
#include "widgets/nrmessagebox.h"
#include "widgets/nrthreehandleslider.h"
#include "widgets/nrtoaststack.h"
#include "widgets/waitingwin.h"

namespace {

const char* const kAboutUrl = "https://www.norvale.example/";

QString menuStyle(const char* border) {
    return QStringLiteral("QMenu { background: #FFFFFF; border: 1px solid %1; padding: 4px 0px; }"
                          "QMenu::item { height: 30px; padding: 0px 40px 0px 16px; font-size: 12px;"
                          " color: #575757; background: transparent; }"
                          "QMenu::item:selected { background: #EDF1F3; color: #004B6A; }"
                          "QMenu::item:pressed { background: #004B6A; color: #FFFFFF; }"
                          "QMenu::separator { height: 1px; background: #C3C3C3; margin: 2px 8px; }"
                          "QMenu::indicator { width: 36px; height: 20px; subcontrol-position: right center;"
                          " subcontrol-origin: padding; right: 8px; }"
                          "QMenu::indicator:checked { image: url(:/img/assets/btn_switch_enable.svg); }"
                          "QMenu::indicator:unchecked { image: url(:/img/assets/btn_switch_disable.svg); }")
        .arg(QLatin1String(border));
}

QMenu* styledMenu(QWidget* parent, const char* border) {
    auto* menu = new QMenu(parent);
    menu->setWindowFlags(menu->windowFlags() | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint);
    menu->setAttribute(Qt::WA_TranslucentBackground);
    menu->setStyleSheet(menuStyle(border));
    return menu;
}

} // namespace

QMenu* MainWidget::createMenu(QPushButton* button) {
    QMenu* menu = styledMenu(this, "#AAAAAA");
    menu->setObjectName(QStringLiteral("menu_") + button->objectName().mid(int(qstrlen("pb_menu_"))));
    button->setMenu(menu);
    // The title row shows the menu's name only, without Qt's drop-down arrow.
    button->setStyleSheet(QStringLiteral("QPushButton::menu-indicator { image: none; width: 0px; }"));
    connect(menu, &QMenu::triggered, this, &MainWidget::openActionSlot);
    return menu;
}

void MainWidget::initFileMenu() {
    QMenu* menu = createMenu(ui->pb_menu_file);
    QAction* open = menu->addAction(m_textOpenRecording);
    open->setObjectName(QStringLiteral("action_open_recording"));
    connect(open, &QAction::triggered, this, &MainWidget::slotOpenRecording);
    menu->addSeparator();
    m_saveAsAction = menu->addAction(m_textSaveAs);
    m_saveAsAction->setObjectName(QStringLiteral("action_save_as"));
    connect(m_saveAsAction, &QAction::triggered, this, &MainWidget::slotSaveAs);
    m_cutAction = menu->addAction(m_textCut);
    m_cutAction->setObjectName(QStringLiteral("action_cut"));
    connect(m_cutAction, &QAction::triggered, this, &MainWidget::slotCutRecording);
    m_saveAsAction->setVisible(false);
    m_cutAction->setVisible(false);
    menu->addSeparator();
    menu->addAction(m_textQuit);
}

void MainWidget::initSettingMenu() {
    QMenu* menu = createMenu(ui->pb_menu_setting);
    menu->addAction(m_textGeneralSetting);
    menu->addAction(m_textLanguage);
}

void MainWidget::initToolsMenu() {
    QAction* ipConfig = createMenu(ui->pb_menu_tools)->addAction(m_textIpConfig);
    ipConfig->setObjectName(QStringLiteral("action_ip_config"));
    connect(ipConfig, &QAction::triggered, this, &MainWidget::slotShowToolIPConfig);
    ui->pb_menu_tools->show();
}

void MainWidget::slotShowToolIPConfig() {
    NrEthCameraConfigTool tool(this);
    connect(&tool, &NrEthCameraConfigTool::signalShowLeftBottomTips, this, &MainWidget::signalShowLeftBottomTips);
    // The search runs on the tool's own thread; the waiting window shows while it looks (each
    // search reports true then false, so the last word is always false).
    connect(&tool, &NrEthCameraConfigTool::signalLoadingStatus, this, &MainWidget::slotSetWaitWinStatus);
    execDialog(&tool);
}

void MainWidget::initHelpMenu() {
    createMenu(ui->pb_menu_help)->addAction(m_textAboutUs);
}

void MainWidget::initViewerMenu() {
    m_viewerMenu = styledMenu(this, "#004B6A");
    m_viewerMenu->setObjectName(QStringLiteral("menu_viewer"));
    QAction* trim = m_trimAction = m_viewerMenu->addAction(m_textToggleTrim);
    trim->setObjectName(QStringLiteral("action_toggle_trim"));
    trim->setCheckable(true);
    connect(trim, &QAction::toggled, this, &MainWidget::slotStartEndPointEditable);
    connect(m_viewerMenu, &QMenu::aboutToHide, ui->pb_viewer_setting, [this] { ui->pb_viewer_setting->setChecked(false); });
}

void MainWidget::openActionSlot(QAction* action) {
    const QString text = action->text();
    if (text == m_textQuit)
        close();
    else if (text == m_textAboutUs)
        showAboutUs();
    else if (text == m_textLanguage)
        switchLanguage();
    else if (text == m_textGeneralSetting)
        runGeneralSetting();
}

int MainWidget::execDialog(QDialog* dialog) { return dialog->exec(); }

void MainWidget::restartApplication() {
    QApplication::closeAllWindows();
    QProcess::startDetached(QCoreApplication::applicationFilePath(), {});
}

void MainWidget::showAboutUs() {
    NRMessageBox box(tr("Is it open in the browser?"), tr("Tips"), tr("Open"), tr("Close"));
    if (execDialog(&box))
        QDesktopServices::openUrl(QUrl(QLatin1String(kAboutUrl)));
}

void MainWidget::switchLanguage() {
    NRMessageBox box(tr("The language change will take effect after restart."), tr("Tips"), tr("Restart"),
                     tr("Later"));
    if (!execDialog(&box))
        return;
    m_config->language = m_config->language == QLatin1String("en") ? QStringLiteral("zh") : QStringLiteral("en");
    m_config->saveConfig();
    restartApplication();
}

void MainWidget::runGeneralSetting() {
    NrGeneralSetting dialog(this);
    connect(&dialog, &NrGeneralSetting::signalTriggerInSaveFileParamChanged, this, &MainWidget::initDvsCameraSettings);
    execDialog(&dialog);
}

bool MainWidget::requireDvsRecording() {
    if (sourceType() == NrSourceDvsRecording)
        return true;
    emit signalShowLeftBottomTips(tr("Please open a raw file first."), NrMessageWarning);
    return false;
}

template <class Dialog, class Signal>
void MainWidget::runTimeRangeDialog(const QString& extension, Signal signal) {
    if (!requireDvsRecording())
        return;
    Dialog dialog(this);
    dialog.setTimeBounds(m_slider->getMinimun(), m_slider->getMaximun());
    dialog.setStartTime(m_slider->getLowerValue());
    dialog.setEndTime(m_slider->getUpperValue());
    dialog.setSaveFilePath(Dialog::defaultSaveFolder(*m_config)); // cuts beside recordings, videos in their folder
    dialog.setSaveFileName(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_HHmmss")) + extension);
    if (execDialog(&dialog) != QDialog::Accepted)
        return;
    // The waiting window that the work opens offers Cancel; work refused at once opens none.
    m_waitWin->setCancellable(true);
    emit(this->*signal)(dialog.getSaveFileFullPath(), dialog.getSaveFilePath(), dialog.getStartTime(),
                        dialog.getEndTime());
    if (!m_waitWin->isVisible())
        m_waitWin->setCancellable(false);
}

void MainWidget::slotSaveAs() {
    runTimeRangeDialog<NrExportVideoUI>(QStringLiteral(".mp4"), &MainWidget::signalExportVideo);
}

void MainWidget::slotCutRecording() {
    // The name follows what the driver will write: a DAT recording whose clock passed 32 bits is
    // cut into EVT 3.0, which a ".dat" name would hide.
    QString extension = m_cutExtension;
    norvale::EventFileFormat format;
    if (norvale::formatFromExtension((QStringLiteral("cut") + extension).toStdString(), format)) {
        const norvale::EventFileFormat cut = norvale::cutFileFormat(format, m_slider->getMaximun());
        if (cut != format)
            extension = QString::fromLatin1(norvale::formatInfo(cut).extensions).section(QLatin1Char(' '), 0, 0);
    }
    runTimeRangeDialog<NrCutRawFile>(extension, &MainWidget::signalCutRawFile);
}

void MainWidget::slotShowLeftBottomTips(QString tips, NrMessageType type, QString file_path) {
    // In the image view's lower-left corner, above the play bar, so that no toast hides a control;
    // quick ones stack there, a few at most.
    NrToastStack::of(this, m_imageView)->show(tips, type, getDirectoryPath(file_path));
}

void MainWidget::slotShowLeftBottomTips(QString tips, NrMessageType type) {
    slotShowLeftBottomTips(tips, type, QString());
}

void MainWidget::slotShowLeftBottomTips(QString tips) { slotShowLeftBottomTips(tips, NrMessageSuccess, QString()); }

void MainWidget::on_pb_fold_setting_clicked(bool checked) { showSidebar(ui->pb_fold_setting, checked); }

void MainWidget::on_pb_fold_general_setting_clicked() {
    runGeneralSetting();
    ui->pb_fold_general_setting->setChecked(false);
}

void MainWidget::on_pb_viewer_setting_clicked(bool checked) {
    if (!checked) {
        m_viewerMenu->hide();
        return;
    }
    m_viewerMenu->popup(ui->pb_viewer_setting->mapToGlobal(QPoint(0, ui->pb_viewer_setting->height())));
}
