// HDF5 event files: files written by h5py (both layouts, gzip, LZ4 and Blosc) read with exact
// counts and sums; our writer's files read back event for event and read by h5py; damaged and
// lying files refused with a message.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <tuple>

#include "TempDir.h"
#include "norvale/DvsFileReader.h"
#include "formats/hdf5/Hdf5ChunkTable.h"
#include "formats/hdf5/Hdf5Source.h"
#include "formats/hdf5/Hdf5Writer.h"

using namespace norvale;
using namespace norvale::detail;

namespace {

constexpr const char* kPluginDir = "/usr/lib/x86_64-linux-gnu/hdf5/serial/plugins";

// The compression plugins keep their contexts in their own globals and the library unloads them
// at exit, which LeakSanitizer would take for a leak of ours: they stay mapped.
const bool pluginsPinned = [] {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(kPluginDir, ec))
        ::dlopen(entry.path().c_str(), RTLD_NOW | RTLD_NODELETE);
    return true;
}();

struct Sums {
    uint64_t n = 0, t = 0, x = 0, y = 0, p = 0;
    bool operator==(const Sums& o) const { return n == o.n && t == o.t && x == o.x && y == o.y && p == o.p; }
};

std::ostream& operator<<(std::ostream& os, const Sums& s) {
    return os << "n=" << s.n << " t=" << s.t << " x=" << s.x << " y=" << s.y << " p=" << s.p;
}

// Runs a Python script; its output lines "name n t x y p" become sums by name.
std::map<std::string, Sums> runPython(const TempDir& dir, const std::string& script) {
    const std::string file = dir.path("make.py");
    std::ofstream(file) << script;
    setenv("HDF5_PLUGIN_PATH", kPluginDir, 0); // h5py finds the LZ4 and Blosc filters there
    const std::string command = std::string(NORVALE_PYTHON) + " " + file + " " + dir.path() + " 2>&1";
    std::map<std::string, Sums> out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return out;
    char line[4096];
    std::string all;
    while (std::fgets(line, sizeof line, pipe)) {
        all += line;
        std::istringstream in(line);
        std::string name;
        Sums s;
        if (in >> name >> s.n >> s.t >> s.x >> s.y >> s.p) out[name] = s;
    }
    EXPECT_EQ(::pclose(pipe), 0) << all;
    return out;
}

// Every block of the source, in order; false with problem at the first failure.
bool readWhole(Hdf5Source& source, std::vector<Event2D>& all, std::string& problem, size_t* blocks = nullptr) {
    all.clear();
    BlockPosition pos = source.first(), next;
    std::vector<Event2D> events;
    std::vector<EventTriggerIn> triggers;
    for (size_t i = 0;; ++i) {
        bool end = false;
        if (!source.read(pos, events, triggers, next, end, problem)) return false;
        if (end) {
            if (blocks) *blocks = i;
            return true;
        }
        EXPECT_LE(events.size(), EventBlockSource::kMaxBlockEvents);
        EXPECT_TRUE(triggers.empty());
        all.insert(all.end(), events.begin(), events.end());
        pos = next;
    }
}

Sums sumsOf(const std::vector<Event2D>& events) {
    Sums s;
    for (const Event2D& e : events) {
        ++s.n;
        s.t += e.timestamp;
        s.x += e.x;
        s.y += e.y;
        s.p += e.polarity;
    }
    return s;
}

// A deterministic stream with gaps, a burst and pixels of a 1280 x 720 sensor.
std::vector<Event2D> makeEvents(size_t n, uint64_t start) {
    std::vector<Event2D> out(n);
    uint64_t t = start;
    uint32_t r = 12345;
    for (size_t i = 0; i < n; ++i) {
        r = r * 1103515245u + 12345u;
        t += (i % 50000 == 0) ? 250000 : (r >> 28); // a quarter-second gap now and then
        out[i].x = uint16_t((r >> 8) % 1280);
        out[i].y = uint16_t((r >> 3) % 720);
        out[i].polarity = uint8_t((r >> 20) & 1);
        out[i].timestamp = t;
    }
    return out;
}

const char* kPythonCommon = R"(
import sys, os, numpy as np, h5py
d = sys.argv[1]
rng = np.random.default_rng(7)
def data(n, t0):
    t = t0 + np.cumsum(rng.integers(0, 40, n)).astype(np.int64)
    x = rng.integers(0, 1280, n).astype(np.uint16)
    y = rng.integers(0, 720, n).astype(np.uint16)
    p = rng.integers(0, 2, n).astype(np.uint8)
    return t, x, y, p
def report(name, t, x, y, p):
    print(name, len(t), int(t.astype(np.uint64).sum()), int(x.astype(np.uint64).sum()), int(y.astype(np.uint64).sum()), int((p > 0).sum()))
)";

} // namespace

// Files no writer of ours made: the separate-datasets layout (gzip, t_offset dataset, ms_to_idx;
// t_offset attribute, no ms_to_idx, uint32 t, p as -1/1; LZ4 and Blosc plugins) and the compound
// layout (named "events", and the first compound found in a subgroup).
TEST(Hdf5Source, ReadsFilesWrittenByH5py) {
    TempDir dir;
    const std::string script = std::string(kPythonCommon) + R"(
t, x, y, p = data(300001, 5000)
ms = np.searchsorted(t, np.arange(0, int(t[-1]) // 1000 + 1) * 1000).astype(np.uint64)
with h5py.File(os.path.join(d, 'a_gzip.h5'), 'w') as f:
    g = f.create_group('events')
    for k, v in (('x', x), ('y', y), ('p', p), ('t', t)):
        g.create_dataset(k, data=v, chunks=(20000,), compression='gzip', compression_opts=4)
    f.create_dataset('t_offset', data=np.int64(5_000_000))
    f.create_dataset('ms_to_idx', data=ms)
report('a_gzip', t + 5_000_000, x, y, p)

t2 = (t % 2**32).astype(np.uint32)
p2 = np.where(p > 0, 1, -1).astype(np.int8)
with h5py.File(os.path.join(d, 'a_attr.h5'), 'w') as f:
    g = f.create_group('events')
    for k, v in (('x', x.astype(np.int32)), ('y', y.astype(np.int64)), ('p', p2), ('t', t2)):
        g.create_dataset(k, data=v)
    g.attrs['t_offset'] = np.int64(-1000)
    f.attrs['width'] = 1280
    f.attrs['height'] = 720
report('a_attr', t2.astype(np.int64) - 1000, x, y, p)

rec = np.zeros(len(t), dtype=[('t', '<i8'), ('x', '<u2'), ('y', '<u2'), ('p', 'i1')])
rec['t'], rec['x'], rec['y'], rec['p'] = t, x, y, p
with h5py.File(os.path.join(d, 'b_events.h5'), 'w') as f:
    f.create_dataset('events', data=rec, chunks=(50000,), compression='gzip')
report('b_events', t, x, y, p)

rec2 = np.zeros(len(t), dtype=[('p', 'u1'), ('y', '>i2'), ('pad', 'u1'), ('x', '>u4'), ('t', '>u8')])
rec2['t'], rec2['x'], rec2['y'], rec2['p'] = t, x, y, p
with h5py.File(os.path.join(d, 'b_nested.h5'), 'w') as f:
    f.create_dataset('aaa_other', data=np.arange(10))
    f.create_group('recording').create_dataset('cd', data=rec2, chunks=(65536,))
report('b_nested', t, x, y, p)

for name, fid, opts in (('a_lz4', 32004, ()), ('a_blosc', 32001, (0, 0, 0, 0, 5, 1, 1))):
    try:
        with h5py.File(os.path.join(d, name + '.h5'), 'w') as f:
            g = f.create_group('events')
            for k, v in (('x', x), ('y', y), ('p', p), ('t', t)):
                g.create_dataset(k, data=v, chunks=(65536,), compression=fid, compression_opts=opts)
        report(name, t, x, y, p)
    except Exception as e:
        print('skipped', name, e)
)";
    EXPECT_TRUE(pluginsPinned);
    const auto expected = runPython(dir, script);
    ASSERT_TRUE(expected.count("a_gzip") && expected.count("a_attr") && expected.count("b_events") &&
                expected.count("b_nested"));
    for (const auto& [name, sums] : expected) {
        SCOPED_TRACE(name);
        Hdf5Source source;
        std::string problem;
        ASSERT_TRUE(source.open(dir.path(name + ".h5"), problem)) << problem;
        std::vector<Event2D> events;
        size_t blocks = 0;
        ASSERT_TRUE(readWhole(source, events, problem, &blocks)) << problem;
        EXPECT_EQ(sumsOf(events), sums);
        EXPECT_EQ(source.compoundLayout(), name[0] == 'b');
        EXPECT_GE(blocks, 300001 / source.blockEvents());
        for (size_t i = 1; i < events.size(); ++i) ASSERT_LE(events[i - 1].timestamp, events[i].timestamp) << i;
        if (name == "a_gzip") {
            EXPECT_TRUE(source.hasMsIndex());
            EXPECT_EQ(source.timeOffset(), 5'000'000);
            // Blocks follow the 20000-event chunks.
            EXPECT_EQ(source.blockEvents() % 20000, 0u);
        }
        if (name == "a_attr") {
            EXPECT_FALSE(source.hasMsIndex());
            EXPECT_EQ(source.info().width, 1280u);
            EXPECT_EQ(source.info().height, 720u);
        }
    }
    // Through the one reader interface: found by content, geometry from the data (no attributes),
    // a range in the middle exactly the events of its times.
    auto reader = DvsFileReader::createFileReader(dir.path("a_gzip.h5"));
    ASSERT_TRUE(reader);
    ASSERT_TRUE(reader->prepareFile());
    EXPECT_EQ(reader->fileFormat(), EventFileFormat::Hdf5);
    EXPECT_EQ(reader->width(), 1280u);
    EXPECT_EQ(reader->height(), 720u);
    std::vector<Event2D> all, range;
    ASSERT_TRUE(reader->readRange(0, UINT64_MAX, all));
    EXPECT_EQ(sumsOf(all), expected.at("a_gzip"));
    const uint64_t from = all[all.size() / 3].timestamp, to = from + 33'000;
    ASSERT_TRUE(reader->readRange(from, to, range));
    std::vector<Event2D> want;
    for (const Event2D& e : all)
        if (e.timestamp >= from && e.timestamp < to) want.push_back(e);
    EXPECT_GT(want.size(), 100u);
    EXPECT_TRUE(range == want);

    // Reported, not silently passed, when the plugins are not installed.
    if (!expected.count("a_lz4") || !expected.count("a_blosc")) ADD_FAILURE() << "LZ4 or Blosc file not made";
}

// Our writer's file reads back event for event, with its ms_to_idx, attributes, and is what h5py reads.
TEST(Hdf5Writer, RoundTripAndReadByH5py) {
    TempDir dir;
    const std::string path = dir.path("out.h5");
    const std::vector<Event2D> events = makeEvents(400000, 1'700'000'000'000'000ull);
    EventFileDescription description;
    description.width = 1280;
    description.height = 720;
    description.serialNumber = "SN \"42\"";
    {
        Hdf5Writer writer;
        std::string problem;
        ASSERT_TRUE(writer.begin(-1, path, description, problem)) << problem;
        // Pieces of uneven sizes, across chunk ends.
        size_t at = 0;
        for (size_t piece : {size_t(1), size_t(70000), size_t(200000), size_t(0), size_t(129999)}) {
            ASSERT_TRUE(writer.write(events.data() + at, events.data() + at + piece, nullptr, nullptr, problem));
            at += piece;
        }
        ASSERT_EQ(at, events.size());
        ASSERT_TRUE(writer.end(problem)) << problem;
    }
    Hdf5Source source;
    std::string problem;
    ASSERT_TRUE(source.open(path, problem)) << problem;
    EXPECT_EQ(source.info().width, 1280u);
    EXPECT_EQ(source.info().height, 720u);
    EXPECT_EQ(source.info().serialNumber, "SN \"42\"");
    EXPECT_TRUE(source.hasMsIndex());
    std::vector<Event2D> back;
    ASSERT_TRUE(readWhole(source, back, problem)) << problem;
    ASSERT_EQ(back.size(), events.size());
    for (size_t i = 0; i < events.size(); ++i) ASSERT_EQ(back[i], events[i]) << i;

    // h5py sees the same events, and ms_to_idx[k] is the first event at or after t0 + 1000 k.
    const std::string script = std::string(kPythonCommon) + R"(
with h5py.File(os.path.join(d, 'out.h5'), 'r') as f:
    g = f['events']
    t, x, y, p = g['t'][:], g['x'][:], g['y'][:], g['p'][:]
    ms = f['ms_to_idx'][:]
    want = np.searchsorted(t, t[0] + np.arange(0, (int(t[-1]) - int(t[0])) // 1000 + 1) * 1000)
    assert np.array_equal(ms, want), 'ms_to_idx differs'
    assert int(f['t_offset'][()]) == 0 and g['t'].dtype == np.int64 and g['x'].dtype == np.uint16
    report('h5py', t, x, y, p)
)";
    const auto seen = runPython(dir, script);
    ASSERT_TRUE(seen.count("h5py"));
    EXPECT_EQ(seen.at("h5py"), sumsOf(events));
}

// The default file is plain (no filter, read straight from the file); compress gives
// shuffle + gzip chunks read through the library. Both hold the same events, and ms_to_idx stays
// right across a pause long enough to fill a million entries in one batch.
TEST(Hdf5Writer, PlainByDefaultCompressedWhenAsked) {
    TempDir dir;
    std::vector<Event2D> events = makeEvents(600000, 1'000'000);
    for (size_t i = 400000; i < events.size(); ++i) events[i].timestamp += 1'500'000'000; // 25 minutes
    for (bool compress : {false, true}) {
        SCOPED_TRACE(compress);
        const std::string path = dir.path(compress ? "gz.h5" : "plain.h5");
        EventFileDescription description;
        description.compress = compress;
        Hdf5Writer writer;
        std::string problem;
        ASSERT_TRUE(writer.begin(-1, path, description, problem)) << problem;
        EXPECT_EQ(writer.chunkEvents(), compress ? Hdf5Writer::kCompressedChunkEvents : Hdf5Writer::kPlainChunkEvents);
        for (size_t at = 0; at < events.size(); at += 250000) {
            const size_t n = std::min<size_t>(250000, events.size() - at);
            ASSERT_TRUE(writer.write(events.data() + at, events.data() + at + n, nullptr, nullptr, problem)) << problem;
        }
        ASSERT_TRUE(writer.end(problem)) << problem;

        Hdf5Source source;
        ASSERT_TRUE(source.open(path, problem)) << problem;
        EXPECT_EQ(source.directColumns(), compress ? 0 : 4);
        EXPECT_TRUE(source.hasMsIndex());
        std::vector<Event2D> back;
        ASSERT_TRUE(readWhole(source, back, problem)) << problem;
        ASSERT_EQ(back.size(), events.size());
        for (size_t i = 0; i < events.size(); ++i) ASSERT_EQ(back[i], events[i]) << i;
    }
    const std::string script = std::string(kPythonCommon) + R"(
for name, comp in (('plain.h5', None), ('gz.h5', 'gzip')):
    with h5py.File(os.path.join(d, name), 'r') as f:
        g = f['events']
        for k in 'xypt':
            assert g[k].compression == comp and g[k].shuffle == (comp is not None), (name, k)
        assert g['t'].chunks == (65536,), g['t'].chunks
        t = g['t'][:]
        want = np.searchsorted(t, t[0] + np.arange(0, (int(t[-1]) - int(t[0])) // 1000 + 1) * 1000)
        assert np.array_equal(f['ms_to_idx'][:], want), name + ': ms_to_idx differs'
        report(name, t, g['x'][:], g['y'][:], g['p'][:])
)";
    const auto seen = runPython(dir, script);
    ASSERT_TRUE(seen.count("plain.h5") && seen.count("gz.h5"));
    EXPECT_EQ(seen.at("plain.h5"), sumsOf(events));
    EXPECT_EQ(seen.at("gz.h5"), sumsOf(events));
}

// Unfiltered files of other writers are read straight from the file: contiguous data after a user
// block with a uint32 t and t_offset, small chunks (after a user block too) with a partial last one, and a dataset with
// chunks never written (read through the library, its fill value). A file cut short after it was
// opened gives a message, not garbage.
TEST(Hdf5Source, ReadsPlainFilesStraightFromTheFile) {
    TempDir dir;
    const std::string script = std::string(kPythonCommon) + R"(
t, x, y, p = data(300001, 5000)
t32 = t.astype(np.uint32)
p8 = np.where(p > 0, 1, -1).astype(np.int8)
with h5py.File(os.path.join(d, 'c_user.h5'), 'w', userblock_size=1024) as f:
    g = f.create_group('events')
    for k, v in (('x', x), ('y', y), ('p', p8), ('t', t32)):
        g.create_dataset(k, data=v)
    f.create_dataset('t_offset', data=np.int64(7_000_000))
report('c_user', t32.astype(np.int64) + 7_000_000, x, y, p)
with h5py.File(os.path.join(d, 'c_chunks.h5'), 'w', userblock_size=512) as f:
    g = f.create_group('events')
    for k, v in (('x', x), ('y', y), ('p', p), ('t', t)):
        g.create_dataset(k, data=v, chunks=(7000,))
report('c_chunks', t, x, y, p)
with h5py.File(os.path.join(d, 'c_sparse.h5'), 'w') as f:
    g = f.create_group('events')
    for k, v in (('y', y), ('p', p), ('t', t)):
        g.create_dataset(k, data=v, chunks=(10000,))
    xs = g.create_dataset('x', shape=(len(t),), dtype=np.uint16, chunks=(10000,))
    xs[:150000] = x[:150000]
xz = x.copy()
xz[150000:] = 0
report('c_sparse', t, xz, y, p)
)";
    const auto expected = runPython(dir, script);
    ASSERT_EQ(expected.size(), 3u);
    const std::map<std::string, int> direct = {{"c_user", 4}, {"c_chunks", 4}, {"c_sparse", 3}};
    for (const auto& [name, sums] : expected) {
        SCOPED_TRACE(name);
        Hdf5Source source;
        std::string problem;
        ASSERT_TRUE(source.open(dir.path(name + ".h5"), problem)) << problem;
        EXPECT_EQ(source.directColumns(), direct.at(name));
        std::vector<Event2D> events;
        ASSERT_TRUE(readWhole(source, events, problem)) << problem;
        EXPECT_EQ(sumsOf(events), sums);
    }
    // Through the reader: a 33 ms range is exactly the events of its times.
    auto reader = DvsFileReader::createFileReader(dir.path("c_chunks.h5"));
    ASSERT_TRUE(reader && reader->prepareFile());
    std::vector<Event2D> all, range, want;
    ASSERT_TRUE(reader->readRange(0, UINT64_MAX, all));
    EXPECT_EQ(sumsOf(all), expected.at("c_chunks"));
    const uint64_t from = all[all.size() / 2].timestamp + 1, to = from + 33'000;
    ASSERT_TRUE(reader->readRange(from, to, range));
    for (const Event2D& e : all)
        if (e.timestamp >= from && e.timestamp < to) want.push_back(e);
    EXPECT_GT(want.size(), 1000u);
    EXPECT_TRUE(range == want);

    Hdf5Source source;
    std::string problem;
    const std::string cut = dir.path("c_chunks.h5");
    ASSERT_TRUE(source.open(cut, problem)) << problem;
    std::filesystem::resize_file(cut, std::filesystem::file_size(cut) / 2);
    std::vector<Event2D> back;
    EXPECT_FALSE(readWhole(source, back, problem));
    EXPECT_NE(problem.find("the file ends before them"), std::string::npos) << problem;
}

// Declared lengths the file cannot hold, values no event can have, and damaged files: a message,
// no crash, nothing read past what was checked.
TEST(Hdf5Source, RefusesLyingAndDamagedFiles) {
    TempDir dir;
    const std::string script = std::string(kPythonCommon) + R"(
def group(name, n, **kw):
    with h5py.File(os.path.join(d, name), 'w') as f:
        g = f.create_group('events')
        for k in 'xypt':
            g.create_dataset(k, shape=(n,), dtype='i8', **kw)
group('bomb.h5', 10**12, chunks=(65536,), compression='gzip')
group('unallocated.h5', 10**9)
with h5py.File(os.path.join(d, 'unequal.h5'), 'w') as f:
    g = f.create_group('events')
    for k, n in (('x', 5), ('y', 5), ('p', 5), ('t', 4)):
        g.create_dataset(k, data=np.zeros(n, np.int64))
with h5py.File(os.path.join(d, 'wide_x.h5'), 'w') as f:
    g = f.create_group('events')
    for k, v in (('x', [1, 70000]), ('y', [1, 2]), ('p', [0, 1]), ('t', [10, 20])):
        g.create_dataset(k, data=np.array(v, np.int32))
with h5py.File(os.path.join(d, 'negative_t.h5'), 'w') as f:
    g = f.create_group('events')
    for k, v in (('x', [1, 2]), ('y', [1, 2]), ('p', [0, 1]), ('t', [10, 20])):
        g.create_dataset(k, data=np.array(v, np.int64))
    f.create_dataset('t_offset', data=np.int64(-15))
with h5py.File(os.path.join(d, 'float_t.h5'), 'w') as f:
    g = f.create_group('events')
    for k in 'xyp':
        g.create_dataset(k, data=np.zeros(3, np.uint16))
    g.create_dataset('t', data=np.zeros(3))
with h5py.File(os.path.join(d, 'nothing.h5'), 'w') as f:
    f.create_dataset('image', data=np.zeros((4, 4)))
with h5py.File(os.path.join(d, 'lz4.h5'), 'w') as f:
    g = f.create_group('events')
    for k in 'xypt':
        g.create_dataset(k, data=np.zeros(10, np.int64), chunks=(5,), compression=32004)
print('done 0 0 0 0 0')
)";
    ASSERT_TRUE(runPython(dir, script).count("done"));
    const std::pair<const char*, const char*> refused[] = {
        {"bomb.h5", "declares 1000000000000 elements"},
        {"unallocated.h5", "declares 1000000000 elements"},
        {"unequal.h5", "differ in length"},
        {"float_t.h5", "does not hold integers"},
        {"nothing.h5", "neither a group"},
    };
    for (const auto& [name, message] : refused) {
        Hdf5Source source;
        std::string problem;
        EXPECT_FALSE(source.open(dir.path(name), problem)) << name;
        EXPECT_NE(problem.find(message), std::string::npos) << name << ": " << problem;
    }
    for (const auto& [name, message] : {std::pair<const char*, const char*>{"wide_x.h5", "x = 70000"},
                                        {"negative_t.h5", "t = 10, t_offset = -15"}}) {
        Hdf5Source source;
        std::string problem;
        ASSERT_TRUE(source.open(dir.path(name), problem)) << name << ": " << problem;
        std::vector<Event2D> events;
        EXPECT_FALSE(readWhole(source, events, problem)) << name;
        EXPECT_NE(problem.find(message), std::string::npos) << name << ": " << problem;
    }

    // A filter that is not installed is named (plugins off for this one open).
    {
        H5PLset_loading_state(0);
        H5Zunregister(32004);
        Hdf5Source source;
        std::string problem;
        EXPECT_FALSE(source.open(dir.path("lz4.h5"), problem));
        EXPECT_NE(problem.find("(id 32004), which is not installed"), std::string::npos) << problem;
        H5PLset_loading_state(H5PL_ALL_PLUGIN);
    }

    // Our own file, cut short and bit-flipped: every damage shows as a failure with a message.
    const std::string good = dir.path("good.h5");
    const std::vector<Event2D> events = makeEvents(300000, 1000);
    {
        Hdf5Writer writer;
        std::string problem;
        ASSERT_TRUE(writer.begin(-1, good, EventFileDescription{}, problem)) << problem;
        ASSERT_TRUE(writer.write(events.data(), events.data() + events.size(), nullptr, nullptr, problem));
        ASSERT_TRUE(writer.end(problem)) << problem;
    }
    const auto size = std::filesystem::file_size(good);
    for (double keep : {0.9, 0.5, 0.01}) {
        const std::string cut = dir.path("cut.h5");
        std::filesystem::copy_file(good, cut, std::filesystem::copy_options::overwrite_existing);
        std::filesystem::resize_file(cut, uintmax_t(double(size) * keep));
        Hdf5Source source;
        std::string problem;
        std::vector<Event2D> back;
        const bool ok = source.open(cut, problem) && readWhole(source, back, problem);
        EXPECT_FALSE(ok) << keep;
        EXPECT_FALSE(problem.empty()) << keep;
    }
    int readable = 0;
    for (int flip = 0; flip < 24; ++flip) {
        const std::string bent = dir.path("bent.h5");
        std::filesystem::copy_file(good, bent, std::filesystem::copy_options::overwrite_existing);
        {
            std::fstream f(bent, std::ios::in | std::ios::out | std::ios::binary);
            for (uint64_t k = 0; k < 8; ++k) {
                const uint64_t at = (uint64_t(flip) * 7919 + k * 104729) * 2654435761u % size;
                f.seekg(std::streamoff(at));
                const char c = char(f.get() ^ (1 << (k % 8)));
                f.seekp(std::streamoff(at));
                f.put(c);
            }
        }
        Hdf5Source source;
        std::string problem;
        std::vector<Event2D> back;
        if (source.open(bent, problem) && readWhole(source, back, problem)) {
            ++readable; // flips in unused bytes or in values
            EXPECT_EQ(back.size(), events.size());
        } else {
            EXPECT_FALSE(problem.empty());
        }
    }
    EXPECT_LT(readable, 24);
}

// The index sums blocks up without building their events, on threads: its figures and ranges are
// those of the events themselves, for files in order, stepping back and with 32-bit times shifted.
TEST(Hdf5Source, IndexOfSummedUpBlocksIsExact) {
    TempDir dir;
    const std::string script = std::string(kPythonCommon) + R"(
def figures(name, t, x, y):
    print(name + '_fig', int(t.min()), int(t.max()), int(x.max()), int(y.max()), 0)
def write(name, t, x, y, p, chunks=None, offset=None, width=None):
    with h5py.File(os.path.join(d, name + '.h5'), 'w') as f:
        g = f.create_group('events')
        for k, v in (('x', x), ('y', y), ('p', p), ('t', t)):
            g.create_dataset(k, data=v, chunks=chunks)
        if offset is not None:
            f.create_dataset('t_offset', data=np.int64(offset))
        if width is not None:
            g.attrs['width'] = width
            g.attrs['height'] = 480
t, x, y, p = data(600001, 5000)
write('sorted', t, x, y, p, width=640)
report('sorted', t, x, y, p); figures('sorted', t, x, y)
tb = t.copy()
tb[100000], tb[100001] = tb[100001] + 5, tb[100000]
tb[400000:] -= 3_000_000
write('back', tb, x, y, p, chunks=(1000,))
report('back', tb, x, y, p); figures('back', tb, x, y)
t32 = (t - 5000).astype(np.uint32)
p8 = np.where(p > 0, 1, -1).astype(np.int8)
write('shifted', t32, x, y, p8, offset=7_000_000)
ts = t32.astype(np.int64) + 7_000_000
report('shifted', ts, x, y, p); figures('shifted', ts, x, y)
)";
    const auto expected = runPython(dir, script);
    ASSERT_EQ(expected.size(), 6u);
    for (const char* name : {"sorted", "back", "shifted"}) {
        SCOPED_TRACE(name);
        const Sums& sums = expected.at(name);
        const Sums& fig = expected.at(std::string(name) + "_fig"); // n: min t, t: max t, x, y: largest
        auto reader = DvsFileReader::createFileReader(dir.path(std::string(name) + ".h5"));
        ASSERT_TRUE(reader && reader->prepareFile());
        const RawFileStats stats = reader->getStats();
        EXPECT_EQ(stats.eventCount, sums.n);
        EXPECT_EQ(stats.onCount, sums.p);
        EXPECT_EQ(stats.offCount, sums.n - sums.p);
        EXPECT_EQ(stats.firstTimestamp, fig.n);
        EXPECT_EQ(stats.lastTimestamp, fig.t);
        // x up to 1279 exceeds the stated 640: the smallest sensor holding the events
        EXPECT_EQ(reader->width(), 1280u);
        EXPECT_EQ(reader->height(), 720u);
        EXPECT_EQ(fig.x, 1279u);
        const RateProfile rate = reader->getRateProfile();
        uint64_t counted = 0;
        for (uint32_t c : rate.counts) counted += c;
        EXPECT_EQ(counted, sums.n);

        std::vector<Event2D> all, range, want(sums.n);
        ASSERT_TRUE(reader->readRange(0, UINT64_MAX, all));
        EXPECT_EQ(sumsOf(all), sums);
        EXPECT_EQ(rate.startTimestamp, all.front().timestamp); // the first event in file order
        size_t count = 0;
        bool ordered = true;
        ASSERT_TRUE(reader->readAllEvents(want.data(), want.size(), count, 2, ordered));
        EXPECT_EQ(count, sums.n);
        EXPECT_TRUE(want == all); // both in file order
        EXPECT_EQ(ordered, std::string(name) != "back");
        // a frame's range, and one of 4 s: 200,000 events, many whole blocks read on two threads
        for (const uint64_t span : {uint64_t(33'000), uint64_t(4'000'000)})
            for (size_t at : {size_t(1), all.size() / 6, all.size() / 2, all.size() - 2}) {
                const uint64_t from = all[at].timestamp, to = from + span;
                ASSERT_TRUE(reader->readRange(from, to, range));
                want.clear();
                for (const Event2D& e : all)
                    if (e.timestamp >= from && e.timestamp < to) want.push_back(e);
                EXPECT_FALSE(want.empty());
                EXPECT_TRUE(range == want) << at << " " << span;
            }
    }
}

// The chunk index walked from the file gives each chunk where the library finds it, and anything
// that does not describe the whole dataset is refused.
TEST(Hdf5ChunkTable, FindsEveryChunkWhereTheLibraryDoes) {
    TempDir dir;
    const std::string script = std::string(kPythonCommon) + R"(
t, x, y, p = data(200001, 5000)
with h5py.File(os.path.join(d, 'many.h5'), 'w', userblock_size=512) as f:
    g = f.create_group('events')
    g.create_dataset('t', data=t, chunks=(1000,))  # 201 chunks: a B-tree of two levels
    g.create_dataset('x', data=x, chunks=(150000,))
print('done 0 0 0 0 0')
)";
    ASSERT_TRUE(runPython(dir, script).count("done"));
    const std::string path = dir.path("many.h5");
    std::lock_guard<std::recursive_mutex> guard(hdf5::lock());
    hdf5::Handle file(H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT));
    ASSERT_TRUE(file);
    hdf5::Handle fcpl(H5Fget_create_plist(file.get()));
    hsize_t userBlock = 0;
    size_t addressBytes = 0, lengthBytes = 0;
    ASSERT_GE(H5Pget_userblock(fcpl.get(), &userBlock), 0);
    ASSERT_GE(H5Pget_sizes(fcpl.get(), &addressBytes, &lengthBytes), 0);
    EXPECT_EQ(userBlock, 512u);
    const int fd = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    for (const auto& [name, chunk, element] : {std::tuple<const char*, uint64_t, uint64_t>{"events/t", 1000, 8},
                                               {"events/x", 150000, 2}}) {
        SCOPED_TRACE(name);
        hdf5::Handle set(H5Dopen2(file.get(), name, H5P_DEFAULT));
        H5O_info_t oi{};
        ASSERT_GE(H5Oget_info(set.get(), &oi), 0);
        hdf5::ChunkTableQuery q;
        q.fd = fd;
        q.fileSize = std::filesystem::file_size(path);
        q.base = userBlock;
        q.headerAddress = oi.addr;
        q.addressBytes = unsigned(addressBytes);
        q.lengthBytes = unsigned(lengthBytes);
        q.length = 200001;
        q.chunk = chunk;
        q.elementSize = element;
        std::vector<uint64_t> table;
        uint64_t shift = 0;
        ASSERT_TRUE(hdf5::readChunkTable(q, table));
        ASSERT_EQ(table.size(), (q.length + chunk - 1) / chunk);
        for (size_t k = 0; k < table.size(); ++k) {
            const hsize_t offset[1] = {k * chunk};
            unsigned mask = 0;
            haddr_t at = HADDR_UNDEF;
            hsize_t bytes = 0;
            ASSERT_GE(H5Dget_chunk_info_by_coord(set.get(), offset, &mask, &at, &bytes), 0);
            // the library's address counts the user block or not, the same for every chunk
            EXPECT_TRUE(at == table[k] || at == table[k] + userBlock) << k;
            if (k == 0) shift = at - table[0];
            EXPECT_EQ(at - table[k], shift) << k;
        }
        std::vector<uint64_t> none;
        hdf5::ChunkTableQuery wrong = q;
        wrong.chunk = chunk - 1;
        EXPECT_FALSE(hdf5::readChunkTable(wrong, none));
        wrong = q;
        wrong.elementSize = element * 2;
        EXPECT_FALSE(hdf5::readChunkTable(wrong, none));
        wrong = q;
        wrong.length = q.length + chunk; // a chunk the index does not hold
        EXPECT_FALSE(hdf5::readChunkTable(wrong, none));
        wrong = q;
        wrong.headerAddress = q.headerAddress + 8; // not an object header
        EXPECT_FALSE(hdf5::readChunkTable(wrong, none));
        wrong = q;
        wrong.fileSize = table.back() + userBlock; // the last chunk past the file's end
        EXPECT_FALSE(hdf5::readChunkTable(wrong, none));
        EXPECT_TRUE(none.empty());
    }
    ::close(fd);
}
