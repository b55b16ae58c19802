#pragma once
// Thread-safe journal of the virtual printer: one line per item, numbered
// from 0 in the order they were added. Tests wait for a line with a deadline
// instead of sleeping.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorpane {

// Lines gathered on one thread, then added at once: one lock for many lines,
// and strings whose room serves again.
class LineBatch {
public:
    void Push(const std::string& line);
    size_t Size() const { return m_count; }
    const std::string& operator[](size_t i) const { return m_lines[i]; }
    void Clear();

private:
    std::vector<std::string> m_lines;
    size_t m_count = 0;
};

class Journal {
public:
    // Called for every line, in order, under the journal's lock; it must not
    // call back into the journal.
    using Writer = std::function<void(const std::string& line)>;
    // With a flusher, the writer may buffer lines until Flush().
    using Flusher = std::function<void()>;
    using Match = std::function<bool(const std::string& line)>;

    // Keeps at most maxLines lines in memory (the oldest go first).
    explicit Journal(size_t maxLines = 100000, Writer writer = nullptr, Flusher flusher = nullptr);

    void Add(std::string line);
    // Adds the batch's lines in order and empties it.
    void Add(LineBatch& batch);
    void Flush();
    // Number of lines ever added; the next line gets this number.
    size_t Count() const;
    std::vector<std::string> Lines() const;

    // Waits until a line numbered `from` or later matches; returns its number,
    // or nothing when the time-out passed first (or it was dropped already).
    std::optional<size_t> WaitFor(const Match& match, std::chrono::milliseconds timeout,
                                  size_t from = 0) const;
    std::optional<size_t> WaitForLine(std::string_view line, std::chrono::milliseconds timeout,
                                      size_t from = 0) const;
    std::optional<size_t> WaitForPrefix(std::string_view prefix, std::chrono::milliseconds timeout,
                                        size_t from = 0) const;
    // The line with that number when still kept.
    std::optional<std::string> LineAt(size_t number) const;

private:
    const size_t m_maxLines;
    const Writer m_writer;
    const Flusher m_flusher;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_added;
    std::deque<std::string> m_lines;
    size_t m_first = 0;  // number of m_lines.front()
};

// Raw bytes as received, for tests that compare byte for byte.
class RawJournal {
public:
    using Writer = std::function<void(const uint8_t* data, size_t size)>;

    explicit RawJournal(bool keep, Writer writer = nullptr);
    void Add(const uint8_t* data, size_t size);
    std::vector<uint8_t> Bytes() const;
    size_t Size() const;
    bool WaitForSize(size_t size, std::chrono::milliseconds timeout) const;

private:
    const bool m_keep;
    const Writer m_writer;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_added;
    std::vector<uint8_t> m_bytes;
    size_t m_size = 0;
};

}  // namespace vorpane
