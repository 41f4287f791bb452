#include "norvale/RawFileWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "norvale/FuncUtils.h"
#include "norvale/Logger.h"

namespace norvale {

namespace {

// Replaces the value of the "% <key> " line of a header text.
void replaceLine(std::string& header, const std::string& key, const std::string& value) {
    const std::string tag = "% " + key + " ";
    size_t pos = header.rfind("\n" + tag);
    pos = pos == std::string::npos ? (header.compare(0, tag.size(), tag) == 0 ? 0 : std::string::npos) : pos + 1;
    if (pos == std::string::npos) return;
    const size_t start = pos + tag.size();
    const size_t end = header.find('\n', start);
    header.replace(start, end - start, value);
}

// Header values are single lines: a control character would end a line early (or hide the
// "% end" line), and a serial of megabytes would make the header unreadable.
std::string headerSafe(const std::string& text) {
    constexpr size_t kMaxValue = 256;
    std::string out;
    for (unsigned char c : text) {
        const bool escaped = c < 0x20 || c == 0x7F || c == '\\';
        if (out.size() + (escaped ? 4 : 1) > kMaxValue) break;
        if (escaped) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", unsigned(c));
            out += hex;
        } else {
            out += char(c);
        }
    }
    return out;
}

} // namespace

std::string rawFileHeader(const DvsFileInfo& info) {
    DvsFileInfo safe = info;
    safe.serialNumber = headerSafe(info.serialNumber);
    std::string header = generateDvsFileHeader(safe);
    const std::string w = std::to_string(info.width), h = std::to_string(info.height);
    replaceLine(header, "format", "EVT3; height = " + h + "; width = " + w);
    replaceLine(header, "geometry", w + "x" + h);
    return header;
}

RawFileWriter::RawFileWriter() = default;

RawFileWriter::~RawFileWriter() { close(); }

bool RawFileWriter::open(const std::string& path, const DvsFileInfo& info, unsigned flushIntervalMs) {
    close();
    const int created = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (created < 0) {
        NR_LOG(LOG_ERROR, "cannot create raw file %s: %s", path.c_str(), std::strerror(errno));
        return false;
    }
    struct stat st {};
    return start(created, path, info, flushIntervalMs, ::fstat(created, &st) == 0 && S_ISREG(st.st_mode));
}

bool RawFileWriter::openDescriptor(int descriptor, const std::string& path, const DvsFileInfo& info,
                                   unsigned flushIntervalMs) {
    close();
    const int own = ::fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
    if (own < 0 || ::ftruncate(own, 0) != 0 || ::lseek(own, 0, SEEK_SET) != 0) {
        NR_LOG(LOG_ERROR, "cannot create raw file %s: %s", path.c_str(), std::strerror(errno));
        if (own >= 0) ::close(own);
        return false;
    }
    return start(own, path, info, flushIntervalMs, false);
}

bool RawFileWriter::start(int descriptor, const std::string& path, const DvsFileInfo& info, unsigned flushIntervalMs,
                          bool removable) {
    std::lock_guard<std::mutex> lock(mutex);
    fd = descriptor;
    filePath = path;
    fileInfo = info;
    error = false;
    dataWritten = haveFirst = false;
    dateOverride = false;
    goodSize = inFile = 0;
    createdRegular = removable;
    if (info.width == 0 || info.height == 0 || info.width > kMaxRawSide || info.height > kMaxRawSide) {
        NR_LOG(LOG_ERROR, "cannot write raw file %s: a geometry of %ux%u does not fit the format", path.c_str(),
               info.width, info.height);
        ::close(fd);
        fd = -1;
        if (createdRegular) ::unlink(path.c_str());
        return false;
    }
    encoder = Evt3Encoder(info.width, info.height);
    encoder.clearOutput();
    header = rawFileHeader(fileInfo); // escapes the serial once
    headerOnDisk = header;
    if (!writeAll(reinterpret_cast<const uint8_t*>(header.data()), header.size())) {
        ::close(fd);
        fd = -1;
        if (createdRegular) ::unlink(path.c_str());
        return false;
    }
    goodSize = header.size();
    stopping = false;
    flusher = std::thread(&RawFileWriter::flusherLoop, this, flushIntervalMs ? flushIntervalMs : 500);
    return true;
}

void RawFileWriter::setRecordStartTime(const SysTimePoint& time) {
    std::lock_guard<std::mutex> lock(mutex);
    dateOverride = true;
    recordStart = time;
    if (!dataWritten && fd >= 0) {
        // The header on disk gets the new date with the first data.
        replaceLine(header, "date", timePointToString(recordStart));
    }
}

bool RawFileWriter::writeAll(const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (!error) NR_LOG(LOG_ERROR, "cannot write raw file %s: %s", filePath.c_str(), std::strerror(errno));
            error = true;
            return false;
        }
        data += n;
        size -= size_t(n);
    }
    return true;
}

bool RawFileWriter::addEvents(const Event2D* begin, const Event2D* end) {
    return add(begin, end, nullptr, nullptr);
}

bool RawFileWriter::addTrigger(const EventTriggerIn& trigger) { return add(nullptr, nullptr, &trigger, &trigger + 1); }

bool RawFileWriter::add(const Event2D* eBegin, const Event2D* eEnd, const EventTriggerIn* tBegin,
                        const EventTriggerIn* tEnd) {
    std::lock_guard<std::mutex> lock(mutex);
    if (fd < 0 || error) return false;
    if (!haveFirst && eBegin != eEnd) {
        haveFirst = true;
        firstTimestamp = eBegin->timestamp;
    }
    // In pieces, each written once it reaches kFlushBytes: a failed write then costs at most one
    // piece, which is cut off again, and the events before it stay in the file.
    constexpr size_t kPiece = 16384;
    constexpr size_t kFlushBytes = 128 * 1024;
    for (;;) {
        const Event2D* m = size_t(eEnd - eBegin) > kPiece ? eBegin + kPiece : eEnd;
        const EventTriggerIn* tm = tEnd;
        if (m != eEnd) // a trigger goes after the events of its time, which may lie in a later piece
            for (tm = tBegin; tm < tEnd && tm->timestamp < m->timestamp; ++tm) {
            }
        encoder.add(eBegin, m, tBegin, tm);
        eBegin = m;
        tBegin = tm;
        if (encoder.size() >= kFlushBytes && !flushLocked()) return false;
        if (eBegin == eEnd && tBegin == tEnd) return true;
    }
}

bool RawFileWriter::flush() {
    std::lock_guard<std::mutex> lock(mutex);
    return flushLocked();
}

bool RawFileWriter::flushLocked(bool force) {
    if (fd < 0 || error) return false;
    if (encoder.size() == 0 && (dataWritten || !force)) return true;
    if (!dataWritten) {
        // Only the header is in the file: one write puts the final header and the first data
        // over it, so the file never lacks a header.
        if (haveFirst && firstTimestamp != fileInfo.dvsStartTimestamp) {
            fileInfo.dvsStartTimestamp = firstTimestamp;
            replaceLine(header, "dvs_start_timestamp", std::to_string(firstTimestamp));
        }
        std::string first = header;
        first.append(reinterpret_cast<const char*>(encoder.data()), encoder.size());
        if (::lseek(fd, 0, SEEK_SET) < 0 || !writeAll(reinterpret_cast<const uint8_t*>(first.data()), first.size())) {
            cutBackLocked();
            return false;
        }
        if (::ftruncate(fd, off_t(first.size())) != 0) {
            error = true;
            return false;
        }
        dataWritten = true;
        goodSize = first.size();
    } else if (!writeAll(encoder.data(), encoder.size())) {
        cutBackLocked();
        return false;
    } else {
        goodSize += encoder.size();
    }
    inFile = encoder.eventsEncoded();
    encoder.clearOutput();
    return true;
}

void RawFileWriter::cutBackLocked() {
    // Shrinking needs no space, so this works on a full disk too; the header written first is put
    // back when the failed write began over it.
    if (!dataWritten) {
        if (::pwrite(fd, headerOnDisk.data(), headerOnDisk.size(), 0) == ssize_t(headerOnDisk.size()))
            goodSize = headerOnDisk.size();
        else
            NR_LOG(LOG_ERROR, "raw file %s: its header could not be restored", filePath.c_str());
    }
    if (::ftruncate(fd, off_t(goodSize)) != 0 || ::lseek(fd, off_t(goodSize), SEEK_SET) < 0)
        NR_LOG(LOG_ERROR, "raw file %s: a partly written block could not be cut off", filePath.c_str());
}

bool RawFileWriter::enterState(const RawDecoderState& s) {
    std::lock_guard<std::mutex> lock(mutex);
    return fd >= 0 && !error && encoder.enterState(s);
}

void RawFileWriter::assumeState(const RawDecoderState& s) {
    std::lock_guard<std::mutex> lock(mutex);
    encoder.assumeState(s);
}

bool RawFileWriter::copyFrom(int inFd, uint64_t offset, uint64_t size, uint64_t firstEvent) {
    std::lock_guard<std::mutex> lock(mutex);
    if (!haveFirst && firstEvent != UINT64_MAX) {
        haveFirst = true;
        firstTimestamp = firstEvent;
    }
    if (!flushLocked(true)) return false;
    bool kernelCopy = true;   // until the kernel cannot copy between these two files
    std::vector<uint8_t> buf;
    while (size > 0) {
        ssize_t n;
        if (kernelCopy) {
            loff_t in = loff_t(offset);
            n = ::copy_file_range(inFd, &in, fd, nullptr, size_t(std::min<uint64_t>(size, 1 << 30)), 0);
            if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP || errno == EBADF)) {
                kernelCopy = false;
                buf.resize(1 << 20);
                continue;
            }
        } else {
            n = ::pread(inFd, buf.data(), size_t(std::min<uint64_t>(size, buf.size())), off_t(offset));
            if (n > 0 && !writeAll(buf.data(), size_t(n))) {
                cutBackLocked();
                return false;
            }
        }
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (!error)
                NR_LOG(LOG_ERROR, "cannot copy into raw file %s: %s", filePath.c_str(),
                       n == 0 ? "the source file became shorter" : std::strerror(errno));
            error = true;
            return false;
        }
        offset += uint64_t(n);
        size -= uint64_t(n);
        goodSize += uint64_t(n);
    }
    return true;
}

void RawFileWriter::flusherLoop(unsigned intervalMs) {
    std::unique_lock<std::mutex> lock(mutex);
    while (!stopping) {
        wake.wait_for(lock, std::chrono::milliseconds(intervalMs));
        if (!stopping) flushLocked();
    }
}

void RawFileWriter::stopFlusher() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    if (flusher.joinable()) flusher.join();
}

bool RawFileWriter::close() {
    stopFlusher();
    std::lock_guard<std::mutex> lock(mutex);
    if (fd < 0) return !error;
    flushLocked();
    if (!dataWritten && !error && dateOverride) {
        // header-only file: still give it the intended date
        if (::lseek(fd, 0, SEEK_SET) < 0 || !writeAll(reinterpret_cast<const uint8_t*>(header.data()), header.size()) ||
            ::ftruncate(fd, off_t(header.size())) != 0)
            error = true;
    }
    if (encoder.droppedEvents() || encoder.droppedTriggers())
        NR_LOG(LOG_WARN, "raw file %s: %llu events and %llu triggers could not be written (outside %ux%u or out of time order)",
               filePath.c_str(), (unsigned long long)encoder.droppedEvents(), (unsigned long long)encoder.droppedTriggers(),
               fileInfo.width, fileInfo.height);
    if (::close(fd) != 0 && !error) {
        NR_LOG(LOG_ERROR, "cannot close raw file %s: %s", filePath.c_str(), std::strerror(errno));
        error = true;
    }
    fd = -1;
    return !error;
}

void RawFileWriter::abandon() {
    close();
    if (!filePath.empty() && createdRegular) ::unlink(filePath.c_str()); // never a device node
}

bool RawFileWriter::isOpen() const {
    std::lock_guard<std::mutex> lock(mutex);
    return fd >= 0;
}
bool RawFileWriter::failed() const {
    std::lock_guard<std::mutex> lock(mutex);
    return error;
}
uint64_t RawFileWriter::eventsWritten() const {
    std::lock_guard<std::mutex> lock(mutex);
    return encoder.eventsEncoded();
}
uint64_t RawFileWriter::eventsInFile() const {
    std::lock_guard<std::mutex> lock(mutex);
    return inFile;
}
uint64_t RawFileWriter::droppedEvents() const {
    std::lock_guard<std::mutex> lock(mutex);
    return encoder.droppedEvents();
}

} // namespace norvale
