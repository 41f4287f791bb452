// Camera list, camera information and the Ethernet camera tool, fed by the real camera manager
// with a simulated-cameras file of this test (two more Ethernet cameras and a USB camera).
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QTranslator>
#include <QtTest>

#include "TestEnv.h"
#include "norvale/DvsCameraManager.h"
#include "startup.h"
#include "tools/nrethcameraconfigtool.h"
#include "ui/cameraslist.h"
#include "ui/showcamerainfoui.h"

using norvale::CameraDescription;
using norvale::DvsCameraManager;

using testenv::child;

namespace {

std::vector<CameraDescription> ethernetCameras() {
    std::vector<CameraDescription> out;
    for (const CameraDescription& d : DvsCameraManager().getCameraDescs())
        if (d.linkType == norvale::LINK_ETHERNET)
            out.push_back(d);
    return out;
}

CameraDescription cameraBySerial(const std::string& serial) {
    for (const CameraDescription& d : DvsCameraManager().getCameraDescs())
        if (d.serial == serial)
            return d;
    return {};
}

// Runs the dialog modally and clicks `button` once its event loop runs.
int execAndClick(QDialog& dialog, const char* button) {
    QTimer::singleShot(0, &dialog, [&dialog, button] {
        QTest::mouseClick(child<QPushButton>(&dialog, button), Qt::LeftButton);
    });
    return dialog.exec();
}

void removeTranslators() {
    for (QTranslator* t : qApp->findChildren<QTranslator*>())
        delete t;
}

} // namespace

class TestCameraDialogs : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void initTestCase() {
        installApplicationFont();
        QVERIFY(m_dir.isValid());
        const QString path = m_dir.filePath(QStringLiteral("simulated_cameras.json"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(R"({"cameras": [
            {"serial": "SIM-ETH-CONFLICT", "link": "ethernet", "camera_ip": "192.0.2.1", "local_ip": "192.0.2.1",
             "netmask": "255.255.255.0", "gateway": "192.0.2.254"},
            {"serial": "SIM-USB-0002"},
            {"serial": "SIM-ETH-SUBNET", "link": "ethernet", "product": "GigE Subnet", "firmware": "SIM_V0.9.0",
             "camera_ip": "198.51.100.7", "local_ip": "192.0.2.1", "netmask": "255.255.255.0", "gateway": "198.51.100.1"}
        ]})");
        f.close();
        qputenv("NORVALE_SIMULATED_CAMERAS", path.toLocal8Bit());
        QCOMPARE(ethernetCameras().size(), size_t(3));
    }

    void cameraListPicksARow() {
        std::vector<CameraDescription> cameras = DvsCameraManager().getCameraDescs();
        QVERIFY(cameras.size() >= 5);
        QWidget parent;
        parent.resize(900, 700);
        parent.move(50, 40);
        parent.show();
        QVERIFY(QTest::qWaitForWindowExposed(&parent));

        CamerasList list(cameras, &parent);
        auto* lw = child<QListWidget>(&list, "listWidget_cameras");
        QCOMPARE(lw->count(), int(cameras.size()));
        for (int i = 0; i < lw->count(); ++i)
            QCOMPARE(lw->item(i)->text(), QString::fromStdString(cameras[size_t(i)].serial));
        QCOMPARE(lw->iconSize(), QSize(24, 24));
        int index = -1;
        QVERIFY(list.getSelectIndex(index));
        QCOMPARE(index, 0);

        QTimer::singleShot(0, &list, [&] {
            const QPoint origin = parent.mapToGlobal(QPoint(0, 0));
            QCOMPARE(list.pos(), QPoint(origin.x() + (900 - list.width()) / 2, origin.y() + (700 - list.height()) / 2));
            lw->setCurrentRow(2);
            QTest::mouseClick(child<QPushButton>(&list, "pb_open"), Qt::LeftButton);
        });
        QCOMPARE(list.exec(), int(QDialog::Accepted));
        QVERIFY(list.getSelectIndex(index));
        QCOMPARE(index, 2);
        QString serial;
        QVERIFY(list.getSelectSerial(serial));
        QCOMPARE(serial, QString::fromStdString(cameras[2].serial));

        // Return opens the current camera.
        CamerasList keyed(cameras, &parent);
        keyed.show();
        QVERIFY(QTest::qWaitForWindowExposed(&keyed));
        child<QListWidget>(&keyed, "listWidget_cameras")->setCurrentRow(1);
        QTest::keyClick(child<QListWidget>(&keyed, "listWidget_cameras"), Qt::Key_Return);
        QCOMPARE(keyed.result(), int(QDialog::Accepted));
        QVERIFY(keyed.getSelectIndex(index));
        QCOMPARE(index, 1);

        CamerasList closed(cameras, &parent);
        QCOMPARE(execAndClick(closed, "pb_close"), int(QDialog::Rejected));
        CamerasList titleClosed(cameras, &parent);
        QCOMPARE(execAndClick(titleClosed, "pb_win_close"), int(QDialog::Rejected));

        std::vector<CameraDescription> none;
        CamerasList empty(none, &parent);
        QCOMPARE(child<QListWidget>(&empty, "listWidget_cameras")->count(), 0);
        QCOMPARE(execAndClick(empty, "pb_open"), int(QDialog::Accepted));
        QVERIFY(!empty.getSelectIndex(index));
        QVERIFY(!empty.getSelectSerial(serial));
        QVERIFY(!child<QLabel>(&empty, "lb_empty")->isHidden());
    }

    void cameraInfoShowsTheFusionCamera() {
        CameraDescription fusion = cameraBySerial("SIM-FUS-0001");
        QCOMPARE(QString::fromStdString(fusion.product), QStringLiteral("Velfox"));
        ShowCameraInfoUI info;
        info.setCameraInfo(fusion, "Velfox_V1.7.2 (build 7)");
        QCOMPARE(child<QLabel>(&info, "lb_product")->text(), QStringLiteral("Velfox"));
        QCOMPARE(child<QLabel>(&info, "lb_serial")->text(), QStringLiteral("SIM-FUS-0001"));
        QCOMPARE(child<QLabel>(&info, "lb_manufacturer")->text(), QString::fromStdString(fusion.manufacturer));
        QCOMPARE(child<QLabel>(&info, "lb_firm_ver")->text(), QStringLiteral("Velfox_V1.7.2 (build 7)"));
        QCOMPARE(execAndClick(info, "pb_win_close"), int(QDialog::Rejected));
    }

    void ethToolListsOnlyEthernetCameras() {
        NrEthCameraConfigTool tool;
        QVERIFY(tool.windowFlags() & Qt::WindowStaysOnTopHint);
        auto* lw = child<QListWidget>(&tool, "listWidget_cameras");
        const std::vector<CameraDescription> eth = ethernetCameras();
        QTRY_COMPARE(lw->count(), int(eth.size()));
        for (int i = 0; i < lw->count(); ++i)
            QCOMPARE(lw->item(i)->text(), QString::fromStdString(eth[size_t(i)].serial));
        QCOMPARE(lw->currentRow(), 0);
        QCOMPARE(child<QLineEdit>(&tool, "le_ip")->text(), QString::fromStdString(eth[0].cameraIp));

        lw->setCurrentRow(2);
        QCOMPARE(child<QLabel>(&tool, "lb_serial")->text(), QStringLiteral("SIM-ETH-SUBNET"));
        QCOMPARE(child<QLabel>(&tool, "lb_product")->text(), QStringLiteral("GigE Subnet"));
        QCOMPARE(child<QLabel>(&tool, "lb_firm_ver")->text(), QStringLiteral("SIM_V0.9.0"));
        QCOMPARE(child<QLineEdit>(&tool, "le_ip")->text(), QStringLiteral("198.51.100.7"));
        QCOMPARE(child<QLineEdit>(&tool, "le_subnet_mask")->text(), QStringLiteral("255.255.255.0"));
        QCOMPARE(child<QLineEdit>(&tool, "le_gateway")->text(), QStringLiteral("198.51.100.1"));

        // The tip comes at once; the list fills when the search on its thread is done.
        QSignalSpy tips(&tool, &NrEthCameraConfigTool::signalShowLeftBottomTips);
        QSignalSpy loading(&tool, &NrEthCameraConfigTool::signalLoadingStatus);
        QTest::mouseClick(child<QPushButton>(&tool, "pb_refresh"), Qt::LeftButton);
        QCOMPARE(tips.count(), 1);
        QCOMPARE(tips[0][0].toString(), QStringLiteral("Refresh completed!"));
        QCOMPARE(tips[0][1].value<NrMessageType>(), NrMessageSuccess);
        QCOMPARE(lw->count(), 0);
        QTRY_COMPARE(lw->count(), int(eth.size()));
        QCOMPARE(loading.count(), 2);
        QCOMPARE(loading[0][0].toBool(), true);
        QCOMPARE(loading[1][0].toBool(), false);
    }

    // Bad texts never reach the driver (nor end the program); good ones do and the driver keeps them;
    // the driver's refusal is an error tip.
    void ethToolConfigures() {
        NrEthCameraConfigTool tool;
        tool.show();
        QVERIFY(QTest::qWaitForWindowExposed(&tool));
        auto* lw = child<QListWidget>(&tool, "listWidget_cameras");
        QTRY_COMPARE(lw->count(), 3);
        QCOMPARE(lw->item(0)->text(), QStringLiteral("SIM-ETH-0001"));
        auto* ip = child<QLineEdit>(&tool, "le_ip");
        auto* mask = child<QLineEdit>(&tool, "le_subnet_mask");
        auto* gateway = child<QLineEdit>(&tool, "le_gateway");
        auto* config = child<QPushButton>(&tool, "pb_config");
        QSignalSpy tips(&tool, &NrEthCameraConfigTool::signalShowLeftBottomTips);
        // Types the three texts, presses Config and returns the one tip as "type:text".
        auto apply = [&](const char* ipText, const char* maskText, const char* gatewayText) {
            tips.clear();
            ip->setText(QString::fromLatin1(ipText));
            mask->setText(QString::fromLatin1(maskText));
            gateway->setText(QString::fromLatin1(gatewayText));
            QTest::mouseClick(config, Qt::LeftButton);
            return tips.count() == 1 ? QString::number(tips[0][1].value<NrMessageType>()) + QLatin1Char(':') +
                                           tips[0][0].toString()
                                     : QStringLiteral("%1 tips").arg(tips.count());
        };
        const QString invalidTip = QStringLiteral("2:Invalid IP address, subnet mask or gateway.");
        const std::string before = cameraBySerial("SIM-ETH-0001").cameraIp;

        const struct {
            const char *ip, *mask, *gateway;
            QLineEdit* bad;
        } invalid[] = {
            {"", "255.255.255.0", "192.0.2.1", ip},
            {"192.0.2.abc", "255.255.255.0", "192.0.2.1", ip},
            {"192.0.2.60", "255.255.255", "192.0.2.1", mask},
            {"192.0.2.60", "255.255.255.0", "192.0.2.99999999999", gateway}, // too long for an int
        };
        for (const auto& c : invalid) {
            QCOMPARE(apply(c.ip, c.mask, c.gateway), invalidTip);
            for (QLineEdit* e : {ip, mask, gateway})
                QCOMPARE(e->property("invalid").toBool(), e == c.bad);
            QCOMPARE(cameraBySerial("SIM-ETH-0001").cameraIp, before);
        }
        // Return in a field applies, like Config.
        tips.clear();
        ip->setText(QStringLiteral("192.0.2"));
        QTest::keyClick(ip, Qt::Key_Return);
        QCOMPARE(tips.count(), 1);
        QCOMPARE(tips[0][0].toString(), invalidTip.mid(2));
        QVERIFY(!testenv::saveScreenshot(&tool, QStringLiteral("eth_tool_invalid")).isEmpty());
        QTest::keyClick(gateway, Qt::Key_Backspace); // editing clears the mark
        QVERIFY(!gateway->property("invalid").toBool());

        // The driver refuses a gateway outside the subnet.
        QCOMPARE(apply("192.0.2.60", "255.255.255.0", "10.0.0.1"), QStringLiteral("2:Configuration failed!"));
        QCOMPARE(cameraBySerial("SIM-ETH-0001").cameraIp, before);

        QCOMPARE(apply(" 192.0.2.60 ", "255.255.255.0", "192.0.2.254"), QStringLiteral("0:Configuration successful!"));
        const CameraDescription after = cameraBySerial("SIM-ETH-0001");
        QCOMPARE(after.cameraIp, std::string("192.0.2.60"));
        QCOMPARE(after.gateway, std::string("192.0.2.254"));
        // The other cameras keep theirs.
        QCOMPARE(cameraBySerial("SIM-ETH-SUBNET").cameraIp, std::string("198.51.100.7"));

        QTest::mouseClick(child<QPushButton>(&tool, "pb_refresh"), Qt::LeftButton);
        QTRY_COMPARE(lw->count(), 3);
        QCOMPARE(ip->text(), QStringLiteral("192.0.2.60"));
    }

    void screenshots() {
        std::vector<CameraDescription> cameras = DvsCameraManager().getCameraDescs();
        for (const QString& language : {QStringLiteral("en"), QStringLiteral("zh")}) {
            installLanguage(language);
            {
                CamerasList list(cameras);
                list.show();
                QVERIFY(QTest::qWaitForWindowExposed(&list));
                QVERIFY(!testenv::saveScreenshot(&list, QStringLiteral("camera_list_") + language).isEmpty());
                ShowCameraInfoUI info;
                info.setCameraInfo(cameraBySerial("SIM-FUS-0001"), "Velfox_V1.7.2");
                info.show();
                QVERIFY(QTest::qWaitForWindowExposed(&info));
                QVERIFY(!testenv::saveScreenshot(&info, QStringLiteral("camera_info_") + language).isEmpty());
                NrEthCameraConfigTool tool;
                tool.show();
                QVERIFY(QTest::qWaitForWindowExposed(&tool));
                QTRY_COMPARE(child<QListWidget>(&tool, "listWidget_cameras")->count(), 3);
                QVERIFY(!testenv::saveScreenshot(&tool, QStringLiteral("eth_tool_") + language).isEmpty());
                if (language == QLatin1String("zh"))
                    QVERIFY(child<QPushButton>(&tool, "pb_refresh")->text() != QStringLiteral("Refresh"));
            }
            removeTranslators();
        }
    }
};

NR_QTEST_MAIN(TestCameraDialogs)
#include "tst_cameradialogs.moc"
