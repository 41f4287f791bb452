// Export to video and cut to a new raw file, each on a worker thread of NrEventProcessor.
#include <QDebug>

#include <algorithm>

#include "loadconfig.h"
#include "norvale/DvsFileReader.h"
#include "norvale/VideoExporter.h"
#include "processing/nreventsproccess.h"

namespace {

norvale::VideoRgb toVideoRgb(const QColor& c) { return {uint8_t(c.red()), uint8_t(c.green()), uint8_t(c.blue())}; }

} // namespace

void NrEventProcessor::slotExportVideo(QString qs_out_full_path, QString qs_out_dir, uint64_t start_ts,
                                       uint64_t end_ts) {
    startWork(exportThread, true, qs_out_full_path, qs_out_dir, start_ts, end_ts);
}

void NrEventProcessor::slotCutRawFile(QString qs_out_full_path, QString qs_out_dir, uint64_t start_ts,
                                      uint64_t end_ts) {
    startWork(cutThread, false, qs_out_full_path, qs_out_dir, start_ts, end_ts);
}

void NrEventProcessor::startWork(std::thread& slot, bool video, const QString& fullPath, const QString& dir,
                                 uint64_t start, uint64_t end) {
    if (!reader || loading)
        return;
    if (playing) {
        stopPlayback();
        emit signalPlayStatus(false);
    }
    if (slot.joinable())
        slot.join();
    // The same frames as the viewer shows: its colours, accumulation and display rate.
    norvale::VideoExportOptions options;
    options.fps = std::clamp<int>(fps, 1, 240);
    options.accTimeUs = std::clamp<uint64_t>(accTimeUs, 1, 3600ull * 1000000);
    options.onColor = toVideoRgb(config->dvsOnColor);
    options.offColor = toVideoRgb(config->dvsOffColor);
    options.backgroundColor = toVideoRgb(config->dvsBackgroundColor);
    options.progress = [this](double fraction) {
        publishProgress(fraction);
        return !cancelWork;
    };
    ++workJobs;
    beginBusy();
    emit signalProgress(0.0);
    slot = std::thread([this, file = reader, video, path = fullPath.toLocal8Bit().toStdString(), fullPath, dir, start,
                        end, options] {
        if (video)
            qDebug() << "start export video: " << fullPath;
        bool ok = false;
        {
            std::lock_guard<std::mutex> lock(playMutex); // an export and a cut take turns on the reader
            ok = video ? file->exportVideo(start, end, path, options) : file->exportRawFile(start, end, path, options.progress);
        }
        if (ok)
            publishProgress(1.0);
        postToOwner([this, video, ok, dir, start, end] { finishWork(video, ok, dir, start, end); });
    });
}

void NrEventProcessor::finishWork(bool video, bool ok, const QString& dir, uint64_t start, uint64_t end) {
    --workJobs;
    if (ok) {
        qDebug() << "extract event data start:" << start << " end: " << end << " success.";
        emit signalShowLeftBottomTips(video ? tr("Export video success!") : tr("Export raw file success!"),
                                      NrMessageSuccess, dir);
    } else {
        qDebug() << "extract event data start:" << start << " end: " << end << " failed.";
        emit signalShowLeftBottomTips(video ? tr("Export video failed!") : tr("Export raw file failed!"),
                                      NrMessageError, dir);
    }
    endBusy();
}

void NrEventProcessor::beginBusy() {
    if (busyJobs++ == 0)
        emit signalLoadingStatus(true);
}

void NrEventProcessor::endBusy() {
    if (busyJobs > 0 && --busyJobs == 0)
        emit signalLoadingStatus(false);
}
