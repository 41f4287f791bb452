#include "camera/CameraCore.h"
#include "norvale/FuncUtils.h"

#include <chrono>

#include "camera/CameraConfigFile.h"
#include "camera/ToolImpl.h"
#include "norvale/Logger.h"

namespace norvale {

namespace {
// Events one chunk holds without growing: 2 ms at 50 Mev/s (address space; pages are touched
// only as far as used).
constexpr size_t kChunkReserve = 100000;

int64_t steadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
} // namespace

CameraCore::CameraCore(CameraDescription description, std::unique_ptr<CameraDevice> device,
                       std::function<void()> releaseFn, bool mirrorRecording)
    : desc(std::move(description)), dev(std::move(device)), release(std::move(releaseFn)),
      // A display takes 33 chunks at a time; a stalled one makes the hand-off hold up to its span
      // (100 ms), chunks freed again once read.
      pool(NrObjectPoolFactory::createUniqueNrObjectPool<EventChunk>(64, 64)),
      storage(desc.serial, mirrorRecording ? uint32_t(dev->width()) : 0) {}

CameraCore::~CameraCore() {
    stop();
    storage.stopRecording();
    for (const auto& t : dev->tools()) t->impl().close(); // a caller may keep a tool: it now refuses
    if (release) release();
}

int CameraCore::start() {
    std::lock_guard<std::mutex> lock(controlMutex);
    if (running) return 0;
    if (!dev->connected()) return -1;
    if (thread.joinable()) thread.join(); // a loop that ended by itself (unplug)
    // a running recording keeps the clock going: its file must stay in time order
    const bool restart = !storage.recording();
    dev->startStream(restart);
    // the log line's wall-clock time is where camera time 0 lies (load runs measure against it)
    if (restart) NR_LOG(LOG_INFO, "camera %s streams; its clock starts at 0", desc.serial.c_str());
    handoff.clear();
    if (restart) storage.streamRestarted();
    statEvents = statBytes = 0;
    statStartNs = steadyNs();
    if (restart) deliveredUntilUs = 0;
    running = true;
    thread = std::thread(&CameraCore::streamLoop, this);
    return 0;
}

int CameraCore::stop() {
    std::lock_guard<std::mutex> lock(controlMutex);
    dev->interrupt();
    if (thread.joinable()) thread.join();
    running = false;
    dev->stopStream();
    return 0;
}

void CameraCore::unplug() {
    dev->unplug();
    stop();
    storage.stopRecording(); // the file stays readable
}

void CameraCore::setStatisticCallback(DvsCamera::StatisticCallback cb) {
    std::lock_guard<std::mutex> lock(callbackMutex);
    statCallback = std::move(cb);
}

int CameraCore::addTriggerCallback(DvsCamera::TriggerInCallback cb) {
    if (!cb) return -1;
    std::lock_guard<std::mutex> lock(callbackMutex);
    triggerCallbacks.emplace_back(nextId, std::move(cb));
    return nextId++;
}

int CameraCore::addEventsCallback(FusionCamera::EventsCallback cb) {
    if (!cb) return -1;
    std::lock_guard<std::mutex> lock(callbackMutex);
    eventCallbacks.emplace_back(nextId, std::move(cb));
    return nextId++;
}

int CameraCore::newCallbackId() {
    std::lock_guard<std::mutex> lock(callbackMutex);
    return nextId++;
}

bool CameraCore::removeCallback(int id) {
    std::lock_guard<std::mutex> lock(callbackMutex);
    return eraseCallback(triggerCallbacks, id) || eraseCallback(eventCallbacks, id);
}

bool CameraCore::startRecording(const std::string& path, uint64_t apsStartUs, bool overwrite) {
    if (!dev->connected()) {
        NR_LOG(LOG_ERROR, "camera %s is not connected: nothing to record", desc.serial.c_str());
        return false;
    }
    RecordingTarget target;
    target.overwrite = overwrite;
    target.input = dev->inputFile();
    target.width = dev->width();
    target.height = dev->height();
    // the recording begins where the stream is (a busy machine may hold it behind the clock)
    return storage.startRecording(path, running ? deliveredUntilUs.load() : 0, apsStartUs, target);
}

std::string CameraCore::recordingPathProblem(const std::string& path, bool overwrite) const {
    return detail::RecordingOutput::check(path, overwrite, dev->inputFile());
}

// Bytes of the chunk as EVT 3.0 without vector words: one word per event, per new time and per
// new row (an upper bound of what the encoder writes).
void CameraCore::statistics(const EventChunk& c) {
    uint64_t words = c.events.size() + c.triggers.size();
    uint64_t lastT = ~0ull;
    uint32_t lastY = ~0u;
    for (const Event2D& e : c.events) {
        words += (e.timestamp != lastT) + (e.y != lastY);
        lastT = e.timestamp;
        lastY = e.y;
    }
    statEvents += c.events.size();
    statBytes += words * 2;
    const int64_t now = steadyNs();
    if (now - statStartNs >= 1000000000) {
        const double sec = double(now - statStartNs) * 1e-9;
        NrStatisticInfo info;
        info.bandwidth = uint64_t(double(statBytes) / sec);
        info.eventRate = uint64_t(double(statEvents) / sec);
        if (statCallback) statCallback(info);
        statEvents = statBytes = 0;
        statStartNs = now;
    }
}

void CameraCore::streamLoop() {
    norvale::nameThisThread("camera stream");
    for (;;) {
        ChunkPtr chunk = pool->acquire();
        if (chunk->events.capacity() < kChunkReserve) { // once per pooled chunk: no growth while streaming
            chunk->events.reserve(kChunkReserve);
            chunk->triggers.reserve(64);
        } else if (chunk->events.capacity() > 4 * kChunkReserve) {
            // A burst grew it: back to the usual size, or in time every pooled chunk is burst-sized.
            std::vector<Event2D>().swap(chunk->events);
            chunk->events.reserve(kChunkReserve);
        }
        if (!dev->read(*chunk)) break;
        deliveredEvents += chunk->events.size();
        handoff.push(chunk);
        if (storage.active()) storage.push(chunk);
        std::lock_guard<std::mutex> lock(callbackMutex);
        if (!chunk->triggers.empty())
            for (const EventTriggerIn& t : chunk->triggers)
                for (auto& cb : triggerCallbacks) cb.second(t);
        if (!chunk->events.empty())
            for (auto& cb : eventCallbacks)
                cb.second(chunk->events.data(), chunk->events.data() + chunk->events.size());
        statistics(*chunk);
        deliveredUntilUs = chunk->endUs;
    }
    running = false;
    if (!dev->connected()) {
        NR_LOG(LOG_WARN, "camera %s disconnected", desc.serial.c_str());
        storage.stopRecording(); // the file written so far stays readable
    }
}

std::shared_ptr<CameraTool> CameraCore::tool(ToolType type) const {
    for (const auto& t : dev->tools())
        if (t->getType() == type) return t;
    return nullptr;
}

std::vector<ToolInfo> CameraCore::toolsInfo() const {
    std::vector<ToolInfo> out;
    for (const auto& t : dev->tools()) out.push_back(ToolInfo{t->getType(), t->getName(), t->impl().sectionName()});
    return out;
}

bool CameraCore::loadConfig(const std::string& path) { return loadToolConfig(path, dev->tools()); }
bool CameraCore::exportConfig(const std::string& path) const { return exportToolConfig(path, dev->tools()); }

} // namespace norvale
