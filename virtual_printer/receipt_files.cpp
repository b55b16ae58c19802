#include "virtual_printer/receipt_files.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "platform/directory.h"
#include "platform/whole_file.h"
#include "receipt/png.h"

namespace vorpane {

struct ReceiptFiles::Job {
    uint64_t session;
    uint64_t number;
    uint64_t file;
    std::string path;
    size_t bytes;  // of the raster
    receipt::Receipt receipt;
};

std::string ReceiptSize(const receipt::Receipt& r) {
    return std::to_string(r.paper.Width()) + " x " + std::to_string(r.paper.Height()) + " dots" +
           (r.capped ? ", cut short" : "");
}

ReceiptFiles::ReceiptFiles(std::string dir, Journal& journal, std::function<void()> writerStarts,
                           uint64_t limitBytes, int scale, size_t limitFiles)
    : m_dir(std::move(dir)),
      m_journal(journal),
      m_limit(limitBytes),
      m_limitFiles(std::max<size_t>(limitFiles, 1)),
      m_scale(scale) {
    MakeDirectories(m_dir);
    const DirectoryListing listing = ListDirectory(m_dir);
    for (const DirectoryEntry& entry : listing.entries) {
        const std::string& name = entry.name;
        uint64_t number = 0;
        const auto [end, err] = std::from_chars(name.data(), name.data() + name.size(), number);
        if (err == std::errc() && std::string_view(end).starts_with("-session-")) {
            m_nextFile = std::max(m_nextFile, number + 1);
            const std::string path = JoinPath(m_dir, name);
            const uint64_t bytes = entry.regularFile ? FileDiskBytes(path) : 0;
            if (name.ends_with(".png") && bytes > 0) {
                m_pictures.push_back({number, path, bytes});
                m_pictureBytes += bytes;
            }
        }
    }
    std::sort(m_pictures.begin(), m_pictures.end(),
              [](const Picture& a, const Picture& b) { return a.number < b.number; });
    m_thread = std::thread([this, starts = std::move(writerStarts)] {
        if (starts) {
            starts();
        }
        Run();
    });
}

ReceiptFiles::~ReceiptFiles() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void ReceiptFiles::Save(uint64_t session, uint64_t number, receipt::Receipt receipt) {
    char name[64];
    std::unique_lock lock(m_mutex);
    std::snprintf(name, sizeof name, "%06llu-session-%llu.png",
                  static_cast<unsigned long long>(m_nextFile++),
                  static_cast<unsigned long long>(session));
    const uint64_t file = m_nextFile - 1;
    const std::string path = JoinPath(m_dir, name);
    const std::string label =
        "session " + std::to_string(session) + " receipt " + std::to_string(number);
    const size_t bytes = static_cast<size_t>(receipt.paper.BytesPerRow()) *
                         static_cast<size_t>(receipt.paper.Height());
    if (m_jobs.size() >= kMaxWaiting || m_waitingBytes + bytes > kMaxWaitingBytes) {
        lock.unlock();
        m_journal.Add(label + " not saved: " + path + ": too many receipts waiting");
        m_journal.Flush();
        return;
    }
    m_waitingBytes += bytes;
    m_jobs.push_back({session, number, file, path, bytes, std::move(receipt)});
    lock.unlock();
    m_wake.notify_one();
}

void ReceiptFiles::Run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || !m_jobs.empty(); });
        if (m_jobs.empty()) {
            return;
        }
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        m_waitingBytes -= job.bytes;
        lock.unlock();
        const std::vector<uint8_t> png = receipt::EncodeReceiptPng(job.receipt, m_scale);
        const std::string error = receipt::WriteFileAtomically(job.path, png);
        const std::string label =
            "session " + std::to_string(job.session) + " receipt " + std::to_string(job.number);
        m_journal.Add(error.empty()
                          ? label + ": " + job.path + " (" + ReceiptSize(job.receipt) + ")"
                          : label + " not saved: " + error);
        if (error.empty()) {
            // The disk's blocks, not the picture's bytes: a small picture
            // takes a whole block or more.
            const uint64_t disk = std::max<uint64_t>(FileDiskBytes(job.path), png.size());
            m_pictures.push_back({job.file, job.path, disk});
            m_pictureBytes += disk;
            Trim();
        }
        m_journal.Flush();
        lock.lock();
    }
}

void ReceiptFiles::Trim() {
    size_t removed = 0;
    std::string first;
    std::string last;
    const bool files = m_pictures.size() > m_limitFiles;
    while ((m_pictureBytes > m_limit || m_pictures.size() > m_limitFiles) &&
           m_pictures.size() > 1) {
        Picture& oldest = m_pictures.front();
        RemoveFile(oldest.path);
        (removed++ == 0 ? first : last) = oldest.path;
        m_pictureBytes -= oldest.bytes;
        m_pictures.pop_front();
    }
    if (removed == 0) {
        return;
    }
    const std::string over = "render folder over " +
                             (files ? std::to_string(m_limitFiles) + " pictures"
                                    : std::to_string(m_limit >> 20) + " MiB") +
                             ": removed ";
    m_journal.Add(removed == 1
                      ? over + first
                      : over + std::to_string(removed) + " pictures, " + first + " to " + last);
}

std::string ReceiptFiles::CheckFolder(const std::string& dir) {
    if (const int error = MakeDirectories(dir); error != 0) {
        return dir + ": cannot make the folder: " + FileErrorText(error);
    }
    if (!IsDirectory(dir)) {
        return dir + ": not a folder";
    }
    const std::string probe = JoinPath(dir, ".vorpane-write-check");
    RemoveFile(probe);  // one left by a run that was killed
    const uint8_t byte = 0;
    const NewFile made = WriteNewFile(probe, &byte, 1);
    if (made.status != NewFileStatus::kWritten) {
        return dir + ": cannot write in the folder: " +
               (made.status == NewFileStatus::kExists ? std::string("a file is in the way")
                                                      : FileErrorText(made.error));
    }
    RemoveFile(probe);
    return {};
}

}  // namespace vorpane
