#include "FileState.h"

#include <fcntl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "FileRead.h"
#include "norvale/Logger.h"
#include "norvale/RawHeader.h"

namespace norvale::python {

namespace {

std::mutex gInputsMutex;
std::vector<FileIdentity> gInputs; // guarded by gInputsMutex; one entry per open FileState

} // namespace

FileState::~FileState() {
    closeInput();
    if (fd >= 0) ::close(fd);
}

void FileState::closeInput() {
    std::lock_guard<std::mutex> lock(gInputsMutex);
    if (!identity.valid) return;
    const auto it = std::find_if(gInputs.begin(), gInputs.end(), [&](const FileIdentity& i) { return i.sameAs(identity); });
    if (it != gInputs.end()) gInputs.erase(it);
    identity = {};
}

FileIdentity FileState::openInputNamed(const std::string& path) {
    const FileIdentity target = FileIdentity::ofPath(path);
    std::lock_guard<std::mutex> lock(gInputsMutex);
    for (const FileIdentity& i : gInputs)
        if (i.sameAs(target)) return i;
    return {};
}

bool FileState::mapsAnOpenInput(const void* p, size_t bytes) {
    const auto lo = reinterpret_cast<uintptr_t>(p), hi = lo + bytes;
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        unsigned long start = 0, end = 0, offset = 0, inode = 0;
        unsigned major = 0, minor = 0;
        int pathAt = 0;
        if (std::sscanf(line.c_str(), "%lx-%lx %*s %lx %x:%x %lu %n", &start, &end, &offset, &major, &minor, &inode,
                        &pathAt) < 6 ||
            end <= lo || start >= hi || inode == 0)
            continue;
        FileIdentity mapped;
        mapped.device = makedev(major, minor);
        mapped.inode = inode;
        mapped.valid = true;
        // Some file systems (overlays) show another device here than stat does: the path decides then.
        const FileIdentity named = pathAt > 0 ? FileIdentity::ofPath(line.substr(size_t(pathAt))) : FileIdentity{};
        std::lock_guard<std::mutex> lock(gInputsMutex);
        for (const FileIdentity& i : gInputs)
            if (i.sameAs(mapped) || i.sameAs(named)) return true;
    }
    return false;
}

std::shared_ptr<FileState> FileState::open(const std::string& path) {
    auto reader = DvsFileReader::createFileReader(path);
    if (!reader || !reader->prepareFile()) return nullptr;
    auto st = std::make_shared<FileState>();
    st->fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (reader->isRaw()) { // the whole-file decoder reads the words itself
        std::vector<char> head(kMaxHeaderBytes + 1);
        const ssize_t got = st->fd < 0 ? -1 : readAt(st->fd, reinterpret_cast<uint8_t*>(head.data()), head.size(), 0);
        RawHeader header;
        std::string problem;
        if (got < 0 ||
            parseRawHeader(head.data(), size_t(got), size_t(got) < head.size(), header, problem) != HeaderStatus::Ok)
            return nullptr; // replaced under our feet
        st->dataOffset = header.dataOffset;
    } else if (st->fd < 0) {
        return nullptr;
    }
    st->identity = FileIdentity::ofDescriptor(st->fd);
    if (st->identity.valid) {
        std::lock_guard<std::mutex> lock(gInputsMutex);
        gInputs.push_back(st->identity);
    }
    st->path = path;
    reader->getFileInfo(st->info);
    st->stats = reader->getStats();
    st->profile = reader->getRateProfile();
    st->profileSums.resize(st->profile.counts.size() + 1, 0);
    for (size_t i = 0; i < st->profile.counts.size(); ++i)
        st->profileSums[i + 1] = st->profileSums[i] + st->profile.counts[i];
    st->triggers = reader->triggers();
    st->format = reader->format();
    st->fileFormat = reader->fileFormat();
    st->width = reader->width();
    st->height = reader->height();
    st->reader = std::move(reader);
    return st;
}

size_t FileState::slotOf(uint64_t t) const {
    const size_t slots = profile.counts.size();
    if (slots == 0 || t <= profile.startTimestamp) return 0; // slot 0 also holds what comes before it
    return size_t(std::min<uint64_t>((t - profile.startTimestamp) / profile.slotDurationUs, slots - 1));
}

uint64_t FileState::eventsAtMost(uint64_t from, uint64_t to) const {
    if (to <= from || profile.counts.empty()) return 0;
    return profileSums[slotOf(to - 1) + 1] - profileSums[slotOf(from)];
}

uint64_t FileState::windowEnd(uint64_t from, uint64_t events) const {
    const uint64_t past = stats.lastTimestamp + 1;
    if (profile.counts.empty()) return past;
    const size_t first = slotOf(from);
    const uint64_t target = profileSums[first] + std::max<uint64_t>(events, 1);
    // First slot boundary after `first` by which `target` events have come.
    const auto it = std::lower_bound(profileSums.begin() + long(first) + 1, profileSums.end(), target);
    if (it == profileSums.end()) return past;
    const uint64_t boundary = profile.startTimestamp + uint64_t(it - profileSums.begin()) * profile.slotDurationUs;
    return std::clamp<uint64_t>(boundary, from + 1, std::max(past, from + 1));
}

bool FileState::read(uint64_t from, uint64_t to, std::vector<Event2D>& out) {
    // out's elements are room that the reader writes over; grown without copying them over.
    const size_t most = size_t(eventsAtMost(from, to));
    if (out.capacity() < most) {
        out.clear();
        out.reserve(most);
    }
    if (!reader->readRange(from, to, out)) return false;
    // The file's order is the sensor's read-out order, which may step back in time a little.
    sortByTime(out.data(), out.data() + out.size());
    return true;
}

bool FileState::readBlocks(Event2D* out, size_t room, size_t& count, size_t threads) {
    // Formats read in blocks: each block straight into its place in the caller's memory.
    bool ordered = false;
    if (!reader->readAllEvents(out, room, count, threads, ordered)) return false;
    if (!ordered) sortByTime(out, out + count);
    return true;
}

template <class Decode>
bool FileState::readWhole(size_t threads, Decode&& decode) {
    if (!whole) whole = std::make_unique<WholeFileDecoder>(format, width, height);
    std::string problem;
    const WholeFileDecoder::Plan plan = WholeFileDecoder::plan(stats.dataBytes, threads);
    if (decode(*whole, reader->decodeSpans(plan.spans), plan.threads, problem)) return true;
    NR_LOG(LOG_ERROR, "raw file %s: %s", path.c_str(), problem.c_str());
    return false;
}

bool FileState::readAll(EventBuffer& out, size_t threads) {
    if (!reader->isRaw()) {
        if (!out.reserve(std::max<size_t>(size_t(stats.eventCount), 1))) throw std::bad_alloc();
        size_t count = 0;
        if (!readBlocks(out.data(), out.capacity(), count, threads)) return false;
        out.setSize(count);
        return true;
    }
    return readWhole(threads, [&](WholeFileDecoder& whole, const std::vector<DecodeSpan>& spans, size_t n,
                                  std::string& problem) {
        return whole.decode(fd, dataOffset, spans, n, stats.eventCount, out, problem);
    });
}

bool FileState::readAllInto(Event2D* events, size_t room, size_t& count, size_t threads) {
    if (!reader->isRaw()) {
        if (stats.eventCount > room) {
            NR_LOG(LOG_ERROR, "%s: the array has room for %zu events, the file holds %llu", path.c_str(), room,
                   (unsigned long long)stats.eventCount);
            return false;
        }
        return readBlocks(events, room, count, threads);
    }
    return readWhole(threads, [&](WholeFileDecoder& whole, const std::vector<DecodeSpan>& spans, size_t n,
                                  std::string& problem) {
        return whole.decodeInto(fd, dataOffset, spans, n, events, room, count, problem);
    });
}

} // namespace norvale::python
