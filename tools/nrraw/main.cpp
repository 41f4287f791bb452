// nrraw: look into, cut, convert, dump, export, benchmark and generate event files; list and record cameras.
#include <spdlog/sinks/stdout_color_sinks.h>
#include <spdlog/spdlog.h>

#include <cstdio>
#include <cstring>

#include "CameraCommands.h"
#include "Commands.h"
#include "StandardOutput.h"
#include "VideoMain.h"
#include "norvale/Logger.h"
#include "norvale/SafeOutputFile.h"

namespace {

const char* kHelp = R"(nrraw - event files (EVT 3.0, 2.0 and 2.1, DAT, HDF5, AEDAT 4, Event Stream, CSV,
NumPy) and cameras from the command line

Usage:
  nrraw info FILE
      Header fields, geometry, format, event count, ON/OFF counts, first and last
      timestamp, duration, mean and peak event rate, largest gap between events
      (hours of it mark a damaged file), trigger count, and the CPU kernel that
      decoded it (avx512, avx2 or portable; the environment variable
      NORVALE_SIMD=avx512|avx2|portable forces one the CPU has).
  nrraw info FILE FILE [...]
      One table, a line per file: format, size, duration, events, mean rate (Mev/s),
      triggers and largest gap; a file that cannot be read is named with its reason
      on standard error and makes the exit code 1.
  nrraw cut FILE OUT [--start US] [--end US]
      Writes the events and triggers with start <= t <= end to a new file of
      FILE's format (EVT 3.0 for a format that cannot be written, and for a DAT file
      whose clock passed 32 bits; timestamps unchanged). Defaults: the whole file. OUT must not be FILE (by
      any name) nor an existing folder, FIFO or device; it appears only when complete.
  nrraw convert IN OUT [--start US] [--end US] [--format F] [--overwrite] [--compress]
      Writes the events and triggers with start <= t <= end (default: all of
      them), in file order, to OUT in the format its extension names (.raw is
      EVT 3.0) or --format gives: evt3, evt2, evt21, dat, hdf5, aedat4, csv, npy.
      HDF5 is written uncompressed (any HDF5 tool reads it); --compress stores it
      with shuffle + gzip instead (about a third of the size, several times slower).
      AEDAT 4 packets are LZ4 frames; --compress makes them Zstd (files about 2.5
      times smaller, several times slower to read).
      A progress line shows on a terminal; the counts are printed at the end, and a
      warning when the format cannot hold the file's trigger edges. An existing OUT
      is refused unless --overwrite (then replaced only once OUT is complete); OUT
      must not be IN by any name, nor a folder, FIFO or device.
  nrraw dump FILE [--start US] [--duration US] [--limit N]
      Prints events as CSV "t,x,y,p" on stdout, from --start (default: first event)
      for --duration microseconds (default: to the end), at most --limit lines.
  nrraw bench decode FILE [--repeat N]
      Decodes a raw file's data from memory N times (default 5; small files several
      times per pass) with its format's decoder (EVT 3.0: the straightforward decoder
      and each kernel), best pass by CPU time; a file of another format is read whole
      through its reader instead. The last line reads "decode: <N> Mev/s" for the
      decoder in use.
  nrraw bench seek FILE [--count N]
      Time of prepareFile, then N (default 200) random reads of 33333 us: median and
      99th percentile latency.
  nrraw export FILE OUT.mp4 [--start US] [--end US] [--fps N] [--acc US] [--slow F]
               [--colors gray|dark|light|redblue|redgreen]
      Renders the events into an H.264 MP4 (defaults: the whole file, 30 fps, each
      frame showing the last 33333 us, real time, the "gray" colours). A progress
      line shows on a terminal. OUT is checked as for cut. More than a second of
      video without events is one picture shown for that long.
  nrraw aps-info FILE.mp4
      Size, frame count, first and last timestamp of an APS video.
  nrraw gen OUT --duration S --rate MEVS [--seed N] [--triggers HZ] [--start US]
      Writes a synthetic recording (moving edges, a flickering region, noise) of
      S seconds at MEVS million events per second; the same seed (default 1) gives
      the same file. --triggers adds HZ trigger pulses per second (rising and falling
      edge); --start sets the first timestamp (default 0).
  nrraw cameras
      Lists the cameras: serial, product, link (usb, ethernet or network), camera
      IP, local IP (a network camera's listening address), netmask, gateway,
      firmware (a network camera's format and port).
  nrraw record SERIAL OUT --seconds N [--config FILE] [--overwrite] [--progress]
      Opens that camera, streams and records N seconds into OUT (EVT 3.0; for a
      fusion camera OUT is the base name of OUT.raw, OUT.mp4 and OUT.json).
      OUT is readable while it grows. An existing OUT is refused unless
      --overwrite; then it is replaced only when the recording has succeeded
      (until then it is written beside OUT as NAME.recording-XXXXXX.raw).
      Refused too: a folder, FIFO or device, the file a replay camera plays, a
      path another recording is writing. --config applies a camera configuration
      file first; --progress prints the camera time and the events recorded ten
      times a second on stderr (DVS cameras). The last line reads "events: <N>",
      the events that reached the file. Ctrl-C, SIGTERM or SIGHUP end the
      recording early: what was captured is written, "interrupted; N events
      recorded to OUT" is printed and the exit status is 128 + the signal.
  nrraw stream FILE udp://HOST:PORT [--format F] [--realtime | --rate MEVS] [--datagram N]
  nrraw stream SERIAL udp://HOST:PORT [--format F] [--datagram N] [--seconds N]
      Sends a recording (any format above) or a live camera as a UDP event
      stream: datagrams of N whole events (default 100), little-endian, in the
      format F: t64_x16_y16_on8 (default; 13 bytes an event: t uint64 us, x uint16,
      y uint16, on uint8) or t32_x16_y15_on1 (8 bytes: t uint32 us, x uint16, then
      y in bits 1-15 and on in bit 0 of a uint16). A file goes out in real time
      (default) or at MEVS million events per second; a camera as it streams, for
      N seconds or until Ctrl-C. Prints "sent: <E> events in <D> datagrams". A
      network camera of the cameras file receives such a stream.
  nrraw --help
      This text.

Times are microseconds of the camera clock. Exit status: 0 on success, 1 when a
file or standard output cannot be read or written, 2 for a wrong command line.
Interrupted (Ctrl-C, kill), cut, convert and export leave no partial file behind.
)";

void logToStderr() {
    norvale::Logger::Instance();
    if (auto logger = spdlog::get("my_logger")) {
        logger->sinks().clear();
        auto sink = std::make_shared<spdlog::sinks::stderr_color_sink_mt>();
        sink->set_pattern("nrraw: [%l] %v");
        logger->sinks().push_back(sink);
    }
}

int run(const std::vector<std::string>& words) {
    if (words.empty() || words[0] == "--help" || words[0] == "-h" || words[0] == "help") {
        std::fputs(kHelp, words.empty() ? stderr : stdout);
        return words.empty() ? 2 : 0;
    }
    try {
        const std::string cmd = words[0];
        std::vector<std::string> rest(words.begin() + 1, words.end());
        for (const auto& w : rest)
            if (w == "--help" || w == "-h") {
                std::fputs(kHelp, stdout);
                return 0;
            }
        if (cmd == "info") return cmdInfo(Args(rest, {}));
        if (cmd == "cut") return cmdCut(Args(rest, {"--start", "--end"}));
        if (cmd == "convert") return cmdConvert(Args(rest, {"--start", "--end", "--format"}, {"--overwrite", "--compress"}));
        if (cmd == "dump") return cmdDump(Args(rest, {"--start", "--duration", "--limit"}));
        if (cmd == "export") return cmdExport(rest);
        if (cmd == "aps-info") return cmdApsInfo(rest);
        if (cmd == "gen") return cmdGen(Args(rest, {"--duration", "--rate", "--seed", "--triggers", "--start"}));
        if (cmd == "cameras") return cmdCameras(Args(rest, {}));
        if (cmd == "stream")
            return cmdStream(Args(rest, {"--format", "--rate", "--datagram", "--seconds"}, {"--realtime"}));
        if (cmd == "record") return cmdRecord(Args(rest, {"--seconds", "--config"}, {"--progress", "--overwrite"}));
        if (cmd == "bench") {
            if (rest.empty()) throw UsageError("bench needs 'decode' or 'seek'");
            const std::string what = rest[0];
            rest.erase(rest.begin());
            if (what == "decode") return cmdBenchDecode(Args(rest, {"--repeat"}));
            if (what == "seek") return cmdBenchSeek(Args(rest, {"--count"}));
            throw UsageError("unknown bench '" + what + "' (decode or seek)");
        }
        throw UsageError("unknown command '" + cmd + "'");
    } catch (const UsageError& e) {
        std::fprintf(stderr, "nrraw: %s\nTry 'nrraw --help'.\n", e.what());
        return 2;
    }
}

} // namespace

int main(int argc, char** argv) {
    logToStderr(); // stdout carries the results (CSV of dump)
    // Ctrl-C or a kill during cut or export: the temporary file goes too (record handles these
    // signals itself and keeps what it recorded).
    norvale::removeTemporariesOnTerminatingSignals("nrraw: interrupted; no partial output left\n");
    return finishStandardOutput(run(std::vector<std::string>(argv + 1, argv + argc)));
}
