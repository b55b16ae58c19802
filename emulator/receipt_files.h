#pragma once
// PNG files of the receipts a virtual printer prints, written on a thread of
// their own so that compressing and writing never hold up the sessions.
// Names sort in arrival order and carry the session:
//   DIR/000007-session-3.png
// numbered on from the highest number already in DIR. Journal lines, once
// a file is written (they may come after the session's close):
//   session 3 receipt 2: DIR/000007-session-3.png (576 x 812 dots)
//   session 3 receipt 2: DIR/000007-session-3.png (576 x 16384 dots, cut short)
//   session 3 receipt 2 not saved: DIR/000007-session-3.png: Permission denied

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "emulator/journal.h"
#include "emulator/render/raster.h"

namespace vorpane {

class ReceiptFiles {
public:
    // Receipts waiting for the writer; past this a receipt is not saved and
    // the journal says so, rather than a flood of cuts stalling the printer.
    static constexpr size_t kMaxWaiting = 64;

    // `writerStarts` runs first on the writer's thread (to lower its priority).
    ReceiptFiles(std::string dir, Journal& journal, std::function<void()> writerStarts = nullptr);
    // Writes what is still waiting, then returns.
    ~ReceiptFiles();
    ReceiptFiles(const ReceiptFiles&) = delete;
    ReceiptFiles& operator=(const ReceiptFiles&) = delete;

    void Save(uint64_t session, uint64_t number, render::Receipt receipt);

private:
    struct Job;
    void Run();

    const std::string m_dir;
    Journal& m_journal;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_jobs;
    uint64_t m_nextFile = 1;
    bool m_stop = false;
    std::thread m_thread;
};

// "576 x 812 dots" and ", cut short" when capped.
std::string ReceiptSize(const render::Receipt& receipt);

}  // namespace vorpane
