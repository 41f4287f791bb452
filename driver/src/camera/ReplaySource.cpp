#include "camera/ReplaySource.h"

#include <algorithm>
#include <cmath>

#include "norvale/Logger.h"

namespace norvale {

std::unique_ptr<ReplaySource> ReplaySource::open(const std::string& path, uint64_t seed) {
    auto reader = DvsFileReader::createFileReader(path);
    uint64_t first = 0, last = 0;
    if (!reader || !reader->prepareFile() || !reader->getStartTimestamp(first) || !reader->getEndTimestamp(last)) {
        NR_LOG(LOG_WARN, "replay camera: %s is not a readable raw file with events", path.c_str());
        return nullptr;
    }
    std::unique_ptr<ReplaySource> s(new ReplaySource());
    s->first = first;
    s->length = last - first + 1;
    s->w = reader->width();
    s->h = reader->height();
    s->reader = std::move(reader);
    s->seedValue = s->rng = seed | 1;
    return s;
}

void ReplaySource::readSpan(uint64_t fileFrom, uint64_t fileTo, uint64_t shift, double keepOn, double keepOff,
                            std::vector<Event2D>& out, std::vector<EventTriggerIn>& triggers) {
    if (!reader->readRange(fileFrom, fileTo, scratch, &scratchTriggers)) return;
    for (const Event2D& e : scratch) {
        const double keep = e.polarity ? keepOn : keepOff;
        if (keep < 1.0) { // xorshift: cheap and reproducible
            rng ^= rng << 13;
            rng ^= rng >> 7;
            rng ^= rng << 17;
            if (double(rng >> 11) * (1.0 / 9007199254740992.0) >= keep) continue;
        }
        Event2D m = e;
        m.timestamp = e.timestamp - first + shift;
        out.push_back(m);
    }
    for (EventTriggerIn t : scratchTriggers) {
        t.timestamp = t.timestamp - first + shift;
        triggers.push_back(t);
    }
}

void ReplaySource::generate(uint64_t fromUs, uint64_t toUs, const BiasSettings& b, std::vector<Event2D>& out,
                            std::vector<EventTriggerIn>& triggers) {
    const double keepOn = std::min(1.0, std::exp(-b.diffOn / 30.0));
    const double keepOff = std::min(1.0, std::exp(-b.diffOff / 30.0));
    while (fromUs < toUs) { // one piece per loop of the file
        const uint64_t loop = fromUs / length, offset = fromUs % length;
        const uint64_t pieceEnd = std::min(toUs, (loop + 1) * length);
        readSpan(first + offset, first + offset + (pieceEnd - fromUs), loop * length, keepOn, keepOff, out, triggers);
        fromUs = pieceEnd;
    }
}

} // namespace norvale
