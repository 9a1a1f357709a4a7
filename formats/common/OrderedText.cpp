#include "common/OrderedText.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "common/PluginSupport.h"

namespace polyvant::formats {

namespace {

// Items a piece when one thread formats them all.
constexpr std::uint64_t kAlonePiece = 1024;

void FormatInto(std::string& text, std::uint64_t first, std::uint64_t last,
                const FormatItems& format)
{
    text.clear();
    TextWriter writer(text);
    format(first, last, writer);
    writer.Flush();
}

// The odd chunks, formatted by a helper thread into two slots that this thread empties
// in order: the helper stays one chunk ahead while this one formats and writes.
class OddChunks {
public:
    OddChunks(std::uint64_t count, std::uint64_t chunk, const FormatItems& format)
        : m_count(count), m_chunk(chunk), m_format(format)
    {
        m_thread = std::thread([this] { Run(); });
    }
    ~OddChunks()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }
    OddChunks(const OddChunks&) = delete;
    OddChunks& operator=(const OddChunks&) = delete;

    // Waits for chunk k (odd), hands its text to use, and frees its slot again.
    template <typename Use>
    void Take(std::uint64_t k, Use&& use)
    {
        Slot& slot = m_slots[(k / 2) % 2];
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [&] { return slot.ready || m_failure; });
            if (m_failure)
                std::rethrow_exception(m_failure);
        }
        use(slot.text);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            slot.ready = false;
        }
        m_changed.notify_all();
    }

private:
    struct Slot {
        std::string text;
        bool ready = false;
    };

    void Run()
    {
        for (std::uint64_t k = 1; k * m_chunk < m_count; k += 2) {
            Slot& slot = m_slots[(k / 2) % 2];
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_changed.wait(lock, [&] { return !slot.ready || m_stop; });
                if (m_stop)
                    return;
            }
            std::exception_ptr failure;
            try {
                FormatInto(slot.text, k * m_chunk, std::min(m_count, (k + 1) * m_chunk), m_format);
            } catch (...) {
                failure = std::current_exception();
            }
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                slot.ready = !failure;
                m_failure = failure;
            }
            m_changed.notify_all();
            if (failure)
                return;
        }
    }

    const std::uint64_t m_count;
    const std::uint64_t m_chunk;
    const FormatItems& m_format;
    Slot m_slots[2];
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_stop = false;
    std::exception_ptr m_failure;
    std::thread m_thread;
};

} // namespace

void FormatInOrder(std::uint64_t count, const FormatItems& format, const EmitText& emit,
                   std::uint64_t chunk)
{
    chunk = std::max<std::uint64_t>(chunk, 1);
    std::unique_ptr<OddChunks> helper;
    if (count > 2 * chunk && UsableCores() > 1) {
        try {
            helper = std::make_unique<OddChunks>(count, chunk, format);
        } catch (const std::system_error&) {
            // No thread to be had: this one formats every chunk.
        }
    }
    // Alone, this thread formats small pieces: the text is written at once, and a piece
    // that fits the caches is not paid for in fresh pages (a small file's worker would
    // touch its whole text twice).
    if (!helper)
        chunk = std::min<std::uint64_t>(chunk, kAlonePiece);
    std::string here;
    for (std::uint64_t k = 0; k * chunk < count; ++k) {
        const std::uint64_t last = std::min(count, (k + 1) * chunk);
        if (helper && k % 2 == 1) {
            helper->Take(k, [&](const std::string& text) { emit(text, last); });
        } else {
            FormatInto(here, k * chunk, last, format);
            emit(here, last);
        }
    }
}

} // namespace polyvant::formats
