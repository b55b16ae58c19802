#include "emulator/receipt_files.h"

#include <charconv>
#include <cstdio>
#include <filesystem>

#include "emulator/render/png.h"

namespace vorpane {

struct ReceiptFiles::Job {
    uint64_t session;
    uint64_t number;
    std::string path;
    render::Receipt receipt;
};

std::string ReceiptSize(const render::Receipt& r) {
    return std::to_string(r.paper.Width()) + " x " + std::to_string(r.paper.Height()) + " dots" +
           (r.capped ? ", cut short" : "");
}

ReceiptFiles::ReceiptFiles(std::string dir, Journal& journal, std::function<void()> writerStarts)
    : m_dir(std::move(dir)), m_journal(journal) {
    std::error_code ec;
    std::filesystem::create_directories(m_dir, ec);
    for (const auto& entry : std::filesystem::directory_iterator(m_dir, ec)) {
        const std::string name = entry.path().filename().string();
        uint64_t number = 0;
        const auto [end, err] = std::from_chars(name.data(), name.data() + name.size(), number);
        if (err == std::errc() && std::string_view(end).starts_with("-session-")) {
            m_nextFile = std::max(m_nextFile, number + 1);
        }
    }
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

void ReceiptFiles::Save(uint64_t session, uint64_t number, render::Receipt receipt) {
    char name[64];
    std::unique_lock lock(m_mutex);
    std::snprintf(name, sizeof name, "%06llu-session-%llu.png",
                  static_cast<unsigned long long>(m_nextFile++),
                  static_cast<unsigned long long>(session));
    const std::string path = (std::filesystem::path(m_dir) / name).string();
    const std::string label =
        "session " + std::to_string(session) + " receipt " + std::to_string(number);
    if (m_jobs.size() >= kMaxWaiting) {
        lock.unlock();
        m_journal.Add(label + " not saved: " + path + ": too many receipts waiting");
        m_journal.Flush();
        return;
    }
    m_jobs.push_back({session, number, path, std::move(receipt)});
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
        lock.unlock();
        const std::string error =
            render::WriteFileAtomically(job.path, render::EncodeReceiptPng(job.receipt));
        const std::string label =
            "session " + std::to_string(job.session) + " receipt " + std::to_string(job.number);
        m_journal.Add(error.empty()
                          ? label + ": " + job.path + " (" + ReceiptSize(job.receipt) + ")"
                          : label + " not saved: " + error);
        m_journal.Flush();
        lock.lock();
    }
}

}  // namespace vorpane
