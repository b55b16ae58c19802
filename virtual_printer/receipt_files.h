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
// The pictures in DIR (its NNNNNN-session-S.png files, earlier runs' too)
// take at most a set number of bytes of disk blocks and of files: past
// either the oldest go, the newest always stays, and the journal says which
// went:
//   render folder over 256 MiB: removed DIR/000001-session-1.png
//   render folder over 256 MiB: removed 3 pictures, DIR/000001-session-1.png to
//   DIR/000003-session-1.png
//   render folder over 4096 pictures: removed DIR/000001-session-1.png

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "receipt/raster.h"
#include "virtual_printer/journal.h"

namespace vorpane {

class ReceiptFiles {
public:
    // Receipts waiting for the writer; past this a receipt is not saved and
    // the journal says so, rather than a flood of cuts stalling the printer.
    static constexpr size_t kMaxWaiting = 64;
    // Their rasters hold at most this many bytes, whatever their number.
    static constexpr size_t kMaxWaitingBytes = 32u << 20;
    static constexpr uint64_t kDefaultLimitBytes = uint64_t{256} << 20;
    static constexpr size_t kDefaultLimitFiles = 4096;

    // Makes the folder if need be and writes and removes a file in it: the
    // error's text, empty when pictures can be saved there.
    static std::string CheckFolder(const std::string& dir);

    // `writerStarts` runs first on the writer's thread (to lower its priority).
    ReceiptFiles(std::string dir, Journal& journal, std::function<void()> writerStarts = nullptr,
                 uint64_t limitBytes = kDefaultLimitBytes, int scale = 1,
                 size_t limitFiles = kDefaultLimitFiles);
    // Writes what is still waiting, then returns.
    ~ReceiptFiles();
    ReceiptFiles(const ReceiptFiles&) = delete;
    ReceiptFiles& operator=(const ReceiptFiles&) = delete;

    void Save(uint64_t session, uint64_t number, receipt::Receipt receipt);

private:
    struct Job;
    struct Picture {
        uint64_t number;
        std::string path;
        uint64_t bytes;  // of disk blocks
    };
    void Run();
    // Removes the oldest pictures while the folder is over its limit.
    void Trim();

    const std::string m_dir;
    Journal& m_journal;
    const uint64_t m_limit;
    const size_t m_limitFiles;
    const int m_scale;
    // Only the writer's thread touches these two once it runs.
    std::deque<Picture> m_pictures;  // oldest first
    uint64_t m_pictureBytes = 0;
    size_t m_waitingBytes = 0;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_jobs;
    uint64_t m_nextFile = 1;
    bool m_stop = false;
    std::thread m_thread;
};

// "576 x 812 dots" and ", cut short" when capped.
std::string ReceiptSize(const receipt::Receipt& receipt);

}  // namespace vorpane
