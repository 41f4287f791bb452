#include "FileState.h"

#include <algorithm>

namespace norvale::python {

std::shared_ptr<FileState> FileState::open(const std::string& path) {
    auto reader = DvsFileReader::createFileReader(path);
    if (!reader || !reader->prepareFile()) return nullptr;
    auto st = std::make_shared<FileState>();
    st->path = path;
    reader->getFileInfo(st->info);
    st->stats = reader->getStats();
    st->profile = reader->getRateProfile();
    st->profileSums.resize(st->profile.counts.size() + 1, 0);
    for (size_t i = 0; i < st->profile.counts.size(); ++i)
        st->profileSums[i + 1] = st->profileSums[i] + st->profile.counts[i];
    st->triggers = reader->triggers();
    st->format = reader->format();
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
    out.clear();
    out.reserve(size_t(eventsAtMost(from, to)));
    if (!reader->readRange(from, to, out)) return false;
    // The file's order is the sensor's read-out order, which may step back in time a little.
    const auto earlier = [](const Event2D& a, const Event2D& b) { return a.timestamp < b.timestamp; };
    if (!std::is_sorted(out.begin(), out.end(), earlier)) std::stable_sort(out.begin(), out.end(), earlier);
    return true;
}

} // namespace norvale::python
