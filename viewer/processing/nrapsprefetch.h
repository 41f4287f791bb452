#pragma once

// NrApsPrefetch: decodes the next frame of an APS video on a thread of its own, so that a replay
// step that reaches the next frame finds it decoded (a 3840 x 2160 frame takes longer to decode
// than one display period on our machines; frames come every few steps, so the decode fits in the
// steps between).
//
// Threads
// - Owner (the replay's player thread): setReader, start, take, wait, destruction. The owner uses
//   the reader itself (seeks) only after wait(); the decoding thread touches it only between
//   start() and the end of that decode.
// - Decoding thread: one for the object's life.
// Lock: mutex guards every field but thread; cv wakes both sides.
#include <condition_variable>
#include <mutex>
#include <thread>

#include "norvale/ApsFileReader.h"
#include "norvale/ApsFrame.h"

class NrApsPrefetch {
public:
    NrApsPrefetch();
    ~NrApsPrefetch();
    NrApsPrefetch(const NrApsPrefetch&) = delete;
    NrApsPrefetch& operator=(const NrApsPrefetch&) = delete;

    // The reader to decode from (null: none). Waits for a decode still running first.
    void setReader(norvale::ApsFileReader* reader);
    // Starts decoding the reader's next frame (a started frame not taken is dropped first).
    void start();
    // Waits for the started decode and swaps its frame into out. False when none was started or
    // the video has ended.
    bool take(norvale::ApsFrame& out);
    // Waits until no decode runs and drops a frame not taken, so that the owner may use the reader.
    void wait();

private:
    void run();

    std::mutex mutex;
    std::condition_variable cv;
    norvale::ApsFileReader* reader = nullptr;
    norvale::ApsFrame spare; // decoded into; reused
    bool requested = false;  // a decode is asked for or running
    bool started = false;    // a frame is on its way or ready, not taken
    bool ok = false;
    bool quit = false;
    std::thread thread; // last
};
