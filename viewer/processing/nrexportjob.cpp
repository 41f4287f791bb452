#include "processing/nrexportjob.h"

#include "norvale/Logger.h"
#include "norvale/RawCut.h"

NrExportJob::~NrExportJob() {
    cancel();
    join();
}

void NrExportJob::join() {
    if (thread.joinable())
        thread.join();
}

void NrExportJob::prepare() {
    join();
    cancelled = false;
}

void NrExportJob::start(std::shared_ptr<norvale::DvsFileReader> reader, std::mutex& readerLock,
                        NrExportRequest request, Progress progress, Done done) {
    join();
    thread = std::thread([this, reader = std::move(reader), &readerLock, request = std::move(request),
                          progress = std::move(progress), done = std::move(done)]() mutable {
        auto report = [this, &progress](double fraction) {
            if (progress)
                progress(fraction);
            return !cancelled;
        };
        norvale::Logger::clearThreadError();
        bool ok = false;
        {
            std::lock_guard<std::mutex> lock(readerLock);
            // Cancelled before it began: no file at all.
            if (!cancelled && request.kind == NrExportRequest::Kind::Video) {
                request.options.progress = report;
                ok = norvale::exportFileToVideo(*reader, request.start, request.end, request.path, request.options);
            } else if (!cancelled) {
                ok = norvale::cutRawFile(*reader, request.start, request.end, request.path, report);
            }
        }
        std::string reason = ok || cancelled ? std::string() : norvale::Logger::threadError();
        norvale::Logger::clearThreadError();
        if (done)
            done(ok, reason);
    });
}
