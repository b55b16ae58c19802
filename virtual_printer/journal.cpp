#include "virtual_printer/journal.h"

namespace vorpane {

Journal::Journal(size_t maxLines, Writer writer, Flusher flusher)
    : m_maxLines(maxLines), m_writer(std::move(writer)), m_flusher(std::move(flusher)) {}

void Journal::Add(std::string line) {
    {
        std::lock_guard lock(m_mutex);
        if (m_writer) {
            m_writer(line);
        }
        if (m_maxLines == 0) {
            ++m_first;
        } else {
            m_lines.push_back(std::move(line));
            if (m_lines.size() > m_maxLines) {
                m_lines.pop_front();
                ++m_first;
            }
        }
    }
    m_added.notify_all();
}

void LineBatch::Push(const std::string& line) {
    if (m_count == m_lines.size()) {
        m_lines.emplace_back();
    }
    m_lines[m_count++].assign(line);
}

void LineBatch::Clear() {
    // A flood of lines once should not hold its memory for ever.
    constexpr size_t kKept = 1024;
    if (m_lines.size() > kKept) {
        m_lines.resize(kKept);
        m_lines.shrink_to_fit();
    }
    m_count = 0;
}

void Journal::Add(LineBatch& batch) {
    if (batch.Size() == 0) {
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        for (size_t i = 0; i < batch.Size(); ++i) {
            if (m_writer) {
                m_writer(batch[i]);
            }
            if (m_maxLines == 0) {
                ++m_first;
                continue;
            }
            m_lines.push_back(batch[i]);
            if (m_lines.size() > m_maxLines) {
                m_lines.pop_front();
                ++m_first;
            }
        }
    }
    batch.Clear();
    m_added.notify_all();
}

void Journal::Flush() {
    std::lock_guard lock(m_mutex);
    if (m_flusher) {
        m_flusher();
    }
}

size_t Journal::Count() const {
    std::lock_guard lock(m_mutex);
    return m_first + m_lines.size();
}

std::vector<std::string> Journal::Lines() const {
    std::lock_guard lock(m_mutex);
    return {m_lines.begin(), m_lines.end()};
}

std::optional<size_t> Journal::WaitFor(const Match& match, std::chrono::milliseconds timeout,
                                       size_t from) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock lock(m_mutex);
    size_t next = from;
    for (;;) {
        if (next < m_first) {
            next = m_first;
        }
        for (; next < m_first + m_lines.size(); ++next) {
            if (match(m_lines[next - m_first])) {
                return next;
            }
        }
        if (m_added.wait_until(lock, deadline) == std::cv_status::timeout &&
            next == m_first + m_lines.size()) {
            return std::nullopt;
        }
    }
}

std::optional<size_t> Journal::WaitForLine(std::string_view line, std::chrono::milliseconds timeout,
                                           size_t from) const {
    return WaitFor([line](const std::string& l) { return l == line; }, timeout, from);
}

std::optional<size_t> Journal::WaitForPrefix(std::string_view prefix,
                                             std::chrono::milliseconds timeout, size_t from) const {
    return WaitFor([prefix](const std::string& l) { return l.starts_with(prefix); }, timeout, from);
}

std::optional<std::string> Journal::LineAt(size_t number) const {
    std::lock_guard lock(m_mutex);
    if (number < m_first || number >= m_first + m_lines.size()) {
        return std::nullopt;
    }
    return m_lines[number - m_first];
}

RawJournal::RawJournal(bool keep, Writer writer) : m_keep(keep), m_writer(std::move(writer)) {}

void RawJournal::Add(const uint8_t* data, size_t size) {
    {
        std::lock_guard lock(m_mutex);
        if (m_writer) {
            m_writer(data, size);
        }
        if (m_keep) {
            m_bytes.insert(m_bytes.end(), data, data + size);
        }
        m_size += size;
    }
    m_added.notify_all();
}

std::vector<uint8_t> RawJournal::Bytes() const {
    std::lock_guard lock(m_mutex);
    return m_bytes;
}

size_t RawJournal::Size() const {
    std::lock_guard lock(m_mutex);
    return m_size;
}

bool RawJournal::WaitForSize(size_t size, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return m_added.wait_for(lock, timeout, [&] { return m_size >= size; });
}

}  // namespace vorpane
