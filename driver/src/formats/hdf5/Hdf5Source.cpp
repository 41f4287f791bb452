#include "formats/hdf5/Hdf5Source.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cinttypes>
#include <cstring>
#include <limits>
#include <type_traits>

#include "formats/hdf5/Hdf5ChunkTable.h"
#include "norvale/Logger.h"

namespace norvale::detail {

using hdf5::Handle;

namespace {

const char* const kNames[4] = {"t", "x", "y", "p"};
// The largest chunk we let the library decompress at once.
constexpr uint64_t kMaxChunkBytes = 64ull << 20;

bool linkExists(hid_t loc, const char* name) {
    return H5Lexists(loc, name, H5P_DEFAULT) > 0;
}

bool objectIs(hid_t loc, const char* name, H5O_type_t type) {
    if (!linkExists(loc, name)) return false;
    H5O_info_t oi{};
    if (H5Oget_info_by_name(loc, name, &oi, H5P_DEFAULT) < 0) return false;
    return oi.type == type;
}

// An integer attribute or scalar dataset named name on loc, as int64.
bool readIntegerNamed(hid_t loc, const char* name, int64_t& value) {
    if (H5Aexists(loc, name) > 0) {
        Handle attr(H5Aopen(loc, name, H5P_DEFAULT));
        Handle type(attr ? H5Aget_type(attr.get()) : H5I_INVALID_HID);
        Handle space(attr ? H5Aget_space(attr.get()) : H5I_INVALID_HID);
        if (!type || H5Tget_class(type.get()) != H5T_INTEGER || H5Sget_simple_extent_npoints(space.get()) != 1)
            return false;
        return H5Aread(attr.get(), H5T_NATIVE_INT64, &value) >= 0;
    }
    if (objectIs(loc, name, H5O_TYPE_DATASET)) {
        Handle set(H5Dopen2(loc, name, H5P_DEFAULT));
        Handle type(set ? H5Dget_type(set.get()) : H5I_INVALID_HID);
        Handle space(set ? H5Dget_space(set.get()) : H5I_INVALID_HID);
        if (!type || H5Tget_class(type.get()) != H5T_INTEGER || H5Sget_simple_extent_npoints(space.get()) != 1)
            return false;
        return H5Dread(set.get(), H5T_NATIVE_INT64, H5S_ALL, H5S_ALL, H5P_DEFAULT, &value) >= 0;
    }
    return false;
}

bool readStringAttribute(hid_t loc, const char* name, std::string& value) {
    if (H5Aexists(loc, name) <= 0) return false;
    Handle attr(H5Aopen(loc, name, H5P_DEFAULT));
    Handle type(attr ? H5Aget_type(attr.get()) : H5I_INVALID_HID);
    if (!type || H5Tget_class(type.get()) != H5T_STRING) return false;
    if (H5Tis_variable_str(type.get()) > 0) {
        Handle mem(H5Tcopy(H5T_C_S1));
        H5Tset_size(mem.get(), H5T_VARIABLE);
        char* text = nullptr;
        if (H5Aread(attr.get(), mem.get(), &text) < 0 || !text) return false;
        value.assign(text, strnlen(text, 4096));
        H5free_memory(text);
        return true;
    }
    const size_t size = H5Tget_size(type.get());
    if (size == 0 || size > 4096) return false;
    std::string buffer(size, '\0');
    if (H5Aread(attr.get(), type.get(), buffer.data()) < 0) return false;
    value.assign(buffer.c_str());
    return true;
}

std::string filterName(hid_t dcpl, int i, H5Z_filter_t& id) {
    unsigned flags = 0, config = 0;
    size_t nValues = 0;
    char name[256] = {};
    id = H5Pget_filter2(dcpl, unsigned(i), &flags, &nValues, nullptr, sizeof name, name, &config);
    return name[0] ? std::string(name) : "filter " + std::to_string(int(id));
}

// The checks every dataset of events passes before a byte of it is read: one dimension, an
// integer (or compound) element, a declared length the file's size can account for, chunks of
// bounded size, and every filter it needs available.
bool checkDataset(hid_t set, const std::string& what, uint64_t fileSize, uint64_t& length, size_t& elementSize,
                  uint64_t& chunk, std::string& problem) {
    Handle space(H5Dget_space(set));
    Handle type(H5Dget_type(set));
    if (!space || !type) {
        problem = what + " cannot be read" + hdf5::because();
        return false;
    }
    if (H5Sget_simple_extent_ndims(space.get()) != 1) {
        problem = what + " is not one-dimensional";
        return false;
    }
    hsize_t dims[1] = {0};
    H5Sget_simple_extent_dims(space.get(), dims, nullptr);
    length = dims[0];
    elementSize = H5Tget_size(type.get());
    if (elementSize == 0 || elementSize > 4096) {
        problem = what + " has elements of an unusable size";
        return false;
    }
    Handle dcpl(H5Dget_create_plist(set));
    const int filters = dcpl ? H5Pget_nfilters(dcpl.get()) : 0;
    for (int i = 0; i < filters; ++i) {
        H5Z_filter_t id = 0;
        const std::string name = filterName(dcpl.get(), i, id);
        if (H5Zfilter_avail(id) <= 0) {
            problem = what + " is compressed with the HDF5 filter \"" + name + "\" (id " + std::to_string(int(id)) +
                      "), which is not installed (Debian: hdf5-filter-plugin, hdf5-filter-plugin-blosc-serial)";
            return false;
        }
    }
    const uint64_t limit = filters > 0 ? fileSize * Hdf5Source::kMaxCompressionRatio : fileSize;
    if (length > std::numeric_limits<uint64_t>::max() / elementSize || length * elementSize > limit) {
        problem = what + " declares " + std::to_string(length) + " elements, more than a file of " +
                  std::to_string(fileSize) + " bytes can hold";
        return false;
    }
    chunk = 0;
    if (dcpl && H5Pget_layout(dcpl.get()) == H5D_CHUNKED) {
        hsize_t cdims[1] = {0};
        if (H5Pget_chunk(dcpl.get(), 1, cdims) != 1 || cdims[0] == 0 || cdims[0] * elementSize > kMaxChunkBytes) {
            problem = what + " has chunks too large to read";
            return false;
        }
        chunk = cdims[0];
    }
    return true;
}

// An integer the decoder below understands: 1, 2, 4 or 8 whole bytes, either byte order.
bool integerField(hid_t type, bool& isSigned, bool& bigEndian, size_t& size) {
    if (H5Tget_class(type) != H5T_INTEGER) return false;
    size = H5Tget_size(type);
    const H5T_order_t order = H5Tget_order(type);
    if ((size != 1 && size != 2 && size != 4 && size != 8) || H5Tget_precision(type) != 8 * size ||
        H5Tget_offset(type) != 0 || (order != H5T_ORDER_LE && order != H5T_ORDER_BE))
        return false;
    isSigned = H5Tget_sign(type) == H5T_SGN_2;
    bigEndian = order == H5T_ORDER_BE;
    return true;
}

struct Found {
    std::string name;
};

herr_t findCompound(hid_t root, const char* name, const H5O_info_t* oi, void* data) {
    auto* found = static_cast<Found*>(data);
    if (oi->type != H5O_TYPE_DATASET) return 0;
    Handle set(H5Dopen2(root, name, H5P_DEFAULT));
    Handle type(set ? H5Dget_type(set.get()) : H5I_INVALID_HID);
    if (!type || H5Tget_class(type.get()) != H5T_COMPOUND) return 0;
    for (const char* field : kNames)
        if (H5Tget_member_index(type.get(), field) < 0) return 0;
    found->name = name;
    return 1; // stop at the first
}

} // namespace

Hdf5Source::~Hdf5Source() {
    std::lock_guard<std::recursive_mutex> guard(hdf5::lock());
    for (Column& c : columns) c.set.reset();
    records.reset();
    recordType.reset();
    for (Column& c : columns) c.type.reset();
    file.reset();
    if (fd >= 0) ::close(fd);
}

int Hdf5Source::directColumns() const {
    int n = 0;
    for (const Column& c : columns) n += c.runs.empty() ? 0 : 1;
    return compound ? 0 : n;
}

bool Hdf5Source::open(const std::string& filePath, std::string& problem) {
    hdf5::initLibrary();
    std::lock_guard<std::recursive_mutex> guard(hdf5::lock());
    // A further source (quiet) is of a file whose identity the reader checked and the first source probed.
    if (!quiet && !probeInChild(filePath, problem)) return false;
    return openHere(filePath, problem);
}

// The library itself can crash on some damaged files (its metadata readers trust sizes they read);
// a child process opens the file and reads its first and last blocks first, so such a file costs
// the child, not the program. Held under hdf5::lock(): no other thread is inside the library when
// the process forks, and the child neither logs nor runs exit handlers.
bool Hdf5Source::probeInChild(const std::string& filePath, std::string& problem) {
    constexpr int kProbeRefused = 3; // the child's own refusal; anything else is the library's end
    const pid_t pid = ::fork();
    if (pid < 0) return true; // no probe then; the open below still checks everything we can
    if (pid == 0) {
        hdf5::freshLockInChild();
        for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) ::signal(sig, SIG_DFL);
        Hdf5Source probe;
        probe.probing = true;
        std::string why;
        bool ok = probe.openHere(filePath, why);
        std::vector<Event2D> events;
        std::vector<EventTriggerIn> triggers;
        BlockPosition next;
        bool end = false;
        if (ok && probe.count > 0) {
            BlockPosition last;
            last.index = (probe.count - 1) / probe.perBlock * probe.perBlock;
            ok = probe.read(BlockPosition{}, events, triggers, next, end, why) &&
                 probe.read(last, events, triggers, next, end, why);
        }
        ::_exit(ok ? 0 : kProbeRefused);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && (WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == kProbeRefused))
        return true; // a refusal of ours is found and explained again by the open itself
    problem = "the HDF5 library fails on this file (damaged?): " +
              (WIFSIGNALED(status) ? "it stopped with signal " + std::to_string(WTERMSIG(status))
                                   : "it ended with status " + std::to_string(WEXITSTATUS(status)));
    return false;
}

bool Hdf5Source::openHere(const std::string& filePath, std::string& problem) {
    path = filePath;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        problem = "not a regular file";
        return false;
    }
    const uint64_t fileSize = uint64_t(st.st_size);
    if (H5Fis_hdf5(path.c_str()) <= 0) {
        H5Eclear2(H5E_DEFAULT);
        problem = "not an HDF5 file";
        return false;
    }
    // With the library's usual settings first: a file the process opens again (h5py beside us) must
    // be opened with the same ones. A file being written by us is locked by its writer; reading it
    // then needs no lock of the library's.
    file.reset(H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT));
    if (!file) {
        H5Eclear2(H5E_DEFAULT);
        Handle fapl(H5Pcreate(H5P_FILE_ACCESS));
        H5Pset_file_locking(fapl.get(), false, true);
        file.reset(H5Fopen(path.c_str(), H5F_ACC_RDONLY, fapl.get()));
    }
    if (!file) {
        problem = "the HDF5 file cannot be opened (damaged or truncated?)" + hdf5::because();
        return false;
    }
    if (fd >= 0) ::close(fd);
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC); // without it every dataset is read through the library
    const hid_t root = file.get();
    bool ok = false;
    if (objectIs(root, "events", H5O_TYPE_GROUP)) {
        Handle group(H5Gopen2(root, "events", H5P_DEFAULT));
        if (!group) {
            problem = "the group \"events\" cannot be opened" + hdf5::because();
            return false;
        }
        ok = openSeparate(group.get(), fileSize, problem);
        if (ok) {
            readOffsetAndInfo(root);
            readOffsetAndInfo(group.get());
            checkMsIndex(root);
            if (!msIndexValid) checkMsIndex(group.get());
        }
    } else {
        Found found;
        if (objectIs(root, "events", H5O_TYPE_DATASET)) {
            found.name = "events";
        } else if (H5Ovisit(root, H5_INDEX_NAME, H5_ITER_INC, findCompound, &found) < 0) {
            H5Eclear2(H5E_DEFAULT);
        }
        if (found.name.empty()) {
            problem = "holds neither a group \"events\" with datasets x, y, p, t nor a compound dataset of t, x, y, p";
            return false;
        }
        Handle set(H5Dopen2(root, found.name.c_str(), H5P_DEFAULT));
        if (!set) {
            problem = "the dataset \"" + found.name + "\" cannot be opened" + hdf5::because();
            return false;
        }
        ok = openCompound(std::move(set), found.name, fileSize, problem);
        if (ok) {
            readOffsetAndInfo(root);
            readOffsetAndInfo(records.get());
            checkMsIndex(root);
        }
    }
    if (!ok) {
        file.reset();
        return false;
    }
    if (directColumns() == 4) {
        // Read without the library from here on: the file is not held open in it, so that h5py
        // (or anything else using the library in this process) can open it with its own settings.
        for (Column& c : columns) {
            c.set.reset();
            c.type.reset();
        }
        file.reset();
    }
    H5Eclear2(H5E_DEFAULT);
    return true;
}

bool Hdf5Source::openSeparate(hid_t group, uint64_t fileSize, std::string& problem) {
    compound = false;
    uint64_t lengths[4] = {};
    for (int i = 0; i < 4; ++i) {
        const std::string what = std::string("dataset events/") + kNames[i];
        if (!objectIs(group, kNames[i], H5O_TYPE_DATASET)) {
            problem = "the group \"events\" has no dataset \"" + std::string(kNames[i]) + "\"";
            return false;
        }
        Column& c = columns[i];
        c.set.reset(H5Dopen2(group, kNames[i], H5P_DEFAULT));
        if (!c.set) {
            problem = what + " cannot be opened" + hdf5::because();
            return false;
        }
        size_t elementSize = 0;
        uint64_t chunk = 0;
        if (!checkDataset(c.set.get(), what, fileSize, lengths[i], elementSize, chunk, problem)) return false;
        c.type.reset(H5Dget_type(c.set.get()));
        c.field = Field{};
        if (!integerField(c.type.get(), c.field.isSigned, c.field.bigEndian, c.field.size)) {
            problem = what + " does not hold integers of 1, 2, 4 or 8 bytes";
            return false;
        }
        if (i == 0 && chunk > 0) perBlock = chunk >= kBlockEvents ? std::min<uint64_t>(chunk, kMaxBlockEvents)
                                                                  : kBlockEvents / chunk * chunk;
        planDirect(c, lengths[i], fileSize);
    }
    // Read straight from the file, a block need not be a chunk: small blocks make short ranges cheap.
    if (directColumns() == 4) perBlock = kDirectBlockEvents;
    if (lengths[1] != lengths[0] || lengths[2] != lengths[0] || lengths[3] != lengths[0]) {
        problem = "datasets events/t, x, y, p differ in length (" + std::to_string(lengths[0]) + ", " +
                  std::to_string(lengths[1]) + ", " + std::to_string(lengths[2]) + ", " + std::to_string(lengths[3]) +
                  ")";
        return false;
    }
    count = lengths[0];
    return true;
}

bool Hdf5Source::openCompound(Handle set, const std::string& name, uint64_t fileSize, std::string& problem) {
    compound = true;
    const std::string what = "dataset \"" + name + "\"";
    size_t elementSize = 0;
    uint64_t chunk = 0;
    if (!checkDataset(set.get(), what, fileSize, count, elementSize, chunk, problem)) return false;
    Handle type(H5Dget_type(set.get()));
    if (H5Tget_class(type.get()) != H5T_COMPOUND) {
        problem = what + " is not a compound of t, x, y, p";
        return false;
    }
    recordSize = elementSize;
    for (int i = 0; i < 4; ++i) {
        const int member = H5Tget_member_index(type.get(), kNames[i]);
        if (member < 0) {
            problem = what + " has no field \"" + std::string(kNames[i]) + "\"";
            return false;
        }
        Handle fieldType(H5Tget_member_type(type.get(), unsigned(member)));
        Field& f = fields[i];
        f.offset = H5Tget_member_offset(type.get(), unsigned(member));
        if (!fieldType || !integerField(fieldType.get(), f.isSigned, f.bigEndian, f.size) ||
            f.offset + f.size > recordSize) {
            problem = what + ": field \"" + std::string(kNames[i]) + "\" does not hold integers of 1, 2, 4 or 8 bytes";
            return false;
        }
    }
    recordType = std::move(type);
    if (chunk > 0) perBlock = chunk >= kBlockEvents ? std::min<uint64_t>(chunk, kMaxBlockEvents) : kBlockEvents / chunk * chunk;
    perBlock = std::max<uint64_t>(1, std::min<uint64_t>(perBlock, kMaxBlockBytes / recordSize));
    records = std::move(set);
    return true;
}

void Hdf5Source::planDirect(Column& c, uint64_t length, uint64_t fileSize) {
    c.runs.clear();
    c.runLength = 0;
    if (fd < 0 || length == 0) return;
    Handle dcpl(H5Dget_create_plist(c.set.get()));
    if (!dcpl || H5Pget_nfilters(dcpl.get()) != 0) return;
    // The library gives addresses from the file's start (a user block included).
    const uint64_t size = c.field.size;
    std::vector<uint64_t> runs;
    uint64_t runLength = 0;
    // Every run of bytes lies within the file, or the dataset is left to the library.
    auto within = [&](haddr_t at, uint64_t bytes) {
        return at != HADDR_UNDEF && at <= fileSize && bytes <= fileSize - at;
    };
    const H5D_layout_t layout = H5Pget_layout(dcpl.get());
    if (layout == H5D_CONTIGUOUS) {
        const haddr_t at = H5Dget_offset(c.set.get());
        if (!within(at, length * size)) return;
        runs.push_back(at);
        runLength = length;
    } else if (layout == H5D_CHUNKED) {
        hsize_t chunk[1] = {0};
        if (H5Pget_chunk(dcpl.get(), 1, chunk) != 1 || chunk[0] == 0) return;
        const uint64_t chunks = (length + chunk[0] - 1) / chunk[0];
        if (chunks > std::max<uint64_t>(64, fileSize / 8000)) return; // the table stays within a thousandth
        // The library's address of chunk k (it searches its whole index for each).
        auto chunkAt = [&](uint64_t k, haddr_t& at) {
            const hsize_t offset[1] = {k * chunk[0]};
            unsigned mask = 0;
            hsize_t bytes = 0;
            at = HADDR_UNDEF;
            if (H5Dget_chunk_info_by_coord(c.set.get(), offset, &mask, &at, &bytes) < 0 || mask != 0 ||
                bytes != chunk[0] * size || !within(at, bytes)) {
                H5Eclear2(H5E_DEFAULT);
                return false;
            }
            return true;
        };
        if (!chunkTable(c, length, chunk[0], fileSize, runs)) {
            runs.resize(size_t(chunks));
            for (uint64_t k = 0; k < chunks; ++k) {
                haddr_t at = HADDR_UNDEF;
                if (!chunkAt(k, at)) return;
                runs[size_t(k)] = at;
            }
        } else {
            // Our walk of the index and the library agree on the first and last chunk, or the
            // library is asked for every one.
            haddr_t first = HADDR_UNDEF, last = HADDR_UNDEF;
            if (!chunkAt(0, first) || !chunkAt(chunks - 1, last)) return;
            const uint64_t shift = first - runs.front();
            if (last - runs.back() != shift || (shift != 0 && shift != tableBase)) return;
            for (uint64_t& at : runs) {
                at += shift;
                if (!within(at, chunk[0] * size)) return;
            }
        }
        runLength = chunk[0];
    } else {
        return;
    }
    // Library versions differ on whether an address counts the user block: the first elements as
    // the library reads them say which, or the dataset stays with the library.
    hsize_t userBlock = 0;
    Handle fcpl(H5Fget_create_plist(file.get()));
    if (!fcpl || H5Pget_userblock(fcpl.get(), &userBlock) < 0) return;
    const hsize_t probe[1] = {std::min<hsize_t>({length, runLength, 512})};
    std::vector<uint8_t> want(size_t(probe[0] * size)), got(want.size());
    Handle memSpace(H5Screate_simple(1, probe, nullptr));
    Handle fileSpace(H5Dget_space(c.set.get()));
    const hsize_t zero[1] = {0};
    if (!memSpace || !fileSpace ||
        H5Sselect_hyperslab(fileSpace.get(), H5S_SELECT_SET, zero, nullptr, probe, nullptr) < 0 ||
        H5Dread(c.set.get(), c.type.get(), memSpace.get(), fileSpace.get(), H5P_DEFAULT, want.data()) < 0) {
        H5Eclear2(H5E_DEFAULT);
        return;
    }
    auto matchesAt = [&](uint64_t at) {
        return at <= fileSize && got.size() <= fileSize - at &&
               ::pread(fd, got.data(), got.size(), off_t(at)) == ssize_t(got.size()) && got == want;
    };
    const bool plain = matchesAt(runs[0]);
    const bool shifted = userBlock > 0 && matchesAt(runs[0] + userBlock);
    if (plain == shifted) return; // neither, or both alike: cannot tell
    if (shifted) {
        for (uint64_t& at : runs) {
            if (!within(at + userBlock, runLength * size)) return;
            at += userBlock;
        }
    }
    c.runs = std::move(runs);
    c.runLength = runLength;
}

bool Hdf5Source::chunkTable(const Column& c, uint64_t length, uint64_t chunk, uint64_t fileSize,
                            std::vector<uint64_t>& addresses) {
    H5O_info_t oi{};
    hsize_t userBlock = 0;
    size_t addressBytes = 0, lengthBytes = 0;
    Handle fcpl(H5Fget_create_plist(file.get()));
    if (!fcpl || H5Pget_userblock(fcpl.get(), &userBlock) < 0 ||
        H5Pget_sizes(fcpl.get(), &addressBytes, &lengthBytes) < 0 || H5Oget_info(c.set.get(), &oi) < 0) {
        H5Eclear2(H5E_DEFAULT);
        return false;
    }
    hdf5::ChunkTableQuery q;
    q.fd = fd;
    q.fileSize = fileSize;
    q.headerAddress = oi.addr;
    q.addressBytes = unsigned(addressBytes);
    q.lengthBytes = unsigned(lengthBytes);
    q.length = length;
    q.chunk = chunk;
    q.elementSize = c.field.size;
    // Addresses count from the superblock, after a user block.
    q.base = tableBase = userBlock;
    return hdf5::readChunkTable(q, addresses);
}

bool Hdf5Source::readDirect(const Column& c, uint64_t index, size_t n, std::vector<uint8_t>& buffer,
                            std::string& problem) {
    if (buffer.size() < n * c.field.size) buffer.resize(n * c.field.size);
    return readDirectInto(c, index, n, buffer.data(), problem);
}

bool Hdf5Source::readDirectInto(const Column& c, uint64_t index, size_t n, uint8_t* out, std::string& problem) {
    const size_t size = c.field.size;
    for (uint64_t at = index, left = n; left > 0;) {
        const uint64_t within = at % c.runLength;
        const uint64_t take = std::min<uint64_t>(left, c.runLength - within);
        uint64_t offset = c.runs[size_t(at / c.runLength)] + within * size;
        for (size_t bytes = size_t(take * size); bytes > 0;) {
            const ssize_t got = ::pread(fd, out, bytes, off_t(offset));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) {
                problem = "events " + std::to_string(index) + ".." + std::to_string(index + n - 1) +
                          " cannot be read: " + (got < 0 ? std::string(std::strerror(errno))
                                                          : std::string("the file ends before them (truncated?)"));
                return false;
            }
            out += got;
            offset += uint64_t(got);
            bytes -= size_t(got);
        }
        at += take;
        left -= take;
    }
    return true;
}

void Hdf5Source::readOffsetAndInfo(hid_t loc) {
    int64_t value = 0;
    if (readIntegerNamed(loc, "t_offset", value)) tOffset = value;
    int64_t width = 0, height = 0;
    if (readIntegerNamed(loc, "width", width) && readIntegerNamed(loc, "height", height) && width > 0 &&
        height > 0 && width <= 65536 && height <= 65536) {
        sourceInfo.width = uint32_t(width);
        sourceInfo.height = uint32_t(height);
    }
    std::string text;
    if (readStringAttribute(loc, "serial", text)) sourceInfo.serialNumber = text;
    if (readStringAttribute(loc, "date", text) && !text.empty()) {
        sourceInfo.date = text;
        sourceInfo.hasDate = true;
    }
    H5Eclear2(H5E_DEFAULT);
}

void Hdf5Source::checkMsIndex(hid_t loc) {
    if (!objectIs(loc, "ms_to_idx", H5O_TYPE_DATASET)) return;
    Handle set(H5Dopen2(loc, "ms_to_idx", H5P_DEFAULT));
    Handle space(set ? H5Dget_space(set.get()) : H5I_INVALID_HID);
    Handle type(set ? H5Dget_type(set.get()) : H5I_INVALID_HID);
    bool ok = space && type && H5Tget_class(type.get()) == H5T_INTEGER && H5Sget_simple_extent_ndims(space.get()) == 1;
    hsize_t length = 0;
    if (ok) H5Sget_simple_extent_dims(space.get(), &length, nullptr);
    // Never trusted beyond its bounds: non-decreasing and within the events, read in bounded pieces.
    std::vector<uint64_t> piece;
    uint64_t previous = 0;
    for (hsize_t at = 0; ok && at < length; at += hsize_t(piece.size())) {
        piece.resize(size_t(std::min<hsize_t>(length - at, 1 << 16)));
        Handle fileSpace(H5Dget_space(set.get()));
        const hsize_t start[1] = {at}, n[1] = {hsize_t(piece.size())};
        Handle memSpace(H5Screate_simple(1, n, nullptr));
        ok = H5Sselect_hyperslab(fileSpace.get(), H5S_SELECT_SET, start, nullptr, n, nullptr) >= 0 &&
             H5Dread(set.get(), H5T_NATIVE_UINT64, memSpace.get(), fileSpace.get(), H5P_DEFAULT, piece.data()) >= 0;
        for (size_t i = 0; ok && i < piece.size(); ++i) {
            ok = piece[i] >= previous && piece[i] <= count;
            previous = piece[i];
        }
    }
    msIndexValid = ok;
    if (!ok && !probing && !quiet) NR_LOG(LOG_WARN, "HDF5 file %s: its ms_to_idx is not a valid index of its events; ignored", path.c_str());
    H5Eclear2(H5E_DEFAULT);
}

bool Hdf5Source::load(const BlockPosition& pos, size_t& n, std::string& problem) {
    n = size_t(std::min<uint64_t>(perBlock, count - pos.index));
    const hsize_t start[1] = {pos.index}, length[1] = {n};
    // The library only for what is not read straight from the file.
    std::unique_lock<std::recursive_mutex> guard(hdf5::lock(), std::defer_lock);
    Handle memSpace;
    auto readInto = [&](hid_t set, hid_t type, std::vector<uint8_t>& buffer, size_t size, const char* what) {
        if (!guard.owns_lock()) guard.lock();
        if (!memSpace) memSpace.reset(H5Screate_simple(1, length, nullptr));
        if (buffer.size() < n * size) buffer.resize(n * size);
        Handle fileSpace(H5Dget_space(set));
        if (fileSpace && H5Sselect_hyperslab(fileSpace.get(), H5S_SELECT_SET, start, nullptr, length, nullptr) >= 0 &&
            H5Dread(set, type, memSpace.get(), fileSpace.get(), H5P_DEFAULT, buffer.data()) >= 0)
            return true;
        problem = std::string("events ") + std::to_string(pos.index) + ".." + std::to_string(pos.index + n - 1) +
                  " of " + what + " cannot be read (damaged or truncated file?)" + hdf5::because();
        return false;
    };
    bool ok = true;
    if (compound) {
        ok = readInto(records.get(), recordType.get(), raw[0], recordSize, "the compound dataset");
    } else {
        for (int i = 0; ok && i < 4; ++i) {
            const Column& c = columns[i];
            ok = c.runs.empty() ? readInto(c.set.get(), c.type.get(), raw[i], c.field.size, kNames[i])
                                : readDirect(c, pos.index, n, raw[i], problem);
        }
    }
    return ok;
}

bool Hdf5Source::read(const BlockPosition& pos, std::vector<Event2D>& events, std::vector<EventTriggerIn>& triggers,
                      BlockPosition& next, bool& end, std::string& problem) {
    const size_t most = pos.index < count ? size_t(std::min<uint64_t>(perBlock, count - pos.index)) : 0;
    if (events.size() != most) events.resize(most); // reused as it is for a block of the same size: no pass to clear it
    size_t n = 0;
    const bool ok = readInto(pos, events.data(), most, n, triggers, next, end, problem);
    events.resize(n);
    return ok;
}

bool Hdf5Source::readInto(const BlockPosition& pos, Event2D* out, size_t room, size_t& n,
                          std::vector<EventTriggerIn>& triggers, BlockPosition& next, bool& end, std::string& problem) {
    triggers.clear();
    n = 0;
    end = pos.index >= count;
    size_t got = 0;
    if (end || !load(pos, got, problem)) {
        next = pos;
        return end;
    }
    if (got > room) {
        problem = "the file changed after it was opened";
        return false;
    }
    if (!convertUsual(got, out) && !convert(pos.index, got, out, problem)) return false;
    n = got;
    next = pos;
    next.index = pos.index + got;
    return true;
}

namespace {

template <typename U>
U swapBytes(U v) {
    if constexpr (sizeof(U) == 2) return U(__builtin_bswap16(v));
    else if constexpr (sizeof(U) == 4) return U(__builtin_bswap32(v));
    else if constexpr (sizeof(U) == 8) return U(__builtin_bswap64(v));
    else return v;
}

// One field of n records into int64. An unsigned 64-bit value beyond int64 saturates, unless
// bits is asked for (t, whose sign the caller knows).
template <typename T, bool BigEndian>
void decodeAs(const uint8_t* at, size_t stride, size_t n, int64_t* out, bool bits) {
    using U = std::make_unsigned_t<T>;
    for (size_t i = 0; i < n; ++i, at += stride) {
        U u;
        std::memcpy(&u, at, sizeof u);
        if (BigEndian) u = swapBytes(u);
        const T v = T(u);
        if constexpr (std::is_same_v<T, uint64_t>)
            out[i] = (bits || v <= uint64_t(std::numeric_limits<int64_t>::max())) ? int64_t(v)
                                                                                  : std::numeric_limits<int64_t>::max();
        else
            out[i] = int64_t(v);
    }
}

template <typename T>
void decodeOrder(bool bigEndian, const uint8_t* at, size_t stride, size_t n, int64_t* out, bool bits) {
    if (bigEndian) decodeAs<T, true>(at, stride, n, out, bits);
    else decodeAs<T, false>(at, stride, n, out, bits);
}

} // namespace

void Hdf5Source::decodeField(const Field& f, const uint8_t* at, size_t stride, size_t n, int64_t* out, bool bits) {
    switch (f.size) {
    case 1: return f.isSigned ? decodeOrder<int8_t>(false, at, stride, n, out, bits)
                              : decodeOrder<uint8_t>(false, at, stride, n, out, bits);
    case 2: return f.isSigned ? decodeOrder<int16_t>(f.bigEndian, at, stride, n, out, bits)
                              : decodeOrder<uint16_t>(f.bigEndian, at, stride, n, out, bits);
    case 4: return f.isSigned ? decodeOrder<int32_t>(f.bigEndian, at, stride, n, out, bits)
                              : decodeOrder<uint32_t>(f.bigEndian, at, stride, n, out, bits);
    default: return f.isSigned ? decodeOrder<int64_t>(f.bigEndian, at, stride, n, out, bits)
                               : decodeOrder<uint64_t>(f.bigEndian, at, stride, n, out, bits);
    }
}

namespace {

static_assert(offsetof(Event2D, x) == 0 && offsetof(Event2D, y) == 2 && offsetof(Event2D, polarity) == 4 &&
                  offsetof(Event2D, timestamp) == 8,
              "events are stored as two 64-bit words below");

// t + t_offset (Shifted) of a stored time t; bad is set when it falls outside 0..2^64.
template <typename T, bool Shifted>
inline uint64_t timeOf(T t, int64_t offset, bool& bad) {
    if constexpr (!Shifted) {
        if constexpr (std::is_signed_v<T>) bad |= t < 0;
        return uint64_t(t);
    } else if constexpr (std::is_same_v<T, uint64_t>) {
        bad |= offset >= 0 ? t > std::numeric_limits<uint64_t>::max() - uint64_t(offset)
                           : t < uint64_t(-(offset + 1)) + 1;
        return t + uint64_t(offset);
    } else {
        int64_t sum;
        bad |= __builtin_add_overflow(int64_t(t), offset, &sum) | (sum < 0);
        return uint64_t(sum);
    }
}

// x, y (uint16), p (one byte) and t (T) of n events, little-endian, with t_offset added (Shifted);
// false when a time falls outside 0..2^64 (convert then names the event). Each event is two
// 64-bit stores, which the compiler can vectorise.
template <typename T, typename P, bool Shifted>
bool fuse(const uint8_t* xs, const uint8_t* ys, const uint8_t* ps, const uint8_t* ts, size_t n, int64_t offset,
          Event2D* out) {
    bool bad = false;
    uint8_t* to = reinterpret_cast<uint8_t*>(out);
    for (size_t i = 0; i < n; ++i) {
        uint16_t x, y;
        T t;
        std::memcpy(&x, xs + 2 * i, 2);
        std::memcpy(&y, ys + 2 * i, 2);
        std::memcpy(&t, ts + sizeof(T) * i, sizeof(T));
        const uint64_t time = timeOf<T, Shifted>(t, offset, bad);
        const uint64_t low = uint64_t(x) | uint64_t(y) << 16 | uint64_t(P(ps[i]) > 0 ? 1 : 0) << 32;
        std::memcpy(to + 16 * i, &low, 8);
        std::memcpy(to + 16 * i + 8, &time, 8);
    }
    return !bad;
}

template <typename T, typename P>
bool fuseAny(const uint8_t* xs, const uint8_t* ys, const uint8_t* ps, const uint8_t* ts, size_t n, int64_t offset,
             Event2D* out) {
    return offset == 0 ? fuse<T, P, false>(xs, ys, ps, ts, n, offset, out)
                       : fuse<T, P, true>(xs, ys, ps, ts, n, offset, out);
}

} // namespace

namespace {

// n stored times (T, little-endian) at ts with t_offset added, into out (which may be ts itself
// when T has 8 bytes); false when one falls outside 0..2^64.
template <typename T, bool Shifted>
bool widenTimes(const uint8_t* ts, size_t n, int64_t offset, uint64_t* out) {
    bool bad = false;
    for (size_t i = 0; i < n; ++i) {
        T t;
        std::memcpy(&t, ts + sizeof(T) * i, sizeof(T));
        out[i] = timeOf<T, Shifted>(t, offset, bad);
    }
    return !bad;
}

template <typename T>
bool widenAny(const uint8_t* ts, size_t n, int64_t offset, uint64_t* out) {
    if (sizeof(T) == 8 && offset == 0 && reinterpret_cast<const uint8_t*>(out) == ts) { // already in place
        if (!std::is_signed_v<T>) return true;
        uint64_t signs = 0; // of int64 times: none below zero
        for (size_t i = 0; i < n; ++i) signs |= out[i];
        return (signs >> 63) == 0;
    }
    return offset == 0 ? widenTimes<T, false>(ts, n, offset, out) : widenTimes<T, true>(ts, n, offset, out);
}

uint32_t largest16(const uint8_t* v, size_t n) {
    uint16_t m = 0;
    for (size_t i = 0; i < n; ++i) {
        uint16_t x;
        std::memcpy(&x, v + 2 * i, 2);
        m = x > m ? x : m;
    }
    return m;
}

// Events of polarity 1: p > 0, as convertUsual decodes it.
template <typename P>
uint64_t countOn(const uint8_t* ps, size_t n) {
    uint32_t on = 0; // a block holds fewer than 2^32 events
    for (size_t i = 0; i < n; ++i) on += P(ps[i]) > 0 ? 1 : 0;
    return on;
}

} // namespace

bool Hdf5Source::canSummarize() const {
    return directColumns() == 4 && usualTypes();
}

bool Hdf5Source::blockStarts(std::vector<BlockPosition>& starts, std::string&) {
    if (directColumns() != 4) return false; // through the library, which one thread at a time may enter
    starts.clear();
    starts.reserve(size_t((count + perBlock - 1) / perBlock));
    for (uint64_t i = 0; i < count; i += perBlock) {
        BlockPosition at;
        at.index = i;
        starts.push_back(at);
    }
    return true;
}

bool Hdf5Source::summarize(const BlockPosition& pos, BlockSummary& summary, std::vector<EventTriggerIn>& triggers,
                           BlockPosition& next, bool& end, std::string& problem) {
    triggers.clear();
    summary.on = 0;
    summary.maxX = summary.maxY = 0;
    end = pos.index >= count;
    if (end || !canSummarize()) {
        summary.times.clear();
        next = pos;
        if (!end) problem = "this file's blocks are not summed up without reading them";
        return end;
    }
    const size_t n = size_t(std::min<uint64_t>(perBlock, count - pos.index));
    const Field& t = columns[0].field;
    summary.times.resize(n);
    uint8_t* tBytes = reinterpret_cast<uint8_t*>(summary.times.data());
    if (t.size != 8) { // widened below
        if (raw[0].size() < n * t.size) raw[0].resize(n * t.size);
        tBytes = raw[0].data();
    }
    if (!readDirectInto(columns[0], pos.index, n, tBytes, problem) ||
        !readDirect(columns[1], pos.index, n, raw[1], problem) || !readDirect(columns[2], pos.index, n, raw[2], problem) ||
        !readDirect(columns[3], pos.index, n, raw[3], problem)) {
        summary.times.clear();
        return false;
    }
    uint64_t* times = summary.times.data();
    const bool timesOk = t.size == 8 ? (t.isSigned ? widenAny<int64_t>(tBytes, n, tOffset, times)
                                                   : widenAny<uint64_t>(tBytes, n, tOffset, times))
                                     : (t.isSigned ? widenAny<int32_t>(tBytes, n, tOffset, times)
                                                   : widenAny<uint32_t>(tBytes, n, tOffset, times));
    if (!timesOk) { // read names the event at fault
        std::vector<Event2D> events;
        if (!read(pos, events, triggers, next, end, problem)) return false;
        summary.times.resize(events.size());
        for (size_t i = 0; i < events.size(); ++i) {
            const Event2D& e = events[i];
            summary.times[i] = e.timestamp;
            summary.on += e.polarity;
            summary.maxX = std::max<uint32_t>(summary.maxX, e.x);
            summary.maxY = std::max<uint32_t>(summary.maxY, e.y);
        }
        return true;
    }
    summary.on = columns[3].field.isSigned ? countOn<int8_t>(raw[3].data(), n) : countOn<uint8_t>(raw[3].data(), n);
    summary.maxX = largest16(raw[1].data(), n);
    summary.maxY = largest16(raw[2].data(), n);
    next = pos;
    next.index = pos.index + n;
    return true;
}

bool Hdf5Source::usualTypes() const {
    if (compound) return false;
    const Field& t = columns[0].field;
    const Field& x = columns[1].field;
    const Field& y = columns[2].field;
    const Field& p = columns[3].field;
    return x.size == 2 && !x.isSigned && !x.bigEndian && y.size == 2 && !y.isSigned && !y.bigEndian && p.size == 1 &&
           (t.size == 4 || t.size == 8) && !t.bigEndian;
}

bool Hdf5Source::convertUsual(size_t n, Event2D* out) const {
    if (!usualTypes()) return false;
    const Field& t = columns[0].field;
    const Field& p = columns[3].field;
    const uint8_t *xs = raw[1].data(), *ys = raw[2].data(), *ps = raw[3].data(), *ts = raw[0].data();
    if (t.size == 8) {
        return t.isSigned ? (p.isSigned ? fuseAny<int64_t, int8_t>(xs, ys, ps, ts, n, tOffset, out)
                                        : fuseAny<int64_t, uint8_t>(xs, ys, ps, ts, n, tOffset, out))
                          : (p.isSigned ? fuseAny<uint64_t, int8_t>(xs, ys, ps, ts, n, tOffset, out)
                                        : fuseAny<uint64_t, uint8_t>(xs, ys, ps, ts, n, tOffset, out));
    }
    return t.isSigned ? (p.isSigned ? fuseAny<int32_t, int8_t>(xs, ys, ps, ts, n, tOffset, out)
                                    : fuseAny<int32_t, uint8_t>(xs, ys, ps, ts, n, tOffset, out))
                      : (p.isSigned ? fuseAny<uint32_t, int8_t>(xs, ys, ps, ts, n, tOffset, out)
                                    : fuseAny<uint32_t, uint8_t>(xs, ys, ps, ts, n, tOffset, out));
}

bool Hdf5Source::convert(uint64_t index, size_t n, Event2D* out, std::string& problem) {
    for (int c = 0; c < 4; ++c) {
        const Field& f = compound ? fields[c] : columns[c].field;
        const uint8_t* base = (compound ? raw[0].data() : raw[c].data()) + f.offset;
        values[c].resize(n);
        decodeField(f, base, compound ? recordSize : f.size, n, values[c].data(), c == 0);
    }
    const bool tSigned = compound ? fields[0].isSigned : columns[0].field.isSigned;
    const int64_t* ts = values[0].data();
    const int64_t* xs = values[1].data();
    const int64_t* ys = values[2].data();
    const int64_t* ps = values[3].data();
    for (size_t i = 0; i < n; ++i) {
        const int64_t x = xs[i], y = ys[i];
        if (uint64_t(x) > 0xFFFF || uint64_t(y) > 0xFFFF) {
            problem = "event " + std::to_string(index + i) + " has x = " + std::to_string(x) + ", y = " +
                      std::to_string(y) + ", outside 0..65535";
            return false;
        }
        // t + t_offset, neither below zero nor past 64 bits.
        uint64_t time = 0;
        bool ok;
        if (!tSigned) {
            const uint64_t t = uint64_t(ts[i]);
            ok = tOffset >= 0 ? t <= std::numeric_limits<uint64_t>::max() - uint64_t(tOffset)
                              : t >= uint64_t(-(tOffset + 1)) + 1;
            time = t + uint64_t(tOffset);
        } else {
            int64_t sum = 0;
            ok = !__builtin_add_overflow(ts[i], tOffset, &sum) && sum >= 0;
            time = uint64_t(sum);
        }
        if (!ok) {
            problem = "event " + std::to_string(index + i) + " has a time outside 0..2^64 us (t = " +
                      (tSigned ? std::to_string(ts[i]) : std::to_string(uint64_t(ts[i]))) +
                      ", t_offset = " + std::to_string(tOffset) + ")";
            return false;
        }
        out[i].x = uint16_t(x);
        out[i].y = uint16_t(y);
        out[i].polarity = ps[i] > 0 ? 1 : 0;
        out[i].timestamp = time;
    }
    return true;
}

} // namespace norvale::detail
